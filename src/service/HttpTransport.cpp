#include "service/HttpTransport.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <curl/curl.h>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau {
namespace {

constexpr const char* kUserAgent = "Borland SOAP 1.2";

void InitCurlOnce() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!ok) {
    throw TransportError("Não foi possível iniciar o cliente HTTP");
  }
}

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) {
    throw TransportError("Sem memória para o pedido HTTP");
  }
  (void)list.release();
  list.reset(grown);
}

using SteadyClock = std::chrono::steady_clock;

// State of one request, seen by the callbacks.
struct Exchange {
  const std::string* body = nullptr;
  std::size_t sent = 0;
  std::string received;
  std::size_t cap = 0;
  std::string statusText;
  const std::function<void(Traffic)>* hook = nullptr;
  const DownloadProgress* progress = nullptr;
  std::int64_t announced = -1;
  std::chrono::milliseconds timeout{};
  SteadyClock::time_point lastActivity = SteadyClock::now();
  curl_off_t lastUp = 0, lastDown = 0;
  bool timedOut = false, overCap = false;
  std::exception_ptr hookError;

  bool Notify(Traffic t) {
    if (*hook) {
      try {
        (*hook)(t);
      } catch (...) {
        hookError = std::current_exception();
        return false;
      }
    }
    return true;
  }
};

size_t ReadPiece(char* buffer, size_t size, size_t count, void* user) {
  auto& x = *static_cast<Exchange*>(user);
  const std::size_t n =
      std::min({size * count, HttpTransport::kPieceSize, x.body->size() - x.sent});
  if (n == 0) {
    return 0;
  }
  std::copy_n(x.body->data() + x.sent, n, buffer);
  x.sent += n;
  return x.Notify(Traffic::Sent) ? n : CURL_READFUNC_ABORT;
}

int SeekBody(void* user, curl_off_t offset, int origin) {
  auto& x = *static_cast<Exchange*>(user);
  if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > x.body->size()) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  x.sent = static_cast<std::size_t>(offset);
  return CURL_SEEKFUNC_OK;
}

size_t WritePiece(char* data, size_t size, size_t count, void* user) {
  auto& x = *static_cast<Exchange*>(user);
  const std::size_t n = size * count;
  if (n > x.cap - x.received.size()) {
    x.overCap = true;
    return 0;
  }
  x.received.append(data, n);
  if (!x.Notify(Traffic::Received)) {
    return 0;
  }
  if (x.progress && *x.progress) {
    try {
      (*x.progress)(static_cast<std::int64_t>(x.received.size()),
                    std::max<std::int64_t>(x.announced, 0));
    } catch (...) {
      x.hookError = std::current_exception();
      return 0;
    }
  }
  return n;
}

// The value of a "Content-Length:" header line; -1 when the line is another.
std::int64_t ContentLength(std::string_view line) {
  constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) {
    return -1;
  }
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const char c = line[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kName[i]) {
      return -1;
    }
  }
  std::int64_t value = -1;
  for (char c : line.substr(kName.size())) {
    if (c >= '0' && c <= '9') {
      if (value > (std::int64_t{1} << 56)) {
        return -1;
      }
      value = (value < 0 ? 0 : value * 10) + (c - '0');
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      return -1;
    }
  }
  return value;
}

// Keeps the reason phrase of the last status line ("HTTP/1.1 404 Not Found").
size_t HeaderLine(char* data, size_t size, size_t count, void* user) {
  auto& x = *static_cast<Exchange*>(user);
  std::string_view line(data, size * count);
  if (const std::int64_t length = ContentLength(line); length >= 0) {
    x.announced = length;
  }
  if (line.starts_with("HTTP/")) {
    x.statusText.clear();
    x.announced = -1;
    auto sp = line.find(' ');
    if (sp != std::string_view::npos) {
      sp = line.find(' ', sp + 1);
    }
    if (sp != std::string_view::npos) {
      auto reason = line.substr(sp + 1);
      while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) {
        reason.remove_suffix(1);
      }
      x.statusText = text::ReduceToCp1252(reason);
    }
  }
  return size * count;
}

// Fails the request when no byte went either way for longer than the
// receive time-out.
int Progress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto& x = *static_cast<Exchange*>(user);
  const auto now = SteadyClock::now();
  if (dlnow != x.lastDown || ulnow != x.lastUp) {
    x.lastDown = dlnow;
    x.lastUp = ulnow;
    x.lastActivity = now;
    return 0;
  }
  if (now - x.lastActivity > x.timeout) {
    x.timedOut = true;
    return 1;
  }
  return 0;
}

bool IsCertificateError(CURLcode rc) {
  return rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE ||
         rc == CURLE_SSL_ISSUER_ERROR || rc == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

void ApplyProxy(CURL* h, const ProxySettings& p) {
  switch (p.mode) {
    case ProxySettings::Mode::System:
      break;  // libcurl reads the proxy variables of the environment
    case ProxySettings::Mode::None:
      curl_easy_setopt(h, CURLOPT_PROXY, "");
      break;
    case ProxySettings::Mode::Explicit:
      curl_easy_setopt(h, CURLOPT_PROXY, p.address.c_str());
      curl_easy_setopt(h, CURLOPT_NOPROXY, "");
      if (!p.user.empty() || !p.password.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, p.user.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, p.password.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
      }
      break;
  }
}

// The message of a failed transfer, after the checks every request shares.
[[noreturn]] void ThrowFailure(CURLcode rc, const char* errorText, const std::string& where) {
  std::string system = curl_easy_strerror(rc);
  if (errorText[0] != '\0') {
    system += " (" + std::string(errorText) + ")";
  }
  system = text::ReduceToCp1252(system);
  if (IsCertificateError(rc)) {
    throw TransportError("Certificado do servidor não verificado: " + system + where);
  }
  throw TransportError("Falha na conexão com o servidor: " + system + where);
}

// What every request of this transport sets, whatever its method.
void SetRequestOptions(CURL* h, const std::string& url, curl_slist* headers, char* errorText) {
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
}

std::string TimeoutText(std::chrono::milliseconds timeout) {
  const auto ms = timeout.count();
  return "Tempo esgotado: nenhum dado do servidor em " +
         (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
}

}  // namespace

struct HttpTransport::Impl {
  std::unique_ptr<CURL, EasyDeleter> curl;
  ProxySettings proxy;
  std::chrono::milliseconds timeout = kReceiveTimeout;
  std::size_t cap = kDefaultResponseCap;
  std::function<void(Traffic)> hook;
};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {
  InitCurlOnce();
  impl_->curl.reset(curl_easy_init());
  if (!impl_->curl) {
    throw TransportError("Não foi possível iniciar o cliente HTTP");
  }
}

HttpTransport::~HttpTransport() = default;

void HttpTransport::SetProxy(ProxySettings proxy) {
  impl_->proxy = std::move(proxy);
}
void HttpTransport::SetReceiveTimeout(std::chrono::milliseconds timeout) {
  impl_->timeout = timeout;
}
void HttpTransport::SetResponseCap(std::size_t bytes) {
  impl_->cap = bytes;
}
void HttpTransport::SetTrafficHook(std::function<void(Traffic)> hook) {
  impl_->hook = std::move(hook);
}

SoapHttpResponse HttpTransport::Post(const std::string& address, const std::string& soapAction,
                                     const std::string& body) {
  CURL* h = impl_->curl.get();
  // Reset keeps the open connections, so consecutive calls reuse them.
  curl_easy_reset(h);

  Exchange x;
  x.body = &body;
  x.cap = impl_->cap;
  x.hook = &impl_->hook;
  x.timeout = impl_->timeout;

  Slist headers;
  Append(headers, "SOAPAction: \"" + soapAction + "\"");
  Append(headers, "Content-Type: text/xml; charset=\"utf-8\"");
  Append(headers, "Connection: Keep-Alive");
  Append(headers, "Cache-Control: no-cache");
  Append(headers, "Pragma: no-cache");
  Append(headers, "Expect:");

  char errorText[CURL_ERROR_SIZE] = {};
  SetRequestOptions(h, address, headers.get(), errorText);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  if (body.size() <= kPieceSize) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  } else {
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kPieceSize));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadPiece);
    curl_easy_setopt(h, CURLOPT_READDATA, &x);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &x);
  }
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WritePiece);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &x);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, HeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &x);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);

  ApplyProxy(h, impl_->proxy);

  const CURLcode rc = curl_easy_perform(h);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  if (x.hookError) {
    std::rethrow_exception(x.hookError);
  }
  const std::string where = " - endereço: " + address + ", SOAPAction: \"" + soapAction + "\"";
  if (x.timedOut) {
    throw TransportError(TimeoutText(impl_->timeout) + where);
  }
  if (x.overCap) {
    throw TransportError("Resposta do servidor maior que o limite de " +
                         std::to_string(impl_->cap) + " bytes" + where);
  }
  if (rc != CURLE_OK) {
    ThrowFailure(rc, errorText, where);
  }

  SoapHttpResponse response;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  response.statusText = std::move(x.statusText);
  if (response.status >= 300 && response.status != 500) {
    throw TransportError("Erro HTTP " + std::to_string(response.status) + " " +
                         response.statusText + " - endereço: " + address);
  }
  response.body = std::move(x.received);
  return response;
}

HttpGetResponse HttpTransport::Get(const std::string& address, const DownloadProgress& progress) {
  // Blanks, as in the version text of a debug build, go out as a browser
  // sends them; libcurl refuses an address that holds one.
  std::string url;
  for (char c : address) {
    url += c == ' ' ? std::string("%20") : std::string(1, c);
  }
  CURL* h = impl_->curl.get();
  curl_easy_reset(h);

  Exchange x;
  x.cap = impl_->cap;
  x.hook = &impl_->hook;
  x.progress = &progress;
  x.timeout = impl_->timeout;

  Slist headers;
  Append(headers, "Connection: Keep-Alive");
  Append(headers, "Cache-Control: no-cache");
  Append(headers, "Pragma: no-cache");

  char errorText[CURL_ERROR_SIZE] = {};
  SetRequestOptions(h, url, headers.get(), errorText);
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WritePiece);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &x);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, HeaderLine);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &x);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);
  ApplyProxy(h, impl_->proxy);

  const CURLcode rc = curl_easy_perform(h);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  if (x.hookError) {
    std::rethrow_exception(x.hookError);
  }
  const std::string where = " - endereço: " + address;
  if (x.timedOut) {
    throw TransportError(TimeoutText(impl_->timeout) + where);
  }
  if (x.overCap) {
    throw TransportError("Resposta do servidor maior que o limite de " +
                         std::to_string(impl_->cap) + " bytes" + where);
  }
  HttpGetResponse response;
  if (rc == CURLE_PARTIAL_FILE) {
    response.truncated = true;
  } else if (rc != CURLE_OK) {
    ThrowFailure(rc, errorText, where);
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  response.statusText = std::move(x.statusText);
  if (response.status >= 300) {
    throw TransportError("Erro HTTP " + std::to_string(response.status) + " " +
                         response.statusText + where);
  }
  response.announced = x.announced;
  response.truncated =
      response.truncated ||
      (x.announced >= 0 && static_cast<std::int64_t>(x.received.size()) < x.announced);
  response.body = std::move(x.received);
  return response;
}

void HttpTransport::Disconnect() {
  CURL* fresh = curl_easy_init();
  if (!fresh) {
    throw TransportError("Não foi possível iniciar o cliente HTTP");
  }
  impl_->curl.reset(fresh);  // the old handle takes its connections with it
}

std::string NextTrafficCaption(std::string_view caption) {
  if (text::CharCount(caption) > 3) {
    return {};
  }
  return std::string(caption) + "*";
}

}  // namespace cau

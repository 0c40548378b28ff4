// The HTTP side of the service calls: one POST per call, over libcurl.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cau {

// What came back for a request that the transport did not reject itself.
struct SoapHttpResponse {
  long status = 0;         // 2xx or 500 (a status of 300 or more other than 500 throws)
  std::string statusText;  // the reason phrase, e.g. "Internal Server Error"
  std::string body;
};

// Sends one SOAP request; the binding talks to the service through this.
class SoapTransport {
 public:
  virtual ~SoapTransport() = default;
  // POSTs `body` to `address` with `soapAction` (the operation name). Throws
  // TransportError for a connection failure, a time-out, an oversized answer
  // or a status of 300 or more other than 500.
  virtual SoapHttpResponse Post(const std::string& address, const std::string& soapAction,
                                const std::string& body) = 0;
};

enum class Traffic { Sent, Received };

// What a GET brought back (a status of 300 or more throws).
struct HttpGetResponse {
  long status = 0;
  std::string statusText;
  std::string body;
  std::int64_t announced = -1;  // the Content-Length the response gave; -1 when none
  bool truncated = false;       // the connection closed before the announced length
};

// Bytes of the body received so far and the announced total (0 when none).
using DownloadProgress = std::function<void(std::int64_t received, std::int64_t total)>;

// Proxy choice of the transport.
struct ProxySettings {
  enum class Mode {
    System,    // the system's settings (http_proxy, https_proxy, no_proxy, ...)
    None,      // straight to the server, whatever the system says
    Explicit,  // through `address`, no bypass list, with the credentials below
  };
  Mode mode = Mode::System;
  std::string address;  // "host:port" or "http://host:port"
  std::string user;
  std::string password;
};

// One connection kept open between calls; used by one thread at a time.
class HttpTransport final : public SoapTransport {
 public:
  static constexpr std::size_t kPieceSize = 32768;
  static constexpr std::chrono::milliseconds kReceiveTimeout{120000};
  static constexpr std::size_t kDefaultResponseCap = std::size_t{256} << 20;

  HttpTransport();
  ~HttpTransport() override;
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  void SetProxy(ProxySettings proxy);
  // A request that waits longer than this for data fails (120 s unless set).
  void SetReceiveTimeout(std::chrono::milliseconds timeout);
  // An answer longer than this fails instead of filling memory.
  void SetResponseCap(std::size_t bytes);
  // Called after each piece of a request sent in pieces (bodies over
  // kPieceSize) and after each piece of an answer received.
  void SetTrafficHook(std::function<void(Traffic)> hook);

  SoapHttpResponse Post(const std::string& address, const std::string& soapAction,
                        const std::string& body) override;

  // GETs `address` into memory with "Pragma: no-cache", calling `progress`
  // after each piece of the body. Throws TransportError for a connection
  // failure, a time-out, an oversized answer or a status of 300 or more; a
  // body cut short of its announced length comes back marked `truncated`.
  // Blanks in `address` are sent as "%20".
  HttpGetResponse Get(const std::string& address, const DownloadProgress& progress = {});
  // Closes the open connection; the next request connects anew.
  void Disconnect();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The traffic indicator's next caption: empty when the caption is longer
// than 3 characters, else the caption with one more "*".
std::string NextTrafficCaption(std::string_view caption);

}  // namespace cau

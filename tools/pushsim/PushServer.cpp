#include "PushServer.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "SoapXml.h"

namespace pushsim {
namespace {

constexpr const char* kXmlType = "text/xml; charset=utf-8";

std::string StatusPage(int status) {
  const std::string code = std::to_string(status);
  return "<html><head><title>" + code + "</title></head><body><h1>HTTP " + code +
         "</h1></body></html>\n";
}

std::string Describe(const FaultRule& f) {
  std::ostringstream out;
  if (f.fault)
    out << "fault ";
  if (f.status)
    out << "status=" << *f.status << ' ';
  if (f.delayMs > 0)
    out << "delay=" << f.delayMs << ' ';
  if (f.close)
    out << "close ";
  if (f.malformed)
    out << "malformed ";
  if (f.truncated)
    out << "truncated ";
  if (!f.items.empty())
    out << "items=" << f.items << ' ';
  if (f.oversize)
    out << "oversize=" << *f.oversize << ' ';
  std::string text = out.str();
  if (!text.empty()) {
    text.pop_back();
  }
  return text;
}

std::optional<std::string> ReadWhole(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

// Points the description's service address at this server, as a deployed service does;
// the rest of the file goes out byte for byte.
std::string WithOwnAddress(const std::string& wsdl, const std::string& address) {
  static const std::regex location(
      R"((<(?:[A-Za-z_][\w.-]*:)?address\b[^>]*?\blocation\s*=\s*")[^"]*")");
  return std::regex_replace(wsdl, location, "$1" + address + "\"");
}

}  // namespace

PushServer::PushServer(PushModel& model, FaultPlan& faults, RequestLog& log, ServerOptions options)
    : model_(model), faults_(faults), log_(log), options_(std::move(options)) {
  server_.set_payload_max_length(64u << 20);
  server_.set_keep_alive_max_count(100);
  // An answer goes out as two writes (head, then body); with Nagle's delay the
  // body would wait for the client's delayed acknowledgement, 40 ms a call.
  server_.set_tcp_nodelay(true);
  Routes();
}

int PushServer::Bind() {
  if (options_.port == 0) {
    port_ = server_.bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_.bind_to_port("127.0.0.1", options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1 port " + std::to_string(options_.port));
  }
  return port_;
}

bool PushServer::Run() {
  return server_.listen_after_bind();
}

void PushServer::Stop() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  server_.stop();
}

void PushServer::Sleep(int milliseconds) {
  std::unique_lock lock(stopMutex_);
  stopSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

std::string PushServer::OwnAddress(const httplib::Request& req) const {
  const std::string host = req.get_header_value("Host");
  return "http://" + (host.empty() ? "127.0.0.1:" + std::to_string(port_) : host);
}

void PushServer::Routes() {
  server_.Post(kServicePath, [this](const httplib::Request& req, httplib::Response& res) {
    HandleSoap(req, res);
  });
  server_.Get(kServicePath, [this](const httplib::Request& req, httplib::Response& res) {
    HandleWsdl(req, res);
  });
  server_.Get("/checaversao.php", [this](const httplib::Request& req, httplib::Response& res) {
    HandleUpdateCheck(req, res);
  });
  server_.Get(R"(/downloads/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
    HandleDownload(req, res);
  });
  const auto unknown = [this](const httplib::Request& req, httplib::Response& res) {
    log_.Write({{"op", nullptr}, {"method", req.method}, {"path", req.path}});
    res.status = 404;
    res.set_content(StatusPage(404), "text/html");
  };
  server_.Get(".*", unknown);
  server_.Post(".*", unknown);
}

bool PushServer::Reject(const std::optional<FaultRule>& fault, httplib::Response& res) {
  if (!fault) {
    return false;
  }
  if (fault->delayMs > 0) {
    Sleep(fault->delayMs);
  }
  if (fault->fault) {
    res.status = 500;
    res.set_content(soap::FaultBody(fault->faultcode, *fault->fault, fault->detail), kXmlType);
    return true;
  }
  if (fault->status) {
    res.status = *fault->status;
    res.set_content(StatusPage(*fault->status), "text/html");
    return true;
  }
  return false;
}

void PushServer::Answer(const std::optional<FaultRule>& fault, std::string body,
                        const char* contentType, httplib::Response& res) {
  if (fault && fault->oversize) {
    // Streams a response that starts like an answer and goes on past any sane size.
    const auto total = static_cast<std::size_t>(*fault->oversize);
    const auto result = body.find("Return>");
    auto head = std::make_shared<std::string>(
        result == std::string::npos ? body : body.substr(0, result + 7));
    res.set_chunked_content_provider(
        contentType, [head, total](std::size_t offset, httplib::DataSink& sink) {
          if (offset >= total) {
            sink.done();
            return true;
          }
          std::string piece;
          if (offset < head->size()) {
            piece = head->substr(offset, total - offset);
          } else {
            piece.assign(std::min<std::size_t>(64 * 1024, total - offset), 'x');
          }
          return sink.write(piece.data(), piece.size());
        });
    return;
  }
  if (fault && fault->malformed) {
    body = "<?xml version=\"1.0\"?><soapenv:Envelope <<< isto não é XML &&& </Body>";
  } else if (fault && fault->truncated) {
    body.resize(body.size() / 2);
  }
  if (fault && fault->close) {
    // Announces the whole length, sends half of it and drops the connection.
    auto whole = std::make_shared<std::string>(std::move(body));
    res.set_content_provider(whole->size(), contentType,
                             [whole](std::size_t, std::size_t, httplib::DataSink& sink) {
                               sink.write(whole->data(), whole->size() / 2);
                               return false;
                             });
    return;
  }
  res.set_content(body, contentType);
}

void PushServer::HandleSoap(const httplib::Request& req, httplib::Response& res) {
  nlohmann::json entry = {{"method", "POST"},
                          {"path", req.path},
                          {"soapAction", req.get_header_value("SOAPAction")},
                          {"contentType", req.get_header_value("Content-Type")},
                          {"userAgent", req.get_header_value("User-Agent")},
                          {"bytes", req.body.size()}};
  pugi::xml_document doc;
  pugi::xml_node operation;
  std::string name;
  try {
    operation = soap::ParseRequest(doc, req.body);
    name = std::string(soap::LocalName(operation));
    entry["op"] = name;
    entry["args"] = soap::ArgsToJson(operation);
    nlohmann::json params = nlohmann::json::array();
    for (pugi::xml_node child : soap::Items(operation)) {
      params.push_back(std::string(soap::LocalName(child)));
    }
    entry["params"] = params;  // names in wire order
  } catch (const soap::RequestError& e) {
    entry["op"] = nullptr;
    entry["error"] = e.what();
    log_.Write(entry);
    res.status = 500;
    res.set_content(soap::FaultBody("Client", e.what()), kXmlType);
    return;
  }
  const std::optional<FaultRule> fault = faults_.Next(name);
  if (fault) {
    entry["injected"] = Describe(*fault);
  }
  log_.Write(entry);
  if (Reject(fault, res)) {
    return;
  }
  // The damage of a fault spoils whatever the call answers, a SOAP fault included.
  std::string body;
  try {
    body = model_.Call(name, operation, soap::WriteOptions{fault ? fault->items : std::string{}});
  } catch (const ServiceFault& e) {
    res.status = 500;
    body = soap::FaultBody(e.faultcode(), e.what());
  } catch (const soap::RequestError& e) {
    res.status = 500;
    body = soap::FaultBody("Client", e.what());
  }
  Answer(fault, std::move(body), kXmlType, res);
}

void PushServer::HandleWsdl(const httplib::Request& req, httplib::Response& res) {
  const bool wanted = req.has_param("wsdl") || req.has_param("WSDL");
  log_.Write({{"op", wanted ? "wsdl" : nullptr}, {"method", "GET"}, {"path", req.path}});
  const std::optional<std::string> wsdl =
      wanted && options_.wsdl ? ReadWhole(*options_.wsdl) : std::nullopt;
  if (!wanted) {
    res.status = 405;
    res.set_content(StatusPage(405), "text/html");
    return;
  }
  if (!wsdl) {
    res.status = 404;
    res.set_content(StatusPage(404), "text/html");
    return;
  }
  res.set_content(WithOwnAddress(*wsdl, OwnAddress(req) + kServicePath), kXmlType);
}

void PushServer::HandleUpdateCheck(const httplib::Request& req, httplib::Response& res) {
  const std::string versao = req.get_param_value("versao");
  log_.Write({{"op", "checaversao"},
              {"method", "GET"},
              {"path", req.path},
              {"args", {{"origem", req.get_param_value("origem")}, {"versao", versao}}}});
  const std::optional<FaultRule> fault = faults_.Next("checaversao");
  if (Reject(fault, res)) {
    return;
  }
  Answer(fault, model_.UpdateAnswer(versao, OwnAddress(req) + "/downloads/"), "text/html", res);
}

void PushServer::HandleDownload(const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.matches[1];
  log_.Write(
      {{"op", "download"}, {"method", "GET"}, {"path", req.path}, {"args", {{"file", name}}}});
  const std::optional<FaultRule> fault = faults_.Next("download");
  if (Reject(fault, res)) {
    return;
  }
  const std::optional<std::filesystem::path> folder = options_.downloads ? options_.downloads
                                                      : model_.Update().folder.empty()
                                                          ? std::nullopt
                                                          : std::optional(model_.Update().folder);
  std::optional<std::string> data;
  if (folder && name != "." && name != "..") {
    data = ReadWhole(*folder / name);
  }
  if (!data) {
    res.status = 404;
    res.set_content(StatusPage(404), "text/html");
    return;
  }
  Answer(fault, std::move(*data), "application/octet-stream", res);
}

}  // namespace pushsim

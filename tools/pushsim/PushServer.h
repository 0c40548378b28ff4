// The HTTP side of pushsim: the SOAP endpoint, its description, the update
// check and the downloads, with the injected faults.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <httplib.h>

#include "Faults.h"
#include "PushModel.h"
#include "RequestLog.h"

namespace pushsim {

inline constexpr const char* kServicePath = "/PushServer/services/PushService";

struct ServerOptions {
  int port = 0;
  std::optional<std::filesystem::path> wsdl;       // served at "?wsdl"; none: 404
  std::optional<std::filesystem::path> downloads;  // folder of "/downloads/NAME"
};

class PushServer {
 public:
  PushServer(PushModel& model, FaultPlan& faults, RequestLog& log, ServerOptions options);

  // Binds 127.0.0.1 and returns the port. Throws std::runtime_error when it cannot.
  int Bind();
  // Serves until Stop; returns false when the server failed.
  bool Run();
  // Safe from any thread; ends delays under way.
  void Stop();

 private:
  void Routes();
  void HandleSoap(const httplib::Request& req, httplib::Response& res);
  void HandleWsdl(const httplib::Request& req, httplib::Response& res);
  void HandleUpdateCheck(const httplib::Request& req, httplib::Response& res);
  void HandleDownload(const httplib::Request& req, httplib::Response& res);
  // Applies a rejection (delay first); true when the answer is already made.
  bool Reject(const std::optional<FaultSpec>& fault, httplib::Response& res);
  void Answer(const std::optional<FaultSpec>& fault, std::string body, const char* contentType,
              httplib::Response& res);
  void Sleep(int milliseconds);
  std::string OwnAddress(const httplib::Request& req) const;

  PushModel& model_;
  FaultPlan& faults_;
  RequestLog& log_;
  ServerOptions options_;
  httplib::Server server_;
  int port_ = 0;
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
};

}  // namespace pushsim

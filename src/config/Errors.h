// The program's one error hierarchy: every failure of the service, of files
// and of conversions is one of these, carrying the message the user sees.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace cau {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that could not be read, written or understood; names the file.
class FileError : public Error {
 public:
  FileError(std::string path, const std::string& message)
      : Error(message), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The connection to the service failed (refused, time-out, HTTP status).
class TransportError : public Error {
 public:
  using Error::Error;
};

// The service answered with a SOAP Fault; the message is its faultstring.
class SoapFault : public Error {
 public:
  SoapFault(const std::string& faultstring, std::string faultcode, std::string faultactor,
            std::string detail)
      : Error(faultstring),
        faultcode_(std::move(faultcode)),
        faultactor_(std::move(faultactor)),
        detail_(std::move(detail)) {}
  const std::string& faultcode() const { return faultcode_; }
  const std::string& faultactor() const { return faultactor_; }
  const std::string& detail() const { return detail_; }

 private:
  std::string faultcode_, faultactor_, detail_;
};

// The service answered something that is not a valid response.
class BadResponse : public Error {
 public:
  using Error::Error;
};

}  // namespace cau

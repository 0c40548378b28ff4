// One JSON line per request received, for tests to read.
#pragma once

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

namespace pushsim {

class RequestLog {
 public:
  // Appends to file; without a file nothing is written.
  explicit RequestLog(const std::optional<std::filesystem::path>& file);

  // Adds "seq" and "time" to entry and writes it as one flushed line.
  void Write(nlohmann::json entry);

 private:
  std::mutex mutex_;
  std::ofstream out_;
  long long seq_ = 0;
};

}  // namespace pushsim

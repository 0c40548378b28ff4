#include "RequestLog.h"

#include <chrono>
#include <stdexcept>

namespace pushsim {

RequestLog::RequestLog(const std::optional<std::filesystem::path>& file) {
  if (!file) {
    return;
  }
  out_.open(*file, std::ios::binary | std::ios::app);
  if (!out_) {
    throw std::runtime_error(file->string() + ": cannot be opened for writing");
  }
}

void RequestLog::Write(nlohmann::json entry) {
  std::lock_guard lock(mutex_);
  if (!out_.is_open()) {
    return;
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  entry["seq"] = ++seq_;
  entry["time"] = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  // Invalid UTF-8 from the wire is written replaced rather than failing the line.
  out_ << entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  out_.flush();
}

}  // namespace pushsim

// The program's own state between runs: how far it has read the service's
// notices and movements, and the account counters of the last logout. Kept in
// dados/cauPush.cfg, section "CAUPUSH"; every value is read afresh and written
// at once, each write replacing the file atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "config/IniFile.h"

namespace cau {

class TcauPushCfg {
 public:
  // `appDir` is the installation folder (a missing final "/" is added).
  explicit TcauPushCfg(const std::string& appDir);

  const IniFile& File() const { return ini_; }

  // Missing keys and values that are not integers read as 0. Every setter
  // throws cau::FileError naming the file when it cannot be written.
  std::int64_t GetLastIdAviso() const;
  void SetLastIdAviso(std::int64_t value);
  std::int64_t GetLastIdHistorico() const;
  void SetLastIdHistorico(std::int64_t value);
  std::int64_t GetProcsAtual() const;
  void SetProcsAtual(std::int64_t value);
  std::int64_t GetMaxProcs() const;
  void SetMaxProcs(std::int64_t value);
  std::int64_t GetMaxProcsAnt() const;
  void SetMaxProcsAnt(std::int64_t value);
  // The service's time stamp of the last logout report, as received.
  std::string GetAtualizadoEm() const;
  void SetAtualizadoEm(std::string_view value);

  // Stores a logout report. When the new stamp falls in another month than
  // the stored one, the stored month's maximum becomes the previous month's
  // first.
  void SaveLogoutReport(std::string_view atualizadoEm, std::int64_t procsAtual,
                        std::int64_t maxProcs);

  // The case keys queued for unregistration that the service has not yet
  // accepted, in queue order, in a file of their own beside this one
  // (QueuePath), so that the values above stay cheap to read afresh however
  // long the queue: section "DESCADASTRAR", one numbered key per case
  // ("1=17.0001234-56.2010"). Numbers out of order are read in order; other
  // keys and blank values are passed over. Without that file, the section
  // of this file (where earlier versions kept it) is read.
  std::vector<std::string> GetPendingUnregistrations() const;
  // Replaces the queue in one atomic write (the section removed when `keys`
  // is empty), then drops the section from this file if it is there. Throws
  // cau::FileError naming the file.
  void SetPendingUnregistrations(const std::vector<std::string>& keys);
  std::filesystem::path QueuePath() const;

 private:
  std::int64_t Get(std::string_view key) const;
  void Set(std::string_view key, std::int64_t value);

  IniFile ini_;
};

// The service's date and time "yyyy-mm-dd hh:nn:ss.zz" (the time, or its
// seconds and fraction, may be missing); nullopt when it does not read as one.
std::optional<LocalTime> ParseServerStamp(std::string_view text);

}  // namespace cau

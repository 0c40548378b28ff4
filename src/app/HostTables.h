// The host's case, folder and appointment tables as the start-up sees them:
// opened one by one with a yes or no, the host-version check, and the move to
// the first record. A stand-in until the table objects of the host take its
// place; the workflows reach the tables through those.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace cau {

class HostTables {
 public:
  // Closes whatever is open: cases, folders, appointments, in that order.
  virtual ~HostTables() = default;

  // Each opens its table in the data folder; false when it cannot.
  virtual bool OpenProcesso() = 0;
  virtual bool OpenPasta() = 0;
  virtual bool OpenAgenda() = 0;
  // Goes to the first case and tells whether the case table predates push
  // support (it has no field ESTADOPUSH).
  virtual bool LacksEstadoPush() = 0;
  // Every open table at its first record.
  virtual void First() = 0;
};

// Opens the tables of the installation in `appDir` (ending in "/").
using HostTablesFactory = std::function<std::unique_ptr<HostTables>(const std::string& appDir)>;

// The tables through the table engine.
std::unique_ptr<HostTables> OpenEngineTables(const std::string& appDir);

}  // namespace cau

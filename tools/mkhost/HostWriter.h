// Writes a sample host installation: the marker executable, orgaos.xml,
// causarium.ini and the four tables of dados with their memos and indexes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "HostModel.h"
#include "db/xbase/Schema.h"

namespace cau::mkhost {

struct Credentials {
  std::string user = "demo";
  std::string password = "demo";
};

struct WriteSummary {
  uint64_t cases = 0;
  uint64_t folders = 0;
  uint64_t appointments = 0;
  uint64_t queueRows = 0;
};

// The sample schemas (docs/host-schema.md).
xbase::TableSchema ProcessoSchema();
xbase::TableSchema PastaSchema();
xbase::TableSchema AgendaSchema();
xbase::TableSchema PushAuxSchema();

// Builds the installation in `dir` (created when missing). Fails with
// cau::Error, before writing any table, when a table already exists there.
WriteSummary WriteInstallation(const HostPlan& plan, const Credentials& credentials,
                               const std::filesystem::path& dir);

}  // namespace cau::mkhost

#include "app/HostTables.h"

#include <exception>

#include "db/xbase/Table.h"

namespace cau {

namespace {

class EngineTables final : public HostTables {
 public:
  explicit EngineTables(std::string appDir) : dataDir_(std::move(appDir) + "dados/") {}
  ~EngineTables() override {
    processo_.reset();
    pasta_.reset();
    agenda_.reset();
  }

  bool OpenProcesso() override { return Open(processo_, "PROCESSO.DBF"); }
  bool OpenPasta() override { return Open(pasta_, "PASTA.DBF"); }
  bool OpenAgenda() override { return Open(agenda_, "AGENDA.DBF"); }

  bool LacksEstadoPush() override {
    if (!processo_)
      return true;
    processo_->GoTop();
    return processo_->FieldIndex("ESTADOPUSH") < 0;
  }

  void First() override {
    for (auto* table : {&processo_, &agenda_, &pasta_})
      if (*table)
        (*table)->GoTop();
  }

 private:
  bool Open(std::unique_ptr<xbase::Table>& table, const char* name) {
    try {
      table = xbase::Table::Open(dataDir_ + name);
    } catch (const std::exception&) {
      table.reset();
    }
    return table != nullptr;
  }

  std::string dataDir_;
  std::unique_ptr<xbase::Table> processo_, pasta_, agenda_;
};

}  // namespace

std::unique_ptr<HostTables> OpenEngineTables(const std::string& appDir) {
  return std::make_unique<EngineTables>(appDir);
}

}  // namespace cau

// A started main window on host tables with every field the import writes,
// a fixed clock, the scripted service, and the tables read back after the
// window closed them.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../db/HostSchema.h"
#include "AppFixture.h"

namespace cau::testing {

using Record = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

inline HistoricoVO Mov(std::int32_t id, std::string stamp, std::string text) {
  HistoricoVO h;
  h.id = id;
  h.sdtHistorico = std::move(stamp);
  h.txtHistorico = std::move(text);
  return h;
}

inline ProcessoVO Caso(std::string orgao, std::string numero, ArrayOfHistoricoVO historicos = {}) {
  ProcessoVO p;
  p.codOrgao = std::move(orgao);
  p.codProcesso = std::move(numero);
  p.historicos = std::move(historicos);
  return p;
}

class ImportFixture : public HostFolder {
 protected:
  void SetUp() override {
    HostFolder::SetUp();
    ::setenv("LC_ALL", "C", 1);  // the regional time format: "hh:mm:ss"
    const fs::path dados = dir_ / "dados";
    for (const char* name : {"PROCESSO", "PASTA", "AGENDA"})
      for (const char* ext : {".DBF", ".CDX", ".FPT"})
        fs::remove(dados / (std::string(name) + ext));
    using db::testing::Tag;
    xbase::TableSchema processo;
    processo.fields = {{"CODPASTA", 'N', 4},   {"CODTRIB", 'N', 4},    {"CHAVEPROC", 'C', 100},
                       {"ESTADOPUSH", 'C', 1}, {"SUSPENSO", 'L', 1},   {"VISTO", 'C', 1},
                       {"TRAMITA", 'M', 4},    {"OUTROS", 'M', 4},     {"ANOTACAO", 'M', 4},
                       {"DTPROXAUD", 'C', 8},  {"HRPROXAUD", 'C', 12}, {"TITPARTEA", 'C', 30},
                       {"PARTEA", 'C', 150},   {"TITPARTEB", 'C', 30}, {"PARTEB", 'C', 150},
                       {"TITPARTEC", 'C', 30}, {"PARTEC", 'C', 150},   {"INICIOCOB", 'C', 8},
                       {"DTULTCONS", 'C', 8},  {"HRULTCONS", 'C', 5},  {"DTULTTRAM", 'C', 12}};
    processo.tags = {Tag("PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)"),
                     Tag("ESTADOPUSH", "ESTADOPUSH+STR(CODTRIB,4)"),
                     Tag("PROXAUD", "DTPROXAUD+HRPROXAUD", ".NOT. EMPTY(DTPROXAUD)")};
    xbase::CreateTable(dados, "PROCESSO", processo);
    xbase::TableSchema pasta;
    pasta.fields = {{"CODPASTA", 'N', 4}, {"NOME", 'C', 60}};
    pasta.tags = {Tag("PRIMARYKEY", "CODPASTA"), Tag("NOME", "UPPER(NOME)")};
    xbase::CreateTable(dados, "PASTA", pasta);
    xbase::TableSchema agenda;
    agenda.fields = {{"CODPASTA", 'N', 4},    {"CODTRIB", 'N', 4}, {"CHAVEPROC", 'C', 100},
                     {"AUTOMATICO", 'C', 1},  {"DATA", 'C', 8},    {"HORA", 'C', 12},
                     {"COMPROMISS", 'C', 200}};
    agenda.tags = {Tag("PRIMARYKEY", "DATA+HORA"),
                   Tag("PROCESSO", "STR(CODTRIB,4)+UPPER(CHAVEPROC)")};
    xbase::CreateTable(dados, "AGENDA", agenda);
    WriteFile(dir_ / "orgaos.xml",
              "<orgaos><orgao id=\"k26\" nomeReduzido=\"TJSP\"/>"
              "<orgao id=\"k5\" nomeReduzido=\"TRT1\"/></orgaos>");
  }
  void TearDown() override {
    HostFolder::TearDown();
    ::unsetenv("LC_ALL");
    ::unsetenv("LOCPATH");
  }

  fs::path Table(const std::string& file) const { return dir_ / "dados" / file; }
  void AddCases(const std::vector<db::testing::Row>& rows) {
    db::testing::AddRows(Table("PROCESSO.DBF"), rows);
  }
  void AddAppointments(const std::vector<db::testing::Row>& rows) {
    db::testing::AddRows(Table("AGENDA.DBF"), rows);
  }

  // The window started at `now`, logged in, with its court list loaded.
  TestForm& Ready(std::vector<std::string> args = {}) {
    log_ = std::make_unique<THotLog>(std::make_shared<FixedClock>(now_));
    FormEnvironment env;
    env.args = std::move(args);
    env.exePath = (dir_ / "VuzaZoz").string();
    env.log = log_.get();
    env.clock = std::make_shared<FixedClock>(now_);
    env.makeService = [s = service_](const std::string& address, SoapTransport&) {
      s->addresses.push_back(address);
      return std::make_unique<ScriptedService>(s->script);
    };
    form_ = std::make_unique<TestForm>(desktop_, std::move(env));
    EXPECT_EQ(form_->FormCreate(), TfrmAtualizaPush::StartUp::Ready);
    form_->IdSessao = "S9";
    form_->ListaOrgaos = form_->CarregaOrgaos();
    startLines_ = form_->mInfo.Lines().size();
    return *form_;
  }

  ScriptedService::Script& Service() { return *service_->script; }

  // The pane since the window was ready, error lines marked with "*".
  Lines StepLines() const {
    Lines lines = Pane();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(startLines_));
    return lines;
  }

  // Closes the window (its tables write what is pending) and reads a table
  // in record order; every table must pass the engine's check.
  std::vector<Record> Records(const std::string& file) {
    if (form_)
      form_->FormDestroy();
    EXPECT_EQ(db::testing::CheckProblems(Table(file)), "") << file;
    return db::testing::Records(Table(file));
  }
  // The first record of a case by its number.
  Record CaseRecord(const std::string& numero) {
    for (Record& r : Records("PROCESSO.DBF"))
      if (r["CHAVEPROC"] == numero)
        return r;
    ADD_FAILURE() << "no case " << numero;
    return {};
  }

  std::string StateFile() { return ReadFile(dir_ / "dados" / "cauPush.cfg"); }

  LocalTime now_{2026, 4, 2, 9, 0, 0};
  std::size_t startLines_ = 0;
};

}  // namespace cau::testing

// A started main window on a host whose case table has every field the
// scans read, a push queue table, and a scripted service.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "HostSchema.h"

namespace cau::testing {

using Lines = std::vector<std::string>;

// One case record: folder, court, number, push state, suspended.
struct Caso {
  int pasta = 1;
  int trib = 17;
  std::string chave;
  std::string estado;
  bool suspenso = false;
};

class RegisterFixture : public HostFolder {
 protected:
  void SetUp() override {
    HostFolder::SetUp();
    const fs::path dados = dir_ / "dados";
    for (const char* ext : {".DBF", ".CDX"})
      fs::remove(dados / (std::string("PROCESSO") + ext));
    xbase::CreateTable(dados, "PROCESSO", db::testing::ProcessoSchema());
    xbase::CreateTable(dados, "PushAux", db::testing::PushAuxSchema());
    WriteFile(dir_ / "orgaos.xml",
              "<orgaos><orgao id=\"k17\" nomeReduzido=\"TJXX\"/>"
              "<orgao id=\"k5\" nomeReduzido=\"TRT1\"/></orgaos>");
  }

  fs::path Table(const std::string& file) const { return dir_ / "dados" / file; }

  void AddCasos(const std::vector<Caso>& casos) {
    std::vector<db::testing::Row> rows;
    for (const Caso& c : casos) {
      rows.push_back({{"CODPASTA", std::to_string(c.pasta)},
                      {"CODTRIB", std::to_string(c.trib)},
                      {"CHAVEPROC", c.chave},
                      {"ESTADOPUSH", c.estado},
                      {"SUSPENSO", c.suspenso ? "T" : "F"}});
    }
    db::testing::AddRows(Table("PROCESSO.DBF"), rows);
  }

  void AddFila(const std::vector<std::pair<int, std::string>>& fila) {
    std::vector<db::testing::Row> rows;
    for (const auto& [trib, chave] : fila)
      rows.push_back({{"CODTRIB", std::to_string(trib)}, {"CHAVEPROC", chave}});
    db::testing::AddRows(Table("PushAux.DBF"), rows);
  }

  // The started window with a session, the court list loaded and the scope
  // set; the scans and the scope step are the real ones.
  TestForm& Ready(const Lines& escopo = {"17=1,2,", "5=11,"}) {
    TestForm& form = MakeForm();
    EXPECT_EQ(form.FormCreate(), TfrmAtualizaPush::StartUp::Ready);
    form.IdSessao = "S9";
    form.escopo = [&form] { form.TfrmAtualizaPush::btnEscopoClick(); };
    form.duplicados = [&form] { form.TfrmAtualizaPush::ProcuraDuplicados(); };
    form.busca = [&form] { form.TfrmAtualizaPush::BuscaParaCadastrar(); };
    form.ListaOrgaos = form.CarregaOrgaos();
    form.ListaEscopo = std::make_unique<TStringList>(escopo);
    startLines_ = form.mInfo.Lines().size();
    return form;
  }

  // The pane's lines since Ready, error lines marked with "*".
  Lines StepLines() const {
    Lines lines = Pane();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(startLines_));
    return lines;
  }

  // Each record's number -> its trimmed push state, in record order.
  std::map<std::string, std::string> Estados() const {
    std::map<std::string, std::string> out;
    for (auto& r : db::testing::Records(Table("PROCESSO.DBF")))
      out[r["CODPASTA"] + "/" + r["CODTRIB"] + "." + r["CHAVEPROC"]] = r["ESTADOPUSH"];
    return out;
  }

  Lines Pending() const { return TcauPushCfg(dir_.string()).GetPendingUnregistrations(); }

  ScriptedService::Script& Script() { return *service_->script; }

  // Closes the tables and checks them.
  void CheckTables() {
    if (form_)
      form_->FormDestroy();
    for (const char* t : {"PROCESSO.DBF", "PushAux.DBF"})
      EXPECT_EQ(db::testing::CheckProblems(Table(t)), "") << t;
  }

  std::size_t startLines_ = 0;
};

// n keys "court.kind.number" numbered from 1.
inline Lines Keys(int n, const std::string& prefix = "17.1.") {
  Lines keys;
  for (int i = 1; i <= n; ++i)
    keys.push_back(prefix + std::to_string(i));
  return keys;
}

// One notice per case sent, each in `estado`.
inline ArrayOfAvisoVO Answer(const ArrayOfProcessoVO& sent,
                             EstadoProcesso estado = EstadoProcesso::EM_CADASTRAMENTO) {
  ArrayOfAvisoVO avisos;
  for (const ProcessoVO& p : sent) {
    AvisoVO a;
    a.codOrgao = p.codOrgao;
    a.codProcesso = p.codProcesso;
    a.estadoProcesso = estado;
    a.tipoAviso = TipoAviso::PROCESSO;
    avisos.push_back(a);
  }
  return avisos;
}

inline std::vector<std::size_t> Sizes(const std::vector<BatchCall>& calls) {
  std::vector<std::size_t> sizes;
  for (const BatchCall& c : calls)
    sizes.push_back(c.processos.size());
  return sizes;
}

}  // namespace cau::testing

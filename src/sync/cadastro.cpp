// Registration: the duplicate check and the scan that decide what a run
// registers and unregisters, and the step that sends the new cases to the
// service in batches of 20 and applies its answers.
#include <algorithm>
#include <set>
#include <string>
#include <unordered_set>

#include "app/atualizaPush.h"
#include "config/Cp1252.h"
#include "config/Errors.h"
#include "db/pushAuxCauDao.h"
#include "sync/CaseScan.h"

namespace cau {

namespace {

constexpr std::size_t kBatch = 20;

}  // namespace

db::TProcessoDao& TfrmAtualizaPush::Processos() {
  if (!ProcessoDao)
    throw Error("A tabela de processos não está aberta.");
  return *ProcessoDao;
}

void TfrmAtualizaPush::ProcuraDuplicados() {
  SetStatus("Procurando por processo duplicados...");
  db::TProcessoDao& processos = Processos();
  const ScopeIndex scope(ListaEscopo.get());
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(static_cast<int>(processos.RecordCount()));
  ScanProgress progress(ProgressBar1);
  DuplicateFinder seen(std::size_t(std::max(0L, processos.RecordCount())));
  // A fresh read of the table: the registration scan and the lookups of the
  // run go on from it.
  processos.ScanCases(true, [&](const db::TProcessoDao::CaseRow& row) {
    const std::string* tipos = scope.Types(row.codTrib);
    if (tipos && KindMatchesStored(row.number, *tipos) && row.state != "5" && row.state != "1" &&
        seen.Seen(row.codTrib, row.number)) {
      const std::string number = text::FromCp1252(row.number);
      const long recno = row.recno;
      AddErro("Processo duplicado: " + number + " suspendido do push");
      processos.Go(recno);
      processos.SetEstadoPush("5");
      processos.SetMsgErro("Processo duplicado.");
    }
    progress.Step();
  });
  progress.Done();
}

void TfrmAtualizaPush::BuscaParaCadastrar() {
  QtdCadastrados = 0;
  if (!ListaCadastrar)
    ListaCadastrar = std::make_unique<TStringList>();
  if (!ListaDescadastrar)
    ListaDescadastrar = std::make_unique<TStringList>();
  // The keys the lists hold, folded, so a large host is not walked per case.
  std::unordered_set<std::string> cadastrar, descadastrar;
  for (const std::string& key : *ListaCadastrar)
    cadastrar.insert(FoldKey(key));
  for (const std::string& key : *ListaDescadastrar)
    descadastrar.insert(FoldKey(key));
  const auto queue = [&](std::string key) {
    if (descadastrar.insert(FoldKey(key)).second)
      ListaDescadastrar->push_back(std::move(key));
  };

  SetStatus("Buscando processos para cadastrar...");
  db::TProcessoDao& processos = Processos();
  const ScopeIndex scope(ListaEscopo.get());
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(static_cast<int>(processos.RecordCount()));
  ScanProgress progress(ProgressBar1);
  std::vector<long> leaving;  // suspended registered cases, whose states go blank
  processos.ScanCases(false, [&](const db::TProcessoDao::CaseRow& row) {
    progress.Step();
    const std::string* tipos = scope.Types(row.codTrib);
    if (!tipos)
      return;
    if (row.state.empty() || row.state == "0") {
      if (!row.suspended && KindMatchesStored(row.number, *tipos)) {
        std::string key = CaseKeyOf(row.codTrib, row.number);
        if (cadastrar.insert(FoldKey(key)).second)
          ListaCadastrar->push_back(std::move(key));
      }
    } else if ((row.state == "3" || row.state == "2") && row.suspended) {
      queue(CaseKeyOf(row.codTrib, row.number));
      leaving.push_back(row.recno);
    } else if (row.state == "3") {
      ++QtdCadastrados;
    }
  });
  progress.Done();
  // The state file holds the suspended cases before their states go, so a
  // run that ends early still sends them next time.
  if (!leaving.empty()) {
    SalvaDescadastrar();
    for (const long recno : leaving) {
      processos.Go(recno);
      processos.SetEstadoPush("");
    }
    processos.Go(0);  // the last one written; the table at its end, as after a scan
  }

  // The push queue the same way: its rows are marked once their keys are kept.
  try {
    db::TPushAuxDao fila(AppDir);
    if (!fila.Opened())
      throw Error(fila.OpenError());
    bool rows = false;
    for (fila.First(); !fila.Eof(); fila.Next()) {
      std::string key = std::to_string(fila.CodTrib()) + "." + fila.ChaveProc();
      if (!cadastrar.contains(FoldKey(key)))
        queue(std::move(key));
      rows = true;
    }
    if (rows) {
      SalvaDescadastrar();
      for (fila.First(); !fila.Eof(); fila.Next())
        fila.Delete();
    }
    fila.Close();
  } catch (const std::exception& e) {
    AddErro("Erro na leitura da tabela PUSHAUX.dbf");
    AddErro(e.what());
  }

  ProgressBar1.SetPosition(0);
  SetStatus("cad (" + std::to_string(ListaCadastrar->size()) + ") - desc (" +
            std::to_string(ListaDescadastrar->size()) + ")");
}

void TfrmAtualizaPush::btnCadastraClick() {
  if (!ListaCadastrar)
    ListaCadastrar = std::make_unique<TStringList>();
  TStringList& lista = *ListaCadastrar;
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(static_cast<int>(lista.size()));
  // Entries leave the list once their batch was accepted: `sent` of them.
  std::size_t sent = 0;
  while (sent < lista.size() && !Cancelado) {
    const std::size_t n = std::min(kBatch, lista.size() - sent);
    ArrayOfProcessoVO lote;
    for (std::size_t i = sent; i < sent + n; ++i)
      lote.push_back(ProcessoFromKey(lista[i]));
    SetStatus("Enviando processos para cadastro no sistema PUSH.");
    try {
      ArrayOfAvisoVO resposta = Service().cadastraN(IdSessao, lote);
      lote.clear();
      sent += n;
      desktop_.ProcessMessages();
      const std::size_t left = lista.size() - sent;
      const std::string resto = left == 0 ? "" : " Faltam " + std::to_string(left) + "...";
      AddLog("[+]" + std::to_string(n) + " processo(s) enviados para cadastramento." + resto);
      for (AvisoVO& aviso : resposta) {
        ApplyAviso(aviso);
        ProgressBar1.StepIt();
        if (aviso.estadoProcesso != EstadoProcesso::CADASTRADO)
          continue;
        ProcessoVO pedido;
        pedido.codOrgao = aviso.codOrgao;
        pedido.codProcesso = aviso.codProcesso;
        ArrayOfProcessoVO achados = Service().consultaN(IdSessao, {pedido});
        if (!achados.empty())
          ApplyProcesso(achados.front());
      }
    } catch (const std::exception& e) {
      AddErro("Erro ao enviar lista de processos para cadastro PUSH.\r\n" + std::string(e.what()));
      Cancelado = true;
    }
    SetStatus("Processos enviados para cadastramento.");
  }
  lista.erase(lista.begin(), lista.begin() + static_cast<std::ptrdiff_t>(sent));
  pgbTotal.SetProgress(40);
}

}  // namespace cau

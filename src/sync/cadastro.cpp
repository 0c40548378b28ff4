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

namespace cau {

namespace {

constexpr std::size_t kBatch = 20;

}  // namespace

db::TProcessoDao& TfrmAtualizaPush::Processos() {
  if (!ProcessoDao)
    throw Error("A tabela de processos não está aberta.");
  return *ProcessoDao;
}

std::string TfrmAtualizaPush::CaseKey() const {
  return std::to_string(ProcessoDao->CodTrib()) + "." + ProcessoDao->ChaveProc();
}

std::optional<std::string> TfrmAtualizaPush::ScopeTypes(std::int32_t codTrib) const {
  if (!ListaEscopo)
    return std::nullopt;
  const std::string name = std::to_string(codTrib);
  for (const std::string& line : *ListaEscopo) {
    const auto eq = line.find('=');
    if (line.compare(0, eq, name) == 0)
      return eq == std::string::npos ? std::string() : line.substr(eq + 1);
  }
  return std::nullopt;
}

bool TfrmAtualizaPush::KindMatches(std::string_view chaveProc, std::string_view tipos) {
  const auto dot = chaveProc.find('.');
  if (dot == std::string_view::npos || dot == 0)
    return false;
  return tipos.find(chaveProc.substr(0, dot)) != std::string_view::npos;
}

void TfrmAtualizaPush::ProcuraDuplicados() {
  SetStatus("Procurando por processo duplicados...");
  db::TProcessoDao& processos = Processos();
  std::set<std::string> seen;  // case keys in upper case
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(static_cast<int>(processos.RecordCount()));
  for (processos.First(); !processos.Eof(); processos.Next()) {
    const std::string& estado = processos.EstadoPush();
    const auto tipos = ScopeTypes(processos.CodTrib());
    if (tipos && KindMatches(processos.ChaveProc(), *tipos) && estado != "5" && estado != "1" &&
        !seen.insert(text::UpperCp1252(CaseKey())).second) {
      AddErro("Processo duplicado: " + processos.ChaveProc() + " suspendido do push");
      processos.SetEstadoPush("5");
      processos.SetMsgErro("Processo duplicado.");
    }
    ProgressBar1.StepIt();
  }
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
  ProgressBar1.SetPosition(0);
  ProgressBar1.SetMax(static_cast<int>(processos.RecordCount()));
  const auto leaves = [&](const std::optional<std::string>& tipos) {
    const std::string& estado = processos.EstadoPush();
    return tipos && (estado == "3" || estado == "2") && processos.Suspenso();
  };
  bool suspended = false;
  for (processos.First(); !processos.Eof(); processos.Next()) {
    const std::string& estado = processos.EstadoPush();
    if (const auto tipos = ScopeTypes(processos.CodTrib())) {
      if (estado.empty() || estado == "0") {
        std::string key = CaseKey();
        if (!processos.Suspenso() && KindMatches(processos.ChaveProc(), *tipos) &&
            cadastrar.insert(FoldKey(key)).second)
          ListaCadastrar->push_back(std::move(key));
      } else if (leaves(tipos)) {
        queue(CaseKey());
        suspended = true;
      } else if (estado == "3") {
        ++QtdCadastrados;
      }
    }
    ProgressBar1.StepIt();
  }
  // The state file holds the suspended cases before their states go, so a
  // run that ends early still sends them next time.
  if (suspended) {
    SalvaDescadastrar();
    for (processos.First(); !processos.Eof(); processos.Next()) {
      if (leaves(ScopeTypes(processos.CodTrib())))
        processos.SetEstadoPush("");
    }
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

// Unregistration: the queue of cases the service is to stop monitoring, kept
// in the state file until the service accepts them, and the step that sends
// them in batches of 20.
#include <algorithm>
#include <string>
#include <unordered_set>

#include "app/atualizaPush.h"
#include "config/Cp1252.h"

namespace cau {

namespace {

constexpr std::size_t kBatch = 20;

}  // namespace

std::string TfrmAtualizaPush::FoldKey(std::string_view key) {
  return text::UpperCp1252(key);
}

bool TfrmAtualizaPush::Holds(const TStringList& lista, std::string_view key) {
  const std::string wanted = FoldKey(key);
  return std::any_of(lista.begin(), lista.end(),
                     [&](const std::string& entry) { return FoldKey(entry) == wanted; });
}

ProcessoVO TfrmAtualizaPush::ProcessoFromKey(std::string_view key) const {
  const auto dot = key.find('.');
  const std::string_view code = key.substr(0, dot);
  ProcessoVO processo;
  processo.codProcesso = dot == std::string_view::npos ? "" : std::string(key.substr(dot + 1));
  if (ListaOrgaos) {
    for (const std::string& line : *ListaOrgaos) {
      const auto eq = line.find('=');
      if (eq != std::string::npos && std::string_view(line).substr(0, eq) == code) {
        processo.codOrgao = line.substr(eq + 1);
        break;
      }
    }
  }
  return processo;
}

bool TfrmAtualizaPush::QueueDescadastrar(const std::string& key) {
  if (importQueue_) {
    if (!importQueue_->insert(FoldKey(key)).second)
      return false;
    ListaDescadastrar->push_back(key);
    importQueueDirty_ = true;
    return true;
  }
  // Before any scope step (a step run on its own) the kept entries are not
  // in the list yet; writing the list must not drop them.
  RestorePendingUnregistrations();
  if (Holds(*ListaDescadastrar, key))
    return false;
  ListaDescadastrar->push_back(key);
  SalvaDescadastrar();
  return true;
}

void TfrmAtualizaPush::SalvaDescadastrar() {
  if (PushCfg)
    PushCfg->SetPendingUnregistrations(ListaDescadastrar ? *ListaDescadastrar : TStringList());
}

void TfrmAtualizaPush::RestorePendingUnregistrations() {
  if (!ListaDescadastrar)
    ListaDescadastrar = std::make_unique<TStringList>();
  if (!PushCfg)
    return;
  std::unordered_set<std::string> held;
  for (const std::string& key : *ListaDescadastrar)
    held.insert(FoldKey(key));
  for (std::string& key : PushCfg->GetPendingUnregistrations()) {
    if (held.insert(FoldKey(key)).second)
      ListaDescadastrar->push_back(std::move(key));
  }
}

void TfrmAtualizaPush::BeginImportQueue() {
  RestorePendingUnregistrations();
  importQueue_.emplace();
  for (const std::string& key : *ListaDescadastrar)
    importQueue_->insert(FoldKey(key));
  importQueueDirty_ = false;
}

void TfrmAtualizaPush::SaveImportQueue() {
  if (importQueueDirty_) {
    SalvaDescadastrar();
    importQueueDirty_ = false;
  }
}

void TfrmAtualizaPush::EndImportQueue() {
  importQueue_.reset();
  SaveImportQueue();
}

void TfrmAtualizaPush::btnDescadastraClick() {
  ProgressBar1.SetPosition(0);
  desktop_.ProcessMessages();
  SetStatus("Descadastrando processos suspensos ou removidos do sistema.");
  if (!ListaDescadastrar || ListaDescadastrar->empty()) {
    SetStatus("Nenhum processo para descadastrar.");
    return;
  }
  TStringList& lista = *ListaDescadastrar;
  ProgressBar1.SetMax(static_cast<int>(lista.size()));
  while (!lista.empty() && !Cancelado) {
    const std::size_t n = std::min(kBatch, lista.size());
    ArrayOfProcessoVO lote;
    for (std::size_t i = 0; i < n; ++i)
      lote.push_back(ProcessoFromKey(lista[i]));
    // The batch leaves the queue, and the state file, only once the
    // service has taken it.
    try {
      Service().descadastraN(IdSessao, lote);
    } catch (const std::exception& e) {
      AddErro("Erro ao enviar lista de processos para descadastramento PUSH.\r\n" +
              std::string(e.what()));
      Cancelado = true;
      return;
    }
    lista.erase(lista.begin(), lista.begin() + static_cast<std::ptrdiff_t>(n));
    SalvaDescadastrar();
    for (const ProcessoVO& processo : lote) {
      ProgressBar1.StepIt();
      AddLog("[-]Descadastrado: " + processo.codOrgao + "." + processo.codProcesso);
    }
    const std::string resto =
        lista.empty() ? "" : " Faltam " + std::to_string(lista.size()) + "...";
    AddLog("[-]" + std::to_string(n) + " processo(s) descadastrado(s). " + resto);
    desktop_.ProcessMessages();
  }
  SetStatus("Processos enviados para descadastramento.");
  pgbTotal.SetProgress(80);
}

}  // namespace cau

// Resynchronisation: every case the host holds as registered is sent again;
// the service's answer tells which ones it was not monitoring.
#include <algorithm>
#include <string>

#include "app/atualizaPush.h"
#include "sync/CaseScan.h"

namespace cau {

namespace {

constexpr std::size_t kBatch = 20;

// The hourglass for as long as the operation runs, however it ends.
class Hourglass {
 public:
  explicit Hourglass(Desktop& desktop) : desktop_(desktop) { desktop_.SetHourglass(true); }
  ~Hourglass() { desktop_.SetHourglass(false); }
  Hourglass(const Hourglass&) = delete;
  Hourglass& operator=(const Hourglass&) = delete;

 private:
  Desktop& desktop_;
};

}  // namespace

void TfrmAtualizaPush::Resincroniza() {
  const Hourglass busy(desktop_);
  btnLoginClick();
  try {
    btnEscopoClick();
  } catch (const std::exception& e) {
    AddErro(e.what());
    Cancelado = true;
  }
  if (!ListaEscopo || ListaEscopo->empty()) {
    ProgressBar1.SetPosition(0);
    AddErro("Não foi possível realizar a sincronização dos processos. [Escopo não encontrado]");
    return;
  }

  int desincronizados = 0;
  bool selected = true;
  TStringList lista;
  SetStatus("Selecionando processos para sincronização.");
  try {
    db::TProcessoDao& processos = Processos();
    const ScopeIndex scope(ListaEscopo.get());
    ProgressBar1.SetPosition(0);
    ProgressBar1.SetMax(static_cast<int>(processos.RecordCount()));
    AddLog("Iniciando sincronização de processos.");
    ScanProgress progress(ProgressBar1);
    // The scope step's read of the table serves here too.
    processos.ScanCases(false, [&](const db::TProcessoDao::CaseRow& row) {
      const std::string* tipos = scope.Types(row.codTrib);
      if (tipos && (row.state == "3" || row.state == "2") && !row.suspended &&
          KindMatchesStored(row.number, *tipos))
        lista.push_back(CaseKeyOf(row.codTrib, row.number));
      progress.Step();
    });
    progress.Done();
  } catch (const std::exception& e) {
    // A table that cannot be read: nothing is sent, the session still ends.
    AddErro(e.what());
    Cancelado = true;
    selected = false;
    lista.clear();
  }

  ProgressBar1.SetPosition(0);
  if (!lista.empty()) {
    AddLog("Sincronizando processos com servidor.");
    SetStatus("Sincronizando processos com servidor...");
  }
  ProgressBar1.SetMax(static_cast<int>(lista.size()));
  std::size_t checked = 0;  // entries of `lista` the service has answered
  while (checked < lista.size() && !Cancelado) {
    const std::size_t n = std::min(kBatch, lista.size() - checked);
    ArrayOfProcessoVO lote;
    for (std::size_t i = checked; i < checked + n; ++i)
      lote.push_back(ProcessoFromKey(lista[i]));
    try {
      ArrayOfAvisoVO resposta = Service().cadastraN(IdSessao, lote);
      for (std::size_t i = 0; i < n; ++i)
        ProgressBar1.StepIt();
      checked += n;
      desktop_.ProcessMessages();
      const std::size_t left = lista.size() - checked;
      const std::string resto = left == 0 ? "" : " Faltam " + std::to_string(left) + "...";
      AddLog("[.] Verificando cadastramento de " + std::to_string(n) + " processo(s)." + resto);
      for (AvisoVO& aviso : resposta) {
        ApplyAviso(aviso);
        const std::string caso = aviso.codOrgao + "." + aviso.codProcesso;
        if (aviso.estadoProcesso == EstadoProcesso::CADASTRADO)
          continue;
        ++desincronizados;
        if (aviso.estadoProcesso == EstadoProcesso::EM_CADASTRAMENTO)
          AddErro("Atenção! Processo desincronizado. Pode ter perdido andamentos " + caso);
        else
          AddErro("Algo errado. " + caso);
      }
    } catch (const std::exception& e) {
      AddErro("Erro ao enviar lista de processos para cadastro PUSH.\r\n" + std::string(e.what()));
      Cancelado = true;
    }
    SetStatus("Processos enviados para cadastramento.");
  }

  // Cases left unchecked are not reported as in step.
  if (desincronizados > 0) {
    AddErro("Atenção! Foram encontrados " + std::to_string(desincronizados) +
            " processos desincronizados");
  } else if (selected && checked == lista.size()) {
    AddLog("Sincronização ok.");
  }

  try {
    if (Config)
      Config->ClearSyncPush();
  } catch (const std::exception& e) {
    AddErro(e.what());
  }
  btnLogoutClick();
}

}  // namespace cau

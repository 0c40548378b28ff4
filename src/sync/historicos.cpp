// The movement import: the cases with new movements since the last import,
// page by page, written into the host's case table; cases the host cannot
// place are queued for unregistration.
#include <algorithm>
#include <exception>
#include <string>
#include <string_view>

#include "app/atualizaPush.h"
#include "config/Errors.h"
#include "config/Utils.h"

namespace cau {

namespace {

constexpr std::int64_t kPageSize = 100;
constexpr std::string_view kNewCasesFolder = "_NOVOS_PUSH";

// The movement's text as one memo line: every line break, CR LF, a lone CR
// or LF, becomes one "<br>".
std::string MovementMarkup(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out += "<br>";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      out += c;
    }
  }
  return out;
}

// The largest movement id of a case, 0 when it has none above 0.
std::int32_t HighestMovementId(const ArrayOfHistoricoVO& historicos) {
  std::int32_t highest = 0;
  for (const HistoricoVO& h : historicos)
    highest = std::max(highest, h.id);
  return highest;
}

std::string Count(std::size_t n) {
  return std::to_string(n);
}

}  // namespace

void TfrmAtualizaPush::btnHistoricosClick() {
  desktop_.ProcessMessages();
  SetStatus("Verificando atualizações de andamentos.");
  try {
    if (!PushCfg)
      throw Error("Arquivo de estado não aberto.");
    BeginImportQueue();
    std::int64_t offset = 0;
    ProgressBar1.SetPosition(0);
    std::int32_t highest = 0;
    ArrayOfProcessoVO page =
        Service().historicosN(IdSessao, PushCfg->GetLastIdHistorico(), kPageSize, offset);
    if (page.empty()) {
      AddLog("Nenhuma atualização nos processos.");
    } else {
      do {
        const std::size_t before = ListaDescadastrar ? ListaDescadastrar->size() : 0;
        AddLog(Count(page.size()) + " processo(s) com andamento(s)");
        ProgressBar1.SetMax(static_cast<int>(page.size()));
        desktop_.ProcessMessages();
        for (ProcessoVO& processo : page) {
          highest = std::max(highest, ApplyProcesso(processo));
          ProgressBar1.StepIt();
        }
        const std::size_t after = ListaDescadastrar ? ListaDescadastrar->size() : 0;
        const std::size_t queued = after > before ? after - before : 0;
        if (queued == 1)
          AddLog("1 processo não localizado será descadastrado.");
        else if (queued > 1)
          AddLog(Count(queued) + " processos não localizados serão descadastrados.");
        // What the page changed reaches the table before lastIdHistorico
        // passes it: a case without movements is otherwise still pending.
        if (ProcessoDao)
          ProcessoDao->SaveAndNext();
        SaveImportQueue();
        ProgressBar1.SetPosition(0);
        offset += kPageSize;
        if (highest != 0 && highest > PushCfg->GetLastIdHistorico())
          PushCfg->SetLastIdHistorico(highest);
        page = Service().historicosN(IdSessao, PushCfg->GetLastIdHistorico(), kPageSize, offset);
      } while (!page.empty() && !Cancelado);
    }
    EndImportQueue();
    btnHistoricos.SetEnabled(false);
    pgbTotal.SetProgress(60);
  } catch (const std::exception& e) {
    SetStatus("Erro de comunicação. Operação não realizada");
    AddErro("[Historico] " + std::string(e.what()));
    AddErro("Operação de atualização dos andamentos não realizada.");
    Cancelado = true;
    // The cases queued so far go to the state file all the same.
    try {
      EndImportQueue();
    } catch (const std::exception& save) {
      AddErro(save.what());
    }
  }
}

std::int32_t TfrmAtualizaPush::ApplyProcesso(ProcessoVO& processo) {
  if (!ProcessoDao || !PastaDao)
    throw Error("Tabelas do banco não abertas.");
  db::TProcessoDao& casos = *ProcessoDao;
  const std::int32_t court = CodigoDoOrgao(processo.codOrgao);

  bool found = casos.LocateForImport(court, processo.codProcesso);
  if (!found && casos.LocateForImport(court, processo.codProcessoAnt)) {
    processo.codProcesso = processo.codProcessoAnt;
    found = true;
  }
  if (!found && processo.codTipoVinculo == "OAB") {
    if (court < 0) {
      // A case the host could not place: it is unregistered instead.
      AddErro("Órgão desconhecido para o processo " + processo.codOrgao + "." +
              processo.codProcesso);
    } else if (const std::int32_t folder = PastaDao->GetOrCreateFolder(kNewCasesFolder);
               folder <= 0) {
      AddErro("Erro obtendo pasta " + std::string(kNewCasesFolder));
    } else if (casos.AppendProcesso(folder, court, processo.codProcesso)) {
      AddLog("Novo Processo " + processo.codProcesso + " incluído na pasta " +
             std::string(kNewCasesFolder));
      found = true;
    } else {
      AddErro("Falha ao criar novo processo " + processo.codProcesso + " na pasta " +
              std::string(kNewCasesFolder));
    }
  }
  if (!found) {
    QueueDescadastrar(std::to_string(court) + "." + processo.codProcesso);
    return HighestMovementId(processo.historicos);
  }

  casos.SetMsgErro("");
  casos.SetEstadoPush("3");

  if (!Trim(processo.sdtAudiencia).empty()) {
    UpdateHearing(processo.codOrgao, processo.codProcesso, "", processo.sdtAudiencia);
    processo.sdtAudiencia.clear();
  }

  if (casos.GetParte(1).empty()) {
    const std::size_t slots = std::min<std::size_t>(processo.partes.size(), 3);
    for (std::size_t i = 0; i < slots; ++i) {
      const ParteVO& parte = processo.partes[i];
      std::string names;
      for (const std::string& name : parte.nomParte)
        names += name + "\r\n";
      casos.SetParte(static_cast<int>(i) + 1, parte.codParte, names);
    }
  }

  std::int32_t result = 0;
  if (!processo.historicos.empty()) {
    casos.LoadMovements();
    for (const HistoricoVO& h : processo.historicos) {
      casos.AddMovement(h.sdtHistorico,
                        "<span class=\"push\">" + MovementMarkup(h.txtHistorico) + "</span>");
      result = std::max(result, h.id);
    }
    casos.SaveMovements();
    AddLog("Novos andamentos em " + processo.codOrgao + "." + processo.codProcesso + "  [" +
           std::to_string(result) + "]");
  }
  return result;
}

}  // namespace cau

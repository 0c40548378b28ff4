// The service's notices: fetched after the last one handled, page by page,
// and acted on one by one; lastIdAviso advances with every notice handled.
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "app/atualizaPush.h"
#include "config/Errors.h"

namespace cau {

namespace {

constexpr std::int64_t kPageSize = 100;
constexpr std::string_view kCancelada = "Audiência CANCELADA [PUSH]";

// ESTADOPUSH for a case state the service reports.
std::optional<std::string_view> PushStateCode(EstadoProcesso estado) {
  switch (estado) {
    case EstadoProcesso::EM_CADASTRAMENTO:
    case EstadoProcesso::EM_CADASTRAMENTO_2:
      return "2";
    case EstadoProcesso::CADASTRADO:
      return "3";
    case EstadoProcesso::EM_DESCADASTRAMENTO:
    case EstadoProcesso::EM_DESCADASTRAMENTO_2:
      return "1";
    case EstadoProcesso::DESCADASTRADO:
      return "0";
    case EstadoProcesso::ERRO:
      return "5";
  }
  return std::nullopt;
}

}  // namespace

void TfrmAtualizaPush::btnAvisosClick() {
  ProgressBar1.SetPosition(0);
  SetStatus("Recebendo e tratando mensagens de aviso do servidor.");
  desktop_.ProcessMessages();
  ProgressBar1.SetPosition(10);
  try {
    if (!PushCfg)
      throw Error("Arquivo de estado não aberto.");
    ArrayOfAvisoVO page = Service().avisosN(IdSessao, PushCfg->GetLastIdAviso(), kPageSize);
    ProgressBar1.SetPosition(0);
    if (page.empty()) {
      AddLog("Nenhum aviso");
    } else {
      do {
        ProgressBar1.SetMax(static_cast<int>(page.size()));
        std::size_t handled = 0;
        for (AvisoVO& aviso : page) {
          if (Cancelado)
            break;
          ApplyAviso(aviso);
          ProgressBar1.StepIt();
          desktop_.ProcessMessages();
          ++handled;
        }
        AddLog(std::to_string(handled) + " cadastramento(s) efetivado(s) [a" +
               std::to_string(PushCfg->GetLastIdAviso()) + "]");
        page = Service().avisosN(IdSessao, PushCfg->GetLastIdAviso(), kPageSize);
        ProgressBar1.SetPosition(0);
      } while (!page.empty() && !Cancelado);
      if (const int notices = desktop_.NoticeCount(); notices > 0) {
        btnMsg.SetCaption(std::to_string(notices));
        btnMsg.SetVisible(true);
      }
    }
  } catch (const std::exception& e) {
    // Any page, and any notice: what was handled stays handled.
    AddErro("Erro. Não foi possível receber as mensagens de aviso. ");
    AddErro(e.what());
    Cancelado = true;
    return;
  }
  SetStatus("Fim.");
  pgbTotal.SetProgress(100);
}

void TfrmAtualizaPush::ApplyAviso(AvisoVO& aviso) {
  if (!ProcessoDao || !PushCfg)
    throw Error("Tabelas do banco não abertas.");
  const std::string which = aviso.codOrgao + "." + aviso.codProcesso;
  switch (aviso.tipoAviso) {
    case TipoAviso::ALERTA:
      AddLog("AVISO ALERTA: " + aviso.txtAviso);
      break;
    case TipoAviso::COBRANCA:
      AddLog("AVISO COBRANÇA: " + aviso.txtAviso);
      break;
    case TipoAviso::PROCESSO:
      if (ProcessoDao->Locate(CodigoDoOrgao(aviso.codOrgao), aviso.codProcesso)) {
        if (aviso.estadoProcesso == EstadoProcesso::ERRO) {
          ProcessoDao->SetMsgErro(aviso.txtAviso);
          ProcessoDao->SetEstadoPush("5");
          if (ModoDebug)
            AddLog("aviso erro: " + which + " " + aviso.txtAviso);
        } else if (const auto code = PushStateCode(aviso.estadoProcesso)) {
          ProcessoDao->SetEstadoPush(*code);
        }
        ProcessoDao->SaveAndNext();
      } else if (ModoDebug) {
        AddErro("Processo não encontrado para aviso: " + which + " " + aviso.txtAviso);
      }
      break;
    case TipoAviso::AUDIENCIA_INC:
    case TipoAviso::AUDIENCIA_EXC:
      if (ProcessoDao->Locate(CodigoDoOrgao(aviso.codOrgao), aviso.codProcesso)) {
        if (aviso.tipoAviso == TipoAviso::AUDIENCIA_EXC &&
            aviso.txtAviso.find(kCancelada) == std::string::npos)
          aviso.txtAviso = std::string(kCancelada) + " " + aviso.txtAviso;
        UpdateHearing(aviso.codOrgao, aviso.codProcesso, aviso.txtAviso, aviso.sdtAviso);
      } else {
        AddLog("audiência para processo não encontrado " + which);
      }
      break;
    case TipoAviso::VERSAO:
      Verificaatualizao1Click();
      break;
    case TipoAviso::URL:
      AddLog("AVISO URL: " + aviso.txtAviso);
      break;
  }
  if (PushCfg->GetLastIdAviso() < aviso.id)
    PushCfg->SetLastIdAviso(aviso.id);
}

}  // namespace cau

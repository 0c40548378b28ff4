// The session with the push service: login, logout and the account's
// counters, and the description of this machine sent at login.
#include <optional>

#include "app/atualizaPush.h"
#include "config/Errors.h"
#include "config/Utils.h"
#include "service/uMaquina.h"

namespace cau {

PushServicePortType& TfrmAtualizaPush::Service() {
  if (!Servico)
    throw Error("Serviço não disponível.");
  return *Servico;
}

std::string TfrmAtualizaPush::DescricaoMaquina() const {
  return "AppDir=" + env_.exePath + ";CompNome=" + GetCompNome() + ";WinVer=" + GetWinVer() +
         ";WinDono=" + GetWinDono() + ";WinEmpresa=" + GetWinEmpresa() +
         ";HdSerial=" + GetHdSerial();
}

void TfrmAtualizaPush::Login(const std::string& usuario, const std::string& senha) {
  try {
    const std::string credencial = usuario + "/" + senha;
    const std::string anterior = Config ? Config->GetIdSessaoPush() : std::string();
    std::string id =
        Service().login(credencial, Origem::CAU, anterior, DescricaoMaquina(), ExeVersion());
    IdSessao = std::move(id);
    if (Config)
      Config->SetIdSessaoPush(IdSessao);
    AddLog(">Login: " + usuario);
    FileLog("Login " + IdSessao);
  } catch (const TransportError& e) {
    AddErro(
        "Erro de conexão com o servidor. Verifique se o acesso a internet está funcionando e "
        "configurado corretamente.\r\n" +
        std::string(e.what()));
    Cancelado = true;
  } catch (const std::exception& e) {
    AddErro("Erro: [Login] " + std::string(e.what()));
    Cancelado = true;
  }
}

void TfrmAtualizaPush::Logout() {
  if (IdSessao.empty()) {
    AddErro("Não foi possível abrir uma sessão com o servidor.");
    return;
  }
  try {
    const AvisoLogoutVO result = Service().logout(IdSessao);
    AddLog("< Logout");
    FileLog("Logout " + IdSessao);
    MostraContadores(result);
  } catch (const std::exception& e) {
    AddErro("Erro no logout. " + std::string(e.what()));
  }
}

void TfrmAtualizaPush::MostraContadores(const AvisoLogoutVO& result) {
  if (!PushCfg)
    throw Error("Arquivo de estado não disponível.");
  // The state file keeps the month's rule: a new month moves the month's
  // maximum to the previous month's before the new counters are stored.
  PushCfg->SaveLogoutReport(result.sdtAviso, result.numProcessos, result.numProcessosMes);
  lbMaxProcsAnt.SetCaption(std::to_string(PushCfg->GetMaxProcsAnt()));

  const LocalTime zero{1899, 12, 30};
  gbSituacao.SetCaption("Situação em   " +
                        RegionalDateTime(ParseServerStamp(result.sdtAviso).value_or(zero)));
  lbMaxProcs.SetCaption(std::to_string(result.numProcessosMes));
  lbProcs.SetCaption(std::to_string(result.numProcessos));

  FileLog("<> numProcs: " + std::to_string(result.numProcessos));
  FileLog("<> numProcs no Mês: " + std::to_string(result.numProcessosMes));
  FileLog("<> atualizado em " + result.sdtAviso);
  countsFresh_ = true;
}

}  // namespace cau

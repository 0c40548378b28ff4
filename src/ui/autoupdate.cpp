#include "ui/autoupdate.h"

#include <algorithm>
#include <limits>

#include "app/atualizaPush.h"
#include "config/Errors.h"
#include "ui/ReplaceExecutable.h"
#include "ui/UpdateSignature.h"

namespace cau {

HttpUpdateClient::HttpUpdateClient() {
  transport_.SetProxy(ProxySettings{});  // the system's settings
}

HttpGetResponse HttpUpdateClient::Get(const std::string& address,
                                      const DownloadProgress& progress) {
  return transport_.Get(address, progress);
}

void HttpUpdateClient::Disconnect() {
  transport_.Disconnect();
}

TfrmAutoUpdate::TfrmAutoUpdate(AuxDesktop& desktop, UpdateClient& client, std::filesystem::path exe,
                               std::string publicKey)
    : desktop_(desktop), client_(client), exe_(std::move(exe)), publicKey_(std::move(publicKey)) {
  Window.SetVisible(false);
}

void TfrmAutoUpdate::SetObserver(ControlObserver* observer) {
  for (Control* c : {&Window, static_cast<Control*>(&ProgressBar1), &lbStatus, &btnCancela})
    c->SetObserver(observer);
}

void TfrmAutoUpdate::Box(const std::string& text) {
  desktop_.MessageBox(text, std::string(kApplicationTitle), MsgIcon::None, MsgButtons::Ok);
}

void TfrmAutoUpdate::ChecaVersao(const std::string& address) {
  struct CloseAtEnd {
    TfrmAutoUpdate& dialog;
    ~CloseAtEnd() { dialog.Close(); }
  } closeAtEnd{*this};

  btnCancela.SetCaption("Cancela");
  phase_ = Phase::Checking;
  ProgressBar1.SetPosition(0);
  lbStatus.SetCaption("Verificando atualizações...");
  signature_.clear();

  const HttpGetResponse answer =
      client_.Get(address, [this](std::int64_t received, std::int64_t total) {
        HttpCliDownloadProgress(received, total);
      });
  if (answer.status != 200) {
    Box("Erro [" + std::to_string(answer.status) + "] " + answer.statusText);
    return;
  }
  if (answer.truncated)
    throw TransportError("Resposta incompleta do servidor de atualização - endereço: " + address);

  const UpdateAnswer parsed = ParseUpdateAnswer(answer.body);
  if (parsed.url.empty()) {
    phase_ = Phase::Finished;
    return;
  }
  signature_ = parsed.signature;
  Window.SetVisible(true);
  lbStatus.SetCaption("Nova versão encontrada.");
  desktop_.ProcessMessages();
  if (phase_ == Phase::Finished)  // "Cancela" was pressed
    return;
  BaixaVersao(parsed.url);
}

void TfrmAutoUpdate::BaixaVersao(const std::string& address) {
  struct CloseAtEnd {
    TfrmAutoUpdate& dialog;
    ~CloseAtEnd() { dialog.Close(); }
  } closeAtEnd{*this};

  phase_ = Phase::Downloading;
  ProgressBar1.SetPosition(0);
  btnCancela.SetCaption("Cancela");
  lbStatus.SetCaption("Recebendo nova versão...");
  desktop_.ProcessMessages();
  if (phase_ == Phase::Finished)  // "Cancela" was pressed
    return;

  const HttpGetResponse download =
      client_.Get(address, [this](std::int64_t received, std::int64_t total) {
        HttpCliDownloadProgress(received, total);
      });
  if (download.status != 200) {
    Box("Erro no download da atualização. " + std::to_string(download.status) + " " +
        download.statusText);
    return;
  }

  phase_ = Phase::Finished;
  if (signature_.empty() || download.body.empty() || download.truncated ||
      !VerifyUpdateSignature(download.body, signature_, publicKey_)) {
    desktop_.MessageBox(std::string(kNotVerified), std::string(kApplicationTitle), MsgIcon::Warning,
                        MsgButtons::Ok);
    return;
  }
  try {
    ReplaceExecutable(exe_, download.body);
  } catch (const Error&) {
    Box("erro atualizando arquivo");
    return;
  }
  lbStatus.SetCaption("atualizado.");
  desktop_.MessageBox("É necessário reiniciar o programa para que as atualizações tomem efeito.",
                      "Atualizado com sucesso", MsgIcon::Information, MsgButtons::Ok);
}

void TfrmAutoUpdate::btnCancelaClick() {
  if (phase_ != Phase::Finished) {
    lbStatus.SetCaption("Cancelando...");
    phase_ = Phase::Finished;
    client_.Disconnect();
  }
  Close();
}

void TfrmAutoUpdate::HttpCliDownloadProgress(std::int64_t received, std::int64_t total) {
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  ProgressBar1.SetMax(static_cast<int>(std::clamp<std::int64_t>(total, 0, kMax)));
  ProgressBar1.SetPosition(static_cast<int>(std::clamp<std::int64_t>(received, 0, kMax)));
}

void RunUpdateCheck(AuxDesktop& desktop, UpdateClient& client, const std::filesystem::path& exe,
                    const std::string& address, ControlObserver* observer) {
  TfrmAutoUpdate dialog(desktop, client, exe, UpdatePublicKey());
  dialog.SetObserver(observer);
  struct Detach {
    TfrmAutoUpdate& dialog;
    ~Detach() { dialog.SetObserver(nullptr); }
  } detach{dialog};
  dialog.ChecaVersao(address);
}

}  // namespace cau

// The automatic update dialog as a model: the version check against the
// maker's update server, the signed download and the replacement of the
// program's executable. A front end renders Window and its controls and
// forwards "Cancela" to btnCancelaClick; the dialog is shown while
// Window is visible.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/Controls.h"
#include "service/HttpTransport.h"
#include "ui/AuxDesktop.h"
#include "ui/mostraAvisos.h"

namespace cau {

// What the dialog needs of its HTTP client.
class UpdateClient {
 public:
  virtual ~UpdateClient() = default;
  // A status of 300 or more and a failed connection throw TransportError.
  virtual HttpGetResponse Get(const std::string& address, const DownloadProgress& progress) = 0;
  // Closes the open connection; the next Get connects anew.
  virtual void Disconnect() = 0;
};

// The client over libcurl: the system's proxy settings (never the host's),
// nothing cached, "Pragma: no-cache", one persistent connection.
class HttpUpdateClient final : public UpdateClient {
 public:
  HttpUpdateClient();
  HttpGetResponse Get(const std::string& address, const DownloadProgress& progress) override;
  void Disconnect() override;

 private:
  HttpTransport transport_;
};

class TfrmAutoUpdate {
 public:
  enum class Phase { Checking, Downloading, Finished };

  static constexpr std::string_view kCaption = "Atualização automática";
  static constexpr std::string_view kNotVerified =
      "A nova versão recebida não pôde ser verificada e não foi instalada.";

  // `exe`: the executable to replace; `publicKey`: 64 hex digits.
  TfrmAutoUpdate(AuxDesktop& desktop, UpdateClient& client, std::filesystem::path exe,
                 std::string publicKey);
  TfrmAutoUpdate(const TfrmAutoUpdate&) = delete;
  TfrmAutoUpdate& operator=(const TfrmAutoUpdate&) = delete;

  void SetObserver(ControlObserver* observer);

  // Asks `address` for a newer version and, when there is one, downloads
  // and installs it. Every outcome is shown in a box; a failed request
  // (connection, status of 300 or more) is thrown to the caller.
  void ChecaVersao(const std::string& address);
  // Downloads `address`, checks it against the check's signature and puts
  // it in place of the executable.
  void BaixaVersao(const std::string& address);
  void btnCancelaClick();
  void HttpCliDownloadProgress(std::int64_t received, std::int64_t total);

  Phase GetPhase() const { return phase_; }

  // Client area 417 by 68, fixed dialog border, centred on the desktop.
  Control Window{"frmAutoUpdate", {0, 0, 417, 68}, std::string(kCaption)};
  TProgressBar ProgressBar1{"ProgressBar1", {16, 12, 385, 17}};
  TLabel lbStatus{"lbStatus", {16, 32}, "Status"};
  TButton btnCancela{"btnCancela", {328, 33, 75, 25}, "Cancela"};
  static constexpr Placement kPlacement = Placement::DesktopCenter;

 private:
  void Close() { Window.SetVisible(false); }
  void Box(const std::string& text);

  AuxDesktop& desktop_;
  UpdateClient& client_;
  std::filesystem::path exe_;
  std::string publicKey_;
  std::string signature_;  // from the check's answer
  Phase phase_ = Phase::Finished;
};

// What the main window's "Procura nova versão..." does: a hidden dialog,
// its check of `address`, then the dialog is gone. `observer` (may be null)
// sees the dialog's controls meanwhile. Failures of the request are thrown.
void RunUpdateCheck(AuxDesktop& desktop, UpdateClient& client, const std::filesystem::path& exe,
                    const std::string& address, ControlObserver* observer = nullptr);

}  // namespace cau

// The notices window as a model: the notices held in "avisos.txt" of the
// working directory, the page that lists them, its links, and the browser
// operation the main window also uses. A front end renders Window and
// HTMLViewer1 and forwards link clicks to HTMLViewer1HotSpotClick.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/Controls.h"
#include "ui/AuxDesktop.h"

namespace cau {

// A view of one page given as HTML text.
class THtmlView : public Control {
 public:
  using Control::Control;
  const std::string& Html() const { return html_; }
  void LoadFromString(std::string_view html);
  void Clear() { LoadFromString({}); }

 private:
  std::string html_;
};

// Where a window is placed when shown.
enum class Placement { DesktopCenter, MainFormCenter };

class TfrmMostraAvisos {
 public:
  static constexpr std::string_view kCaption = "Avisos - Atualizador Push";
  static constexpr std::string_view kNoBrowser =
      "Não foi possível abrir o programa de navegação padrão do seu computador";

  // `file`: the notices file, by default "avisos.txt" of the working directory.
  explicit TfrmMostraAvisos(AuxDesktop& desktop, std::filesystem::path file = "avisos.txt");
  // Runs FormDestroy when nobody did.
  ~TfrmMostraAvisos();
  TfrmMostraAvisos(const TfrmMostraAvisos&) = delete;
  TfrmMostraAvisos& operator=(const TfrmMostraAvisos&) = delete;

  void SetObserver(ControlObserver* observer);

  // Loads the notices file when it exists. A file that cannot be read gets
  // a box and is left alone at exit.
  void FormCreate();
  // Writes the notices back, or deletes the file when there are none; does
  // nothing unless FormCreate ran.
  void FormDestroy();

  int NoticeCount() const { return static_cast<int>(notices_.size()); }
  const std::vector<std::string>& Notices() const { return notices_; }
  // Shows the notices page; with no notice, nothing.
  void ShowNotices();
  // Shows `html` in place of what the view showed (the about page).
  void ShowHtml(std::string_view html);
  // Opens `address` in the default browser; a box when that fails.
  void OpenInBrowser(const std::string& address);
  // A link of the page was clicked.
  void HTMLViewer1HotSpotClick(const std::string& target);

  // The page that lists `notices`.
  static std::string NoticesPage(const std::vector<std::string>& notices);

  // Outer size 546 by 290, centred on the main window, sizeable tool window.
  Control Window{"frmMostraAvisos", {0, 0, 546, 290}, std::string(kCaption)};
  THtmlView HTMLViewer1{"HTMLViewer1", {0, 0, 0, 0}};
  static constexpr Placement kPlacement = Placement::MainFormCenter;

 private:
  AuxDesktop& desktop_;
  std::filesystem::path file_;
  std::vector<std::string> notices_;
  bool unreadable_ = false;  // the file exists but could not be read: never touch it
  bool created_ = false;
  bool destroyed_ = false;
};

}  // namespace cau

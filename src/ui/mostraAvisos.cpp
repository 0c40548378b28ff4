#include "ui/mostraAvisos.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "config/Cp1252.h"
#include "config/Errors.h"
#include "config/IniFile.h"

namespace cau {

namespace {

constexpr std::string_view kAttention = "Atenção";

// The lines of the file's bytes: CR LF ends a line (a bare LF too); a last
// line without an end counts.
std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos)
      end = bytes.size();
    std::size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r')
      --stop;
    lines.push_back(text::FromCp1252(std::string_view(bytes).substr(start, stop - start)));
    start = end + 1;
  }
  return lines;
}

}  // namespace

void THtmlView::LoadFromString(std::string_view html) {
  html_ = html;
  Notify();
}

TfrmMostraAvisos::TfrmMostraAvisos(AuxDesktop& desktop, std::filesystem::path file)
    : desktop_(desktop), file_(std::move(file)) {
  Window.SetVisible(false);
}

TfrmMostraAvisos::~TfrmMostraAvisos() {
  try {
    FormDestroy();
  } catch (...) {
    // A destructor reports nothing further; FormDestroy showed its box.
  }
}

void TfrmMostraAvisos::SetObserver(ControlObserver* observer) {
  Window.SetObserver(observer);
  HTMLViewer1.SetObserver(observer);
}

void TfrmMostraAvisos::FormCreate() {
  notices_.clear();
  unreadable_ = false;
  created_ = true;
  destroyed_ = false;
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec))
    return;
  std::string bytes;
  std::string why;
  if (!std::filesystem::is_regular_file(file_, ec)) {
    why = "não é um arquivo";
  } else {
    std::ifstream in(file_, std::ios::binary);
    if (!in.is_open()) {
      why = std::strerror(errno);
    } else {
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad())
        why = "erro de leitura";
    }
  }
  if (!why.empty()) {
    unreadable_ = true;
    desktop_.MessageBox(
        "Não foi possível ler o arquivo de avisos \"" + file_.string() + "\": " + why,
        std::string(kAttention), MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  notices_ = SplitLines(bytes);
}

void TfrmMostraAvisos::FormDestroy() {
  if (!created_ || destroyed_)
    return;
  destroyed_ = true;
  if (unreadable_)
    return;
  try {
    if (notices_.empty()) {
      std::error_code ec;
      std::filesystem::remove(file_, ec);
      if (ec)
        throw FileError(file_.string(), "Não foi possível apagar o arquivo de avisos \"" +
                                            file_.string() + "\": " + ec.message());
      return;
    }
    std::string bytes;
    for (const std::string& line : notices_)
      bytes += text::ToCp1252(line) + "\r\n";
    WriteFileAtomically(file_, bytes);
  } catch (const std::exception& e) {
    desktop_.MessageBox(e.what(), std::string(kAttention), MsgIcon::Warning, MsgButtons::Ok);
  }
}

std::string TfrmMostraAvisos::NoticesPage(const std::vector<std::string>& notices) {
  std::string page =
      "<style type=\"text/css\">\r\n"
      "ul { list-style-type:none; padding:3px 0 20px 0; border-top:2px; margin:10px 0 }\r\n"
      "li a:hover { background-color:#3C72B0; color:#FFFFFF;}\r\n"
      "li { padding: 5px; margin: 2px; border: solid 1px; }\r\n"
      "</style>\r\n"
      "<ul>\r\n";
  for (const std::string& notice : notices)
    page += "<li>" + notice + "</li>\r\n";
  page += "</ul>\r\n<p></p><a href=\"#removeAviso\">Limpa mensagens</a>";
  return page;
}

void TfrmMostraAvisos::ShowNotices() {
  if (notices_.empty())
    return;
  HTMLViewer1.LoadFromString(NoticesPage(notices_));
  Window.SetVisible(true);
}

void TfrmMostraAvisos::ShowHtml(std::string_view html) {
  HTMLViewer1.LoadFromString(html);
  Window.SetVisible(true);
}

void TfrmMostraAvisos::OpenInBrowser(const std::string& address) {
  if (!desktop_.ShellOpen(address))
    desktop_.MessageBox(std::string(kNoBrowser), std::string(kAttention), MsgIcon::Information,
                        MsgButtons::Ok);
}

void TfrmMostraAvisos::HTMLViewer1HotSpotClick(const std::string& target) {
  if (target.find("http://") != std::string::npos) {
    OpenInBrowser(target);
  } else if (target.find("#removeAviso") != std::string::npos) {
    notices_.clear();
    HTMLViewer1.Clear();
  }
}

}  // namespace cau

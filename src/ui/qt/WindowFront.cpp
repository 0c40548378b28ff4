#include "ui/qt/WindowFront.h"

#include <cstdlib>
#include <utility>

#include <QApplication>

namespace cau {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return true;
  }
  return false;
}

WindowFront::WindowFront(FormEnvironment environment)
    : desktop_(environment.exePath),
      form_(std::make_unique<TfrmAtualizaPush>(desktop_, std::move(environment))),
      view_(std::make_unique<MainWindow>(*form_)) {
  desktop_.Attach(view_.get());
}

WindowFront::~WindowFront() {
  desktop_.Attach(nullptr);
}

TfrmAtualizaPush::StartUp WindowFront::Start() {
  startUp_ = form_->FormCreate();
  if (startUp_ != TfrmAtualizaPush::StartUp::Ended) {
    desktop_.CreateNotices(view_.get());
    view_->ShowCentred();
  }
  return startUp_;
}

int WindowFront::Finish() {
  form_->FormDestroy();
  desktop_.DestroyNotices();
  return ExitStatus(startUp_, form_->Run());
}

int RunWindow(int& argc, char** argv, const std::vector<std::string>& args,
              const std::string& exePath) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(
      kApplicationTitle.data(), static_cast<qsizetype>(kApplicationTitle.size())));
  WindowFront front(FormEnvironment{args, exePath, nullptr, nullptr, nullptr});
  if (front.Start() != TfrmAtualizaPush::StartUp::Ended)
    QApplication::exec();
  return front.Finish();
}

}  // namespace cau

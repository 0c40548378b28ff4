// A desktop for the auxiliary windows that keeps every box, every shell
// "open" and every visibility change of the windows it observes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "ui/AuxDesktop.h"

namespace cau::test {

struct Box {
  std::string text, caption;
  MsgIcon icon = MsgIcon::None;
  MsgButtons buttons = MsgButtons::Ok;
};

class AuxRecorder : public AuxDesktop, public ControlObserver {
 public:
  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                       MsgButtons buttons) override {
    boxes.push_back({text, caption, icon, buttons});
    return MsgAnswer::Ok;
  }
  void ProcessMessages() override {
    ++messagePoints;
    if (onMessages)
      onMessages();
  }
  bool ShellOpen(const std::string& address) override {
    opened.push_back(address);
    return openSucceeds;
  }
  void Changed(const Control& control) override {
    if (control.Name().starts_with("frm"))
      shown.push_back(control.Visible());
    else if (control.Name() == "lbStatus")
      statuses.push_back(control.Caption());
  }
  void LineAdded(const TLogPane&, const LogLine&) override {}

  bool EverShown() const {
    for (bool v : shown)
      if (v)
        return true;
    return false;
  }

  std::vector<Box> boxes;
  std::vector<std::string> opened;
  std::vector<bool> shown;  // each visibility change of a window
  std::vector<std::string> statuses;
  int messagePoints = 0;
  bool openSucceeds = true;
  std::function<void()> onMessages;  // what the user does at a message point
};

}  // namespace cau::test

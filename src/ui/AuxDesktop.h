// What the notices window and the update dialog need from the desktop they
// run on: message boxes, the message loop and the shell's "open" action.
// Each front end implements it; so do the tests.
#pragma once

#include <string>

#include "app/Desktop.h"

namespace cau {

class AuxDesktop {
 public:
  virtual ~AuxDesktop() = default;

  // Shows a box and waits for the answer.
  virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                               MsgButtons buttons) = 0;
  // Lets pending window messages (and with them the dialog's button) run.
  virtual void ProcessMessages() = 0;
  // The shell's "open" action on a file or address with the system's
  // default program; false when no program could be started.
  virtual bool ShellOpen(const std::string& address) = 0;
};

}  // namespace cau

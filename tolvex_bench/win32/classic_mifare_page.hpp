// The "ClassMifare" tab: a thin view of the Mifare page model.
#pragma once

#include "dialog_window.hpp"

namespace tolvex::bench::win32 {

class CClassicMifare final : public DialogWindow {
 public:
  explicit CClassicMifare(PageCommands &commands);

 private:
  PageCommands &commands_;
};

}  // namespace tolvex::bench::win32

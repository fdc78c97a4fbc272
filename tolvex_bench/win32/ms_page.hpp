// The "MS/IC" tab: a thin view of the magnetic-stripe and IC-card page model.
#pragma once

#include "dialog_window.hpp"

namespace tolvex::bench::win32 {

class CMsDlg final : public DialogWindow {
 public:
  explicit CMsDlg(PageCommands &commands);

 private:
  PageCommands &commands_;
};

}  // namespace tolvex::bench::win32

// The "Setting" tab: a thin view of the Setting page model.
#pragma once

#include "dialog_window.hpp"

namespace tolvex::bench::win32 {

class CSetting final : public DialogWindow {
 public:
  explicit CSetting(PageCommands &commands);

 private:
  PageCommands &commands_;
};

}  // namespace tolvex::bench::win32

// The "Setting" tab: a thin view of the Setting page model.
#pragma once

#include "dialog_window.hpp"
#include "setting_page_model.hpp"

namespace tolvex::bench::win32 {

class CSetting final : public DialogWindow {
 public:
  explicit CSetting(PageCommands &commands);

  SettingPageModel &model() { return model_; }

 protected:
  void on_init() override;

 private:
  SettingPageModel model_;
};

}  // namespace tolvex::bench::win32

// The "MS/IC" tab: a thin view of the magnetic-stripe and IC-card page model.
#pragma once

#include "dialog_window.hpp"
#include "ms_page_model.hpp"

namespace tolvex::bench::win32 {

class CMsDlg final : public DialogWindow {
 public:
  explicit CMsDlg(PageCommands &commands);

  MsPageModel &model() { return model_; }

 protected:
  void on_init() override;

 private:
  MsPageModel model_;
};

}  // namespace tolvex::bench::win32

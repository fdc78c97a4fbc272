// The "ClassMifare" tab: a thin view of the Mifare page model.
#pragma once

#include "dialog_window.hpp"
#include "mifare_page_model.hpp"

namespace tolvex::bench::win32 {

class CClassicMifare final : public DialogWindow {
 public:
  explicit CClassicMifare(PageCommands &commands);

  MifarePageModel &model() { return model_; }

 protected:
  void on_init() override;

 private:
  MifarePageModel model_;
};

}  // namespace tolvex::bench::win32

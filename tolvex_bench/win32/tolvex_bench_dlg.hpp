// The main dialog: report window, transport and status buttons, the View list and the
// tab control with the four pages. The program's only top-level window.
#pragma once

#include <memory>

#include "bench_dialog_model.hpp"
#include "dialog_window.hpp"
#include "my_tab_ctrl.hpp"
#include "win32_commands.hpp"

namespace tolvex::bench::win32 {

class CAboutDlg final : public DialogWindow {
 public:
  CAboutDlg();

 protected:
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) override;
};

class CTolvexBenchDlg final : public DialogWindow {
 public:
  CTolvexBenchDlg();
  ~CTolvexBenchDlg() override;

  CMyTabCtrl &tab_ctrl() { return *tabs_; }
  Win32Commands &commands() { return *commands_; }
  BenchDialogModel &model() { return *model_; }
  void show_about();

  // Runs the message loop until the window is gone; the program's exit code.
  int run();

 protected:
  void on_init() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) override;

 private:
  std::unique_ptr<Win32Commands> commands_;
  std::unique_ptr<CMyTabCtrl> tabs_;
  std::unique_ptr<BenchDialogModel> model_;
};

}  // namespace tolvex::bench::win32

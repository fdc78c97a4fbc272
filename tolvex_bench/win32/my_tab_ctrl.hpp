// The tab control of the main dialog and the four pages it hosts as child dialogs.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "aging_page.hpp"
#include "classic_mifare_page.hpp"
#include "ms_page.hpp"
#include "setting_page.hpp"

namespace tolvex::bench::win32 {

class CMyTabCtrl {
 public:
  // Takes the dialog's tab control and creates the pages inside it.
  CMyTabCtrl(HWND tab, PageCommands &commands);

  HWND hwnd() const { return tab_; }
  int current() const;
  DialogWindow &page(int index);
  CSetting &setting_page() { return setting_; }
  CClassicMifare &mifare_page() { return mifare_; }
  CMsDlg &ms_page() { return ms_; }
  CAging &aging_page() { return aging_; }

  // Asked before the selection leaves `from`; false keeps it there.
  void set_change_rule(std::function<bool(int from)> rule) { may_leave_ = std::move(rule); }

  // The tab control's notifications (WM_NOTIFY from it): true when handled, with the
  // notification's result in `result`.
  bool notify(const NMHDR &header, INT_PTR &result);

  // Shows page `index` and hides the others.
  void show_page(int index);

 private:
  HWND tab_;
  CSetting setting_;
  CClassicMifare mifare_;
  CMsDlg ms_;
  CAging aging_;
  std::function<bool(int)> may_leave_;
};

}  // namespace tolvex::bench::win32

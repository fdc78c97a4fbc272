// PageView over a dialog: each model control is one control ID of the dialog.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>

#include "page_view.hpp"

namespace tolvex::bench::win32 {

// Text of a model ("\n" line ends) for a multi-line edit ("\r\n"), and back.
std::wstring to_edit_lines(std::wstring_view text);
std::wstring from_edit_lines(std::wstring_view text);

class Win32PageView final : public PageView {
 public:
  Win32PageView() = default;
  Win32PageView(HWND dialog, std::initializer_list<std::pair<const int, int>> ids) : dialog_(dialog), ids_(ids) {}

  void attach(HWND dialog) { dialog_ = dialog; }
  void bind(int control, int id) { ids_[control] = id; }
  HWND item(int control) const;

  std::wstring text(int control) const override;
  void set_text(int control, std::wstring_view text) override;
  bool checked(int control) const override;
  void set_checked(int control, bool on) override;
  void set_items(int control, const std::vector<std::wstring> &items) override;
  int selection(int control) const override;
  void set_selection(int control, int index) override;
  void set_enabled(int control, bool on) override;
  void message(std::wstring_view text) override;
  bool ask(std::wstring_view text) override;

 private:
  HWND dialog_ = nullptr;
  std::map<int, int> ids_;
};

// Window text of any window, whole.
std::wstring window_text(HWND window);
// A message box of the bench, owned by the window's top-level window.
int bench_message_box(HWND owner, std::wstring_view text, UINT type);

}  // namespace tolvex::bench::win32

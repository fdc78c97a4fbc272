// A dialog from a template of the resource, its procedure forwarded to an object, and
// the wiring every view of a model needs: model controls to control IDs (the view) and
// control notifications to handlers.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <utility>

#include "win32_page_view.hpp"

namespace tolvex::bench::win32 {

class DialogWindow {
 public:
  explicit DialogWindow(int template_id) : template_id_(template_id) {}
  virtual ~DialogWindow();
  DialogWindow(const DialogWindow &) = delete;
  DialogWindow &operator=(const DialogWindow &) = delete;

  // A modeless dialog (a page when `parent` hosts it), or a modal one (its end code).
  HWND create(HWND parent);
  INT_PTR show_modal(HWND owner);

  HWND hwnd() const { return hwnd_; }
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  PageView &view() { return view_; }

  // Model control `control` is the dialog's control `id`.
  void bind(int control, int id) { view_.bind(control, id); }
  // `handler` runs when control `id` notifies `code` (BN_CLICKED, CBN_SELCHANGE, EN_CHANGE, ...).
  void on(int id, int code, std::function<void()> handler) { handlers_[{id, code}] = std::move(handler); }

 protected:
  // After the controls exist (WM_INITDIALOG): the forms' length limits are applied.
  virtual void on_init() {}
  // Every other message; true when handled (DWLP_MSGRESULT set where it matters).
  virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result);

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  int template_id_;
  HWND hwnd_ = nullptr;
  Win32PageView view_;
  std::map<std::pair<int, int>, std::function<void()>> handlers_;
};

// The length limits of the forms' boxes, applied to a dialog made from `template_id`.
void apply_length_limits(HWND dialog, int template_id);

}  // namespace tolvex::bench::win32

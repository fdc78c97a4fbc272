#include "dialog_window.hpp"

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

struct LengthLimit {
  int dialog;
  int box;
  int most;
};

constexpr LengthLimit kLimits[] = {
#include "tolvex_bench_limits.inc"
    {0, 0, 0},
};

}  // namespace

void apply_length_limits(HWND dialog, int template_id) {
  for (const LengthLimit &limit : kLimits) {
    if (limit.dialog == template_id) SendDlgItemMessageW(dialog, limit.box, EM_LIMITTEXT, limit.most, 0);
  }
}

DialogWindow::~DialogWindow() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

HWND DialogWindow::create(HWND parent) {
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_), parent, &procedure,
                     reinterpret_cast<LPARAM>(this));
  return hwnd_;
}

INT_PTR DialogWindow::show_modal(HWND owner) {
  const INT_PTR code = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_), owner, &procedure,
                                       reinterpret_cast<LPARAM>(this));
  hwnd_ = nullptr;
  return code;
}

bool DialogWindow::on_message(UINT message, WPARAM wparam, LPARAM /*lparam*/, INT_PTR & /*result*/) {
  if (message != WM_COMMAND) return false;
  const auto found = handlers_.find({LOWORD(wparam), HIWORD(wparam)});
  if (found == handlers_.end()) return false;
  found->second();
  return true;
}

INT_PTR CALLBACK DialogWindow::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto *self = reinterpret_cast<DialogWindow *>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->hwnd_ = window;
    self->view_.attach(window);
    apply_length_limits(window, self->template_id_);
    self->on_init();
    return TRUE;
  }
  auto *self = reinterpret_cast<DialogWindow *>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  INT_PTR result = TRUE;
  if (!self->on_message(message, wparam, lparam, result)) return FALSE;
  if (message == WM_NOTIFY) SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace tolvex::bench::win32

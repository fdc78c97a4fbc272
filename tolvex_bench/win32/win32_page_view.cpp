#include "win32_page_view.hpp"

#include <cwctype>

namespace tolvex::bench::win32 {

namespace {

bool is_multi_line(HWND edit) { return (GetWindowLongW(edit, GWL_STYLE) & ES_MULTILINE) != 0; }

bool is_edit(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return _wcsicmp(name, L"Edit") == 0;
}

}  // namespace

std::wstring to_edit_lines(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

std::wstring from_edit_lines(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    out += text[i];
  }
  return out;
}

std::wstring window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

int bench_message_box(HWND owner, std::wstring_view text, UINT type) {
  const std::wstring copy(text);
  HWND top = owner != nullptr ? GetAncestor(owner, GA_ROOT) : nullptr;
  return MessageBoxW(top, copy.c_str(), L"tolvex_bench", type);
}

HWND Win32PageView::item(int control) const {
  const auto found = ids_.find(control);
  return found == ids_.end() ? nullptr : GetDlgItem(dialog_, found->second);
}

std::wstring Win32PageView::text(int control) const {
  HWND window = item(control);
  if (window == nullptr) return {};
  const std::wstring shown = window_text(window);
  return is_edit(window) && is_multi_line(window) ? from_edit_lines(shown) : shown;
}

void Win32PageView::set_text(int control, std::wstring_view text) {
  HWND window = item(control);
  if (window == nullptr) return;
  const std::wstring shown = is_edit(window) && is_multi_line(window) ? to_edit_lines(text) : std::wstring(text);
  SetWindowTextW(window, shown.c_str());
}

bool Win32PageView::checked(int control) const {
  HWND window = item(control);
  return window != nullptr && SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32PageView::set_checked(int control, bool on) {
  if (HWND window = item(control)) SendMessageW(window, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32PageView::set_items(int control, const std::vector<std::wstring> &items) {
  HWND window = item(control);
  if (window == nullptr) return;
  SendMessageW(window, CB_RESETCONTENT, 0, 0);
  for (const std::wstring &entry : items) SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

int Win32PageView::selection(int control) const {
  HWND window = item(control);
  if (window == nullptr) return -1;
  const LRESULT index = SendMessageW(window, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32PageView::set_selection(int control, int index) {
  if (HWND window = item(control)) SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32PageView::set_enabled(int control, bool on) {
  if (HWND window = item(control)) EnableWindow(window, on ? TRUE : FALSE);
}

void Win32PageView::message(std::wstring_view text) { bench_message_box(dialog_, text, MB_OK); }

bool Win32PageView::ask(std::wstring_view text) {
  return bench_message_box(dialog_, text, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

}  // namespace tolvex::bench::win32

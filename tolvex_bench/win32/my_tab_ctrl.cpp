#include "my_tab_ctrl.hpp"

#include <commctrl.h>

#include <array>

namespace tolvex::bench::win32 {

CMyTabCtrl::CMyTabCtrl(HWND tab, PageCommands &commands)
    : tab_(tab), setting_(commands), mifare_(commands), ms_(commands), aging_(commands) {
  // The pages are the tab control's children: it clips them and Tab walks into them.
  SetWindowLongPtrW(tab_, GWL_STYLE, GetWindowLongPtrW(tab_, GWL_STYLE) | WS_CLIPCHILDREN);
  SetWindowLongPtrW(tab_, GWL_EXSTYLE, GetWindowLongPtrW(tab_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  const std::array<const wchar_t *, 4> names = {L"Setting", L"ClassMifare", L"MS/IC", L"Aging"};
  for (int i = 0; i < static_cast<int>(names.size()); ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t *>(names[static_cast<std::size_t>(i)]);
    SendMessageW(tab_, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  RECT area;
  GetClientRect(tab_, &area);
  SendMessageW(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (int i = 0; i < 4; ++i) {
    HWND page_window = page(i).create(tab_);
    SetWindowPos(page_window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOACTIVATE);
  }
  show_page(0);
}

int CMyTabCtrl::current() const { return static_cast<int>(SendMessageW(tab_, TCM_GETCURSEL, 0, 0)); }

DialogWindow &CMyTabCtrl::page(int index) {
  switch (index) {
    case 0: return setting_;
    case 1: return mifare_;
    case 2: return ms_;
    default: return aging_;
  }
}

void CMyTabCtrl::show_page(int index) {
  if (current() != index) SendMessageW(tab_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  for (int i = 0; i < 4; ++i) ShowWindow(page(i).hwnd(), i == index ? SW_SHOW : SW_HIDE);
}

bool CMyTabCtrl::notify(const NMHDR &header, INT_PTR &result) {
  if (header.hwndFrom != tab_) return false;
  if (header.code == TCN_SELCHANGING) {
    result = (may_leave_ && !may_leave_(current())) ? TRUE : FALSE;
    return true;
  }
  if (header.code == TCN_SELCHANGE) {
    show_page(current());
    result = 0;
    return true;
  }
  return false;
}

}  // namespace tolvex::bench::win32

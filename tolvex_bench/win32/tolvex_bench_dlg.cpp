#include "tolvex_bench_dlg.hpp"

#include <commctrl.h>

#include <utility>

#include "aging_page_model.hpp"
#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

// The About entry of the system menu (system commands below 0xF000, multiples of 16).
constexpr UINT kAboutCommand = 0x0010;

using Model = BenchDialogModel;

constexpr std::pair<int, int> kDialogControls[] = {
    {Model::StackerList, IDC_comboStacker}, {Model::DestinationList, IDC_comboDestination},
    {Model::ViewList, IDC_comboView},       {Model::FromSt, IDC_buttonFromSt},
    {Model::StandBy, IDC_buttonStandBy},    {Model::Eject, IDC_buttonEject},
    {Model::Drop, IDC_buttonDrop},          {Model::Capture, IDC_buttonCapture},
    {Model::StStatus, IDC_buttonStStatus},  {Model::Position, IDC_buttonPosition},
    {Model::Model, IDC_buttonModel},        {Model::RomVer, IDC_buttonRomVer},
};

constexpr std::pair<int, void (BenchDialogModel::*)()> kDialogButtons[] = {
    {IDC_buttonFromSt, &Model::from_st},    {IDC_buttonStandBy, &Model::stand_by},
    {IDC_buttonEject, &Model::eject},       {IDC_buttonDrop, &Model::drop},
    {IDC_buttonCapture, &Model::capture},   {IDC_buttonStStatus, &Model::st_status},
    {IDC_buttonPosition, &Model::position}, {IDC_buttonModel, &Model::model},
    {IDC_buttonRomVer, &Model::rom_ver},
};

// The Aging page's model, whose run holds the tabs and ends on closing; none while the
// page has no model of its own.
template <class Page>
AgingPageModel *aging_model_of(Page &page) {
  if constexpr (requires { page.model(); }) {
    return &page.model();
  } else {
    return nullptr;
  }
}

}  // namespace

CAboutDlg::CAboutDlg() : DialogWindow(IDD_CAboutDlg) {}

bool CAboutDlg::on_message(UINT message, WPARAM wparam, LPARAM /*lparam*/, INT_PTR & /*result*/) {
  if (message == WM_COMMAND && (LOWORD(wparam) == IDC_buttonOk || LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(hwnd(), IDOK);
    return true;
  }
  return false;
}

CTolvexBenchDlg::CTolvexBenchDlg() : DialogWindow(IDD_CTolvexBenchDlg) {}

CTolvexBenchDlg::~CTolvexBenchDlg() { remove_library_messages(); }

void CTolvexBenchDlg::on_init() {
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOLVEX_BENCH));
  SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  if (HMENU system = GetSystemMenu(hwnd(), FALSE)) {
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, kAboutCommand, L"tolvex_bench 정보(&A)...");
  }
  commands_ = std::make_unique<Win32Commands>(hwnd(), item(IDC_reportEdit));
  tabs_ = std::make_unique<CMyTabCtrl>(item(IDC_tabCtrl), *commands_);

  model_ = std::make_unique<BenchDialogModel>(view(), *commands_, aging_model_of(tabs_->aging_page()));
  for (const auto &[control, id] : kDialogControls) bind(control, id);
  model_->init();
  for (const auto &[id, handler] : kDialogButtons) {
    on(id, BN_CLICKED, [this, handler = handler] { ((*model_).*handler)(); });
  }
  commands_->set_view_mode_source([this] { return model_->view_mode(); });
  tabs_->set_change_rule([this](int /*from*/) { return model_->may_leave_aging_tab(); });
  install_library_messages(hwnd());
}

void CTolvexBenchDlg::show_about() {
  CAboutDlg about;
  about.show_modal(hwnd());
}

bool CTolvexBenchDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) {
  switch (message) {
    case WM_NOTIFY:
      return tabs_ && tabs_->notify(*reinterpret_cast<const NMHDR *>(lparam), result);
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != kAboutCommand) return false;
      show_about();
      return true;
    case WM_HELP:
      show_about();
      return true;
    case WM_COMMAND:
      // Enter away from a button, and Escape, close the window as the dialog's OK and Cancel.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        return true;
      }
      return DialogWindow::on_message(message, wparam, lparam, result);
    case WM_CLOSE:
      // A command in flight is stopped first (an aging run ends after it); the window
      // goes once its wait has ended.
      model_->close();
      if (commands_->may_close()) DestroyWindow(hwnd());
      return true;
    case WM_DESTROY:
      remove_library_messages();
      PostQuitMessage(0);
      return true;
    case kLibraryMessage:
      bench_message_box(hwnd(), take_library_message(lparam), MB_OK);
      return true;
    default:
      return DialogWindow::on_message(message, wparam, lparam, result);
  }
}

int CTolvexBenchDlg::run() {
  ShowWindow(hwnd(), SW_SHOW);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F1 && GetAncestor(msg.hwnd, GA_ROOT) == hwnd()) {
      show_about();
      continue;
    }
    if (!IsDialogMessageW(hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace tolvex::bench::win32

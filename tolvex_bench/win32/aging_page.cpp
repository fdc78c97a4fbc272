#include "aging_page.hpp"

#include <commctrl.h>

#include <string>
#include <utility>

#include "plot_painter.hpp"
#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

using Model = AgingPageModel;

constexpr std::pair<int, int> kControls[] = {
    {Model::Count, IDC_editCount},
    {Model::Remain, IDC_editRemain},
    {Model::Ms, IDC_radioMs},
    {Model::Ic, IDC_radioIc},
    {Model::Rf, IDC_radioRf},
    {Model::AllRead, IDC_checkAllRead},
    {Model::Stacker, IDC_checkStacker},
    {Model::StackerList, IDC_comboStacker},
    {Model::EjectCapture, IDC_checkEjectCapture},
    {Model::Rotation, IDC_checkRotation},
    {Model::Write1, IDC_checkWrite1},
    {Model::Write2, IDC_checkWrite2},
    {Model::Write3, IDC_checkWrite3},
    {Model::Read1, IDC_checkRead1},
    {Model::Read2, IDC_checkRead2},
    {Model::Read3, IDC_checkRead3},
    {Model::WriteText1, IDC_editWrite1},
    {Model::WriteText2, IDC_editWrite2},
    {Model::WriteText3, IDC_editWrite3},
    {Model::ReadText1, IDC_editRead1},
    {Model::ReadText2, IDC_editRead2},
    {Model::ReadText3, IDC_editRead3},
    {Model::IcInput, IDC_editIcInput},
    {Model::IcOutput, IDC_editIcOutput},
    {Model::RfInput, IDC_editRfInput},
    {Model::RfOutput, IDC_editRfOutput},
    {Model::Error1, IDC_labelError1},
    {Model::Error2, IDC_labelError2},
    {Model::Error3, IDC_labelError3},
    {Model::Error4, IDC_labelError4},
    {Model::Error5, IDC_labelError5},
    {Model::Start, IDC_buttonStart},
    {Model::Stop, IDC_buttonStop},
    {Model::Wr, IDC_buttonWr},
    {Model::Rd, IDC_buttonRd},
    {Model::Status, IDC_labelStatus},
    {Model::Record, IDC_labelRecord},
};

constexpr std::pair<int, void (Model::*)()> kButtons[] = {
    {IDC_buttonStart, &Model::start}, {IDC_buttonStop, &Model::stop},
    {IDC_buttonWr, &Model::wr},       {IDC_buttonRd, &Model::rd},
    {IDC_checkAllRead, &Model::all_read_changed}, {IDC_radioMs, &Model::kind_changed},
    {IDC_radioIc, &Model::kind_changed},          {IDC_radioRf, &Model::kind_changed},
};

}  // namespace

CAging::CAging(PageCommands &commands)
    : DialogWindow(IDD_CAging), commands_(commands), model_(view(), *this, commands) {}

void CAging::on_init() {
  for (const auto &[control, id] : kControls) bind(control, id);
  for (const auto &[id, handler] : kButtons) {
    on(id, BN_CLICKED, [this, handler = handler] { (model_.*handler)(); });
  }
  // The status line's tip: the whole summary of the last run. A static control
  // reports the mouse to the tip only with SS_NOTIFY.
  HWND status = item(IDC_labelStatus);
  SetWindowLongPtrW(status, GWL_STYLE, GetWindowLongPtrW(status, GWL_STYLE) | SS_NOTIFY);
  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                         GetModuleHandleW(nullptr), nullptr);
  if (tip_ != nullptr) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(status);
    tool.lpszText = const_cast<wchar_t *>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
  }
  model_.init();
}

bool CAging::on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) {
  if (message == WM_DRAWITEM && wparam == IDC_framePlot) {
    const auto *draw = reinterpret_cast<const DRAWITEMSTRUCT *>(lparam);
    paint_plot(draw->hDC, draw->rcItem, plot_);
    result = TRUE;
    return true;
  }
  return DialogWindow::on_message(message, wparam, lparam, result);
}

void CAging::pause(std::chrono::milliseconds duration) {
  pause_cut_ = false;
  pump_messages(GetAncestor(hwnd(), GA_ROOT), nullptr, [this] { return pause_cut_ || commands_.shutting_down(); },
                std::chrono::steady_clock::now() + duration, quit_);
  pause_cut_ = false;
  quit_.post_again();
}

void CAging::redraw_plot(const AgingPlot &plot) {
  plot_ = plot;
  InvalidateRect(item(IDC_framePlot), nullptr, FALSE);
}

void CAging::set_progress(std::int32_t value, std::int32_t maximum) {
  HWND bar = item(IDC_progressCycles);
  SendMessageW(bar, PBM_SETRANGE32, 0, maximum);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void CAging::set_status_tip(std::wstring_view tip) {
  if (tip_ == nullptr) return;
  std::wstring text(tip);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(item(IDC_labelStatus));
  tool.lpszText = text.data();
  SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tip_, TTM_ACTIVATE, text.empty() ? FALSE : TRUE, 0);
}

}  // namespace tolvex::bench::win32

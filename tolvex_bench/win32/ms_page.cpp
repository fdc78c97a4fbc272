#include "ms_page.hpp"

#include <utility>

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

using Model = MsPageModel;

constexpr std::pair<int, int> kMsControls[] = {
    {Model::Coercivity, IDC_comboCoercivity},
    {Model::Write1, IDC_editWrite1},      {Model::Write2, IDC_editWrite2},      {Model::Write3, IDC_editWrite3},
    {Model::Read1, IDC_editRead1},        {Model::Read2, IDC_editRead2},        {Model::Read3, IDC_editRead3},
    {Model::WriteCheck1, IDC_checkWr1},   {Model::WriteCheck2, IDC_checkWr2},   {Model::WriteCheck3, IDC_checkWr3},
    {Model::ReadCheck1, IDC_checkRd1},    {Model::ReadCheck2, IDC_checkRd2},    {Model::ReadCheck3, IDC_checkRd3},
    {Model::Hint1, IDC_labelHint1},       {Model::Hint2, IDC_labelHint2},       {Model::Hint3, IDC_labelHint3},
    {Model::Cla, IDC_editCLA},            {Model::Ins, IDC_editINS},            {Model::P1, IDC_editP1},
    {Model::P2, IDC_editP2},              {Model::Lc, IDC_editLc},              {Model::LcData, IDC_editLcData},
    {Model::Le, IDC_editLe},              {Model::ResultTitle, IDC_labelSwTitle},
    {Model::Result, IDC_labelStatusWord},
};

constexpr std::pair<int, void (MsPageModel::*)()> kMsButtons[] = {
    {IDC_buttonAllSelect, &MsPageModel::all_select}, {IDC_buttonMsSelect, &MsPageModel::ms_select},
    {IDC_buttonMsExecute, &MsPageModel::ms_execute}, {IDC_buttonAllRead, &MsPageModel::all_read},
    {IDC_buttonAllWrite, &MsPageModel::all_write},   {IDC_buttonIcReset, &MsPageModel::ic_reset},
    {IDC_buttonIcExecute, &MsPageModel::ic_execute},
};

// The one-byte boxes of the APDU, two hexadecimal digits each.
constexpr int kByteBoxes[] = {IDC_editCLA, IDC_editINS, IDC_editP1, IDC_editP2, IDC_editLc, IDC_editLe};

constexpr int kWriteBoxes[] = {IDC_editWrite1, IDC_editWrite2, IDC_editWrite3};

}  // namespace

CMsDlg::CMsDlg(PageCommands &commands) : DialogWindow(IDD_CMsDlg), model_(view(), commands) {}

void CMsDlg::on_init() {
  for (const auto &[control, id] : kMsControls) bind(control, id);
  for (const auto &[id, handler] : kMsButtons) {
    on(id, BN_CLICKED, [this, handler = handler] { (model_.*handler)(); });
  }
  for (int id : kByteBoxes) SendDlgItemMessageW(hwnd(), id, EM_LIMITTEXT, 2, 0);
  model_.init();
  // After init: the initial texts have their hints already.
  for (int track = 1; track <= 3; ++track) {
    on(kWriteBoxes[track - 1], EN_CHANGE, [this, track] { model_.write_text_changed(track); });
  }
}

}  // namespace tolvex::bench::win32

#include "classic_mifare_page.hpp"

#include <utility>

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

namespace {

using Model = MifarePageModel;

constexpr std::pair<int, int> kControls[] = {
    {Model::TargetList, IDC_comboTarget},   {Model::KeySectorList, IDC_comboKeySector},
    {Model::KeySetList, IDC_comboKeySet},   {Model::AccessCheck, IDC_checkAccess},
    {Model::AccessBox, IDC_editAccess},     {Model::AccessWords, IDC_labelAccessWords},
    {Model::FormatList, IDC_comboFormat},   {Model::KeyABox, IDC_editKeyA},
    {Model::KeyBBox, IDC_editKeyB},         {Model::InputBox, IDC_editInput},
    {Model::KeyList, IDC_comboKey},         {Model::SectorList, IDC_comboSector},
    {Model::BlockList, IDC_comboBlock},     {Model::TypeList, IDC_comboType},
    {Model::UlInputBox, IDC_editUlInput},   {Model::PageList, IDC_comboPage},
};

constexpr std::pair<int, void (Model::*)()> kButtons[] = {
    {IDC_buttonChange, &Model::change},
    {IDC_buttonSelect, &Model::select},
    {IDC_buttonGetUid, &Model::get_uid},
    {IDC_buttonReadBlock, &Model::read_block},
    {IDC_buttonWriteBlock, &Model::write_block},
    {IDC_buttonReadSector, &Model::read_sector},
    {IDC_buttonWriteSector, &Model::write_sector},
    {IDC_buttonIncrement, &Model::increment},
    {IDC_buttonDecrement, &Model::decrement},
    {IDC_buttonUlGetUid, &Model::ul_get_uid},
    {IDC_buttonUlRead, &Model::ul_read},
    {IDC_buttonUlWrite, &Model::ul_write},
    {IDC_buttonUlAuth, &Model::ul_auth},
};

}  // namespace

CClassicMifare::CClassicMifare(PageCommands &commands) : DialogWindow(IDD_CClassicMifare), model_(view(), commands) {}

void CClassicMifare::on_init() {
  for (const auto &[control, id] : kControls) bind(control, id);
  for (const auto &[id, handler] : kButtons) {
    on(id, BN_CLICKED, [this, handler = handler] { (model_.*handler)(); });
  }
  model_.init();
  // Notifications only after init: filling the lists is not a change by the user.
  on(IDC_comboTarget, CBN_SELCHANGE, [this] { model_.target_changed(); });
  on(IDC_comboKeySector, CBN_SELCHANGE, [this] { model_.access_changed(); });
  on(IDC_editAccess, EN_CHANGE, [this] { model_.access_changed(); });
}

}  // namespace tolvex::bench::win32

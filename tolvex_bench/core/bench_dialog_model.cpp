#include "bench_dialog_model.hpp"

#include <algorithm>

#include <tolvex/tolvex.h>

#include "aging_page_model.hpp"

namespace tolvex::bench {

BenchDialogModel::BenchDialogModel(PageView &view, PageCommands &commands, AgingPageModel *aging)
    : view_(view), commands_(commands), aging_(aging) {}

void BenchDialogModel::init() {
  view_.set_items(StackerList, {L"-Select-", L"Stacker1", L"Stacker2", L"Stacker3", L"Stacker4", L"Auto"});
  view_.set_items(DestinationList, {L"SEL", L"MS", L"IC", L"RF", L"Feeder", L"Print"});
  view_.set_items(ViewList, {L"String", L"HEX"});
  view_.set_selection(StackerList, 0);
  view_.set_selection(DestinationList, 0);
  view_.set_selection(ViewList, 0);
  // The stacker is chosen by the terminal: the list only shows the choices.
  view_.set_enabled(StackerList, false);
}

int BenchDialogModel::view_mode() const { return view_.selection(ViewList); }

std::uint8_t BenchDialogModel::destination_value() const {
  const int index = view_.selection(DestinationList);
  return static_cast<std::uint8_t>(index <= 0 ? 3 : index);
}

void BenchDialogModel::from_st() {
  commands_.run("C31", [this] {
    const auto stacker = static_cast<std::uint8_t>(std::max(0, view_.selection(StackerList)));
    return card_stk_mov(stacker, destination_value());
  });
}

void BenchDialogModel::stand_by() {
  commands_.run("C32", [this] { return card_mov(destination_value()); });
}

void BenchDialogModel::eject() { commands_.run("C33", [] { return card_eject(); }); }
void BenchDialogModel::drop() { commands_.run("C36", [] { return card_drop(); }); }
void BenchDialogModel::capture() { commands_.run("C34", [] { return card_capture(); }); }
void BenchDialogModel::st_status() { commands_.run("C13", [] { return chk_stacker(); }); }
void BenchDialogModel::position() { commands_.run("C16", [] { return card_position(); }); }
void BenchDialogModel::model() { commands_.run("C11", [] { return ::model(); }); }
void BenchDialogModel::rom_ver() { commands_.run("C12", [] { return fw_version(); }); }

bool BenchDialogModel::may_leave_aging_tab() {
  if (aging_ == nullptr || aging_->aging_stopped() == 1) return true;
  view_.message(L"Please Push the Stop Buton!!");
  return false;
}

void BenchDialogModel::close() {
  if (aging_ != nullptr) aging_->shut_down();
  commands_.shut_down();
}

}  // namespace tolvex::bench

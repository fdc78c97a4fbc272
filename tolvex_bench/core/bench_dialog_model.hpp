// The main dialog without its window: the stacker, destination and View lists, the row
// of card-transport and status buttons, the rule that keeps the Aging tab while a run
// is active, and closing.
#pragma once

#include <cstdint>

#include "page_view.hpp"

namespace tolvex::bench {

class AgingPageModel;

class BenchDialogModel final {
 public:
  enum Control : int {
    StackerList,      // "-Select-", "Stacker1" to "Stacker4", "Auto"
    DestinationList,  // "SEL", "MS", "IC", "RF", "Feeder", "Print"
    ViewList,         // "String", "HEX"
    FromSt,           // transport and status buttons
    StandBy,
    Eject,
    Drop,
    Capture,
    StStatus,
    Position,
    Model,
    RomVer,
  };

  // `aging` is the Aging page whose run holds the tabs and ends on closing (none: no rule).
  BenchDialogModel(PageView &view, PageCommands &commands, AgingPageModel *aging = nullptr);

  // Fills the three lists and selects their first entries.
  void init();

  // The buttons, each one command.
  void from_st();   // C31: from the selected stacker to the destination
  void stand_by();  // C32: to the destination
  void eject();     // C33
  void drop();      // C36
  void capture();   // C34
  void st_status(); // C13
  void position();  // C16
  void model();     // C11
  void rom_ver();   // C12

  // The View list's selection: 0 "String", any other value "HEX".
  int view_mode() const;
  // The destination list's value: its index, "SEL" (0) sent as 3.
  std::uint8_t destination_value() const;

  // Asked before the tabs change: while an aging run is active the answer is no, after
  // a message asking for STOP.
  bool may_leave_aging_tab();

  // The window is closing: an aging run ends after its command in flight, then the
  // command road gives up its wait and starts nothing more.
  void close();

 private:
  PageView &view_;
  PageCommands &commands_;
  AgingPageModel *aging_;
};

}  // namespace tolvex::bench

// The "ClassMifare" page: key changes in the terminal and on the card, block, sector
// and value operations on MIFARE Classic cards, and the Ultralight commands. The page
// shows nothing of a response itself: every answer reaches the report window through
// the command road.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "page_view.hpp"

namespace tolvex::bench {

class MifarePageModel {
 public:
  enum Control : int {
    // Group "Secret KEY".
    TargetList,     // " TERMINAL", " CARD"
    KeySectorList,  // " SECTOR All", " SECTOR 0" .. " SECTOR 39"
    KeySetList,     // " 1" .. " 3"; enabled with the terminal as target
    AccessCheck,    // the key record carries the access bytes; follows the target
    AccessBox,      // the access bytes, eight hexadecimal digits
    AccessWords,    // the access conditions of those bytes in words
    FormatList,     // " HEX", " ASCII": how the keys are typed
    KeyABox,
    KeyBBox,
    // Group "Mifare Classic".
    InputBox,
    KeyList,     // "- KEY -", "A ", "B "
    SectorList,  // "-SECTOR-", " SECTOR 0" .. " SECTOR 39"
    BlockList,   // "-BLOCK-", "BLOCK 0" .. "BLOCK 15"
    TypeList,    // "-TYPE-", "BALANCE", "HEX", "ASCII"
    // Group "Mifare Ultralight".
    UlInputBox,
    PageList,  // " - PAGE -", "PAGE 0" .. "PAGE 47"
  };

  MifarePageModel(PageView &view, PageCommands &commands) : view_(view), commands_(commands) {}

  // Fills the lists, selects their first entries, writes the initial texts and sets the
  // enabling of the terminal target.
  void init();

  // "TARGET:" changed: the check box and the access box follow it.
  void target_changed();
  // The access text or the key sector changed: the conditions in words follow.
  void access_changed();

  // Buttons.
  void change();
  void select();
  void get_uid();
  void read_block();
  void write_block();
  void read_sector();
  void write_sector();
  void increment();
  void decrement();
  void ul_get_uid();
  void ul_read();
  void ul_write();
  void ul_auth();

 private:
  // The sector and block of a block operation once its checks have passed; each failed
  // check shows its message.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> checked_block();
  // The "SECTOR:" list of the Mifare Classic group: the sector, or "SECTOR ERROR" shown.
  std::optional<std::uint8_t> checked_sector();
  // The "PAGE:" list: the page, or "PAGE ERROR" shown.
  std::optional<std::uint8_t> checked_page();
  // Access bytes about to go to a sector trailer, by "Change" or by "Write Block":
  // refused when malformed, asked about when they lock the trailer. True when they may
  // be sent.
  bool confirm_access(const std::array<std::uint8_t, 4> &access, std::uint8_t sector);
  // The key texts: refused, with a message, when they are not whole keys.
  bool keys_are_whole();
  // "Write Block" to a sector trailer: the text and the access bytes it would write.
  bool confirm_trailer(int type, const std::array<std::uint8_t, 16> &content, std::uint8_t sector);
  void change_balance(bool increase);

  PageView &view_;
  PageCommands &commands_;
};

}  // namespace tolvex::bench

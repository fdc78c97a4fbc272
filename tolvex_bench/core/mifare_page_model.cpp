#include "mifare_page_model.hpp"

#include <string>
#include <string_view>
#include <vector>

#include <tolvex/tolvex.h>

#include "access_bits.hpp"
#include "decimal.hpp"
#include "hex.hpp"
#include "records.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

// Target list entries.
constexpr int kTargetCard = 1;
// Type list entries.
constexpr int kTypeBalance = 1;
constexpr int kTypeHex = 2;
constexpr int kTypeAscii = 3;
// Format list entry of keys typed as characters.
constexpr int kFormatAscii = 1;
// Sector list index of the first sixteen-block sector (sector 32).
constexpr int kFirstLargeSectorIndex = 33;

std::vector<std::wstring> numbered(std::wstring_view prefix, int first, int last, std::wstring_view placeholder = {}) {
  std::vector<std::wstring> out;
  if (!placeholder.empty()) out.emplace_back(placeholder);
  for (int v = first; v <= last; ++v) out.push_back(std::wstring(prefix) + std::to_wstring(v));
  return out;
}

}  // namespace

void MifarePageModel::init() {
  const std::pair<Control, std::vector<std::wstring>> lists[] = {
      {TargetList, {L" TERMINAL", L" CARD"}},
      {KeySectorList, numbered(L" SECTOR ", 0, 39, L" SECTOR All")},
      {KeySetList, {L" 1", L" 2", L" 3"}},
      {FormatList, {L" HEX", L" ASCII"}},
      {KeyList, {L"- KEY -", L"A ", L"B "}},
      {SectorList, numbered(L" SECTOR ", 0, 39, L"-SECTOR-")},
      {BlockList, numbered(L"BLOCK ", 0, 15, L"-BLOCK-")},
      {TypeList, {L"-TYPE-", L"BALANCE", L"HEX", L"ASCII"}},
      {PageList, numbered(L"PAGE ", 0, 47, L" - PAGE -")},
  };
  for (const auto &[control, items] : lists) {
    view_.set_items(control, items);
    view_.set_selection(control, 0);
  }
  // The transport key of a card as delivered, and its transport access conditions.
  view_.set_text(KeyABox, L"FFFFFFFFFFFF");
  view_.set_text(KeyBBox, L"FFFFFFFFFFFF");
  view_.set_text(AccessBox, L"FF078069");
  target_changed();
  access_changed();
}

// The terminal's key store takes 12-byte records; a card's trailer takes 16 with the
// access bytes. The check box follows the target and is never clicked itself.
void MifarePageModel::target_changed() {
  const bool card = view_.selection(TargetList) == kTargetCard;
  view_.set_enabled(AccessCheck, false);
  view_.set_checked(AccessCheck, card);
  view_.set_enabled(AccessBox, card);
  view_.set_enabled(AccessWords, card);
  view_.set_enabled(KeySetList, !card);
}

void MifarePageModel::access_changed() {
  const std::vector<std::uint8_t> bytes = hex_to_bytes_fixed(work_text(view_.text(AccessBox)), 4);
  std::wstring words;
  for (const std::wstring &line :
       access_in_words({bytes[0], bytes[1], bytes[2], bytes[3]}, view_.selection(KeySectorList) - 1)) {
    if (!words.empty()) words += L'\n';
    words += line;
  }
  view_.set_text(AccessWords, words);
}

bool MifarePageModel::confirm_access(const AccessBytes &access, std::uint8_t sector) {
  if (const std::wstring error = access_error_text(access); !error.empty()) {
    view_.message(error);
    return false;
  }
  const std::wstring warning = lock_warning_text(access, sector);
  return warning.empty() || view_.ask(warning);
}

bool MifarePageModel::keys_are_whole() {
  const bool ascii = view_.selection(FormatList) == kFormatAscii;
  for (const auto &[box, control] : {std::pair{L"KEY A", KeyABox}, std::pair{L"KEY B", KeyBBox}}) {
    if (const std::wstring problem = key_text_problem(box, to_narrow(view_.text(control)), ascii); !problem.empty()) {
      view_.message(problem);
      return false;
    }
  }
  return true;
}

bool MifarePageModel::confirm_trailer(int type, const std::array<std::uint8_t, 16> &content, std::uint8_t sector) {
  // A value block has no text to check; its bytes 6 to 8 still meet the access check.
  if (type != kTypeBalance) {
    const std::wstring problem = trailer_text_problem(to_narrow(view_.text(InputBox)), type == kTypeAscii);
    if (!problem.empty()) {
      view_.message(problem);
      return false;
    }
  }
  return confirm_access({content[6], content[7], content[8], content[9]}, sector);
}

void MifarePageModel::change() {
  const int index = view_.selection(KeySectorList);
  if (index < 0 || index > 40) {
    view_.message(L"SECTOR ERROR");
    return;
  }
  const bool all = index == 0;
  const auto sector = static_cast<std::uint8_t>(all ? 0 : index - 1);
  const bool with_access = view_.checked(AccessCheck);
  const std::string access_text = work_text(view_.text(AccessBox));
  const std::vector<std::uint8_t> record =
      key_record(work_text(view_.text(KeyABox)), work_text(view_.text(KeyBBox)),
                 view_.selection(FormatList) == kFormatAscii,
                 with_access ? std::optional<std::string_view>(access_text) : std::nullopt);

  const bool card = view_.selection(TargetList) == kTargetCard;
  if (card && all) {
    view_.message(L"ERROR: Select Sector!(Exclude \"SECTOR All\" item)");
    return;
  }
  if (!keys_are_whole()) return;
  if (card) {
    if (with_access && !confirm_access({record[6], record[7], record[8], record[9]}, sector)) return;
    const std::uint8_t flag = with_access ? 1 : 0;
    commands_.run("R54", [&] { return mi_cng_card_key(sector, flag, record.data()); });
    return;
  }
  if (all) {
    commands_.run("R52", [&] { return mi_cng_all_tm_key(record.data()); });
  } else {
    commands_.run("R51", [&] { return mi_cng_tm_key(sector, record.data()); });
  }
}

void MifarePageModel::select() {
  const int index = view_.selection(KeyList);
  if (index <= 0) return;
  const auto key = static_cast<std::uint8_t>(index);
  commands_.run("R53", [key] { return mi_sel_key(key); });
}

void MifarePageModel::get_uid() {
  commands_.run("R61", [] { return mi_det(); });
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> MifarePageModel::checked_block() {
  const int sector = view_.selection(SectorList);
  const int block = view_.selection(BlockList);
  // Sectors 0 to 31 (and the placeholder) have blocks 0 to 3 only.
  if (sector < kFirstLargeSectorIndex && block >= 5) {
    view_.message(L"Please select BLOCK again");
    return std::nullopt;
  }
  if (sector <= 0) {
    view_.message(L"SECTOR ERROR");
    return std::nullopt;
  }
  if (block <= 0) {
    view_.message(L"BLOCK ERROR");
    return std::nullopt;
  }
  return std::make_pair(static_cast<std::uint8_t>(sector - 1), static_cast<std::uint8_t>(block - 1));
}

std::optional<std::uint8_t> MifarePageModel::checked_sector() {
  const int sector = view_.selection(SectorList);
  if (sector <= 0) {
    view_.message(L"SECTOR ERROR");
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(sector - 1);
}

std::optional<std::uint8_t> MifarePageModel::checked_page() {
  const int page = view_.selection(PageList);
  if (page <= 0) {
    view_.message(L"PAGE ERROR");
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(page - 1);
}

void MifarePageModel::read_block() {
  const auto place = checked_block();
  if (!place) return;
  const std::uint8_t sector = place->first;
  const std::uint8_t block = place->second;
  commands_.run("R31", [sector, block] { return mi_rd_blk(sector, block); });
}

void MifarePageModel::write_block() {
  const auto place = checked_block();
  if (!place) return;
  const int type = view_.selection(TypeList);
  if (type <= 0) {
    view_.message(L"TYPE ERROR");
    return;
  }
  const std::string text = work_text(view_.text(InputBox));
  std::array<std::uint8_t, 16> content{};
  switch (type) {
    case kTypeBalance: content = value_block(parse_decimal(text)); break;
    case kTypeHex: content = block_from_hex(text); break;
    case kTypeAscii: content = block_from_ascii(text); break;
    default: return;
  }
  const std::uint8_t sector = place->first;
  const std::uint8_t block = place->second;
  // A trailer written with inconsistent access bytes makes the sector unusable.
  if (block == trailer_block(sector) && !confirm_trailer(type, content, sector)) return;
  commands_.run("R32", [&, sector, block] { return mi_wt_blk(sector, block, content.data()); });
}

void MifarePageModel::read_sector() {
  const auto sector = checked_sector();
  if (!sector) return;
  commands_.run("R36", [s = *sector] { return mi_rd_sct(s); });
}

void MifarePageModel::write_sector() {
  const auto sector = checked_sector();
  if (!sector) return;
  if (view_.selection(TypeList) != kTypeHex) {
    view_.message(L"WRITE TYPE ERROR");
    return;
  }
  const std::uint8_t s = *sector;
  // A refused start shows nothing here: the page simply does not wait.
  if (s < 32) {
    const std::vector<std::uint8_t> image = sector_data(s, work_text(view_.text(InputBox)));
    commands_.run("R37", [&] { return mi_wt_sct(s, image.data()); }, L"");
  } else {
    // The sixteen-block form needs 510 characters: the whole text is read.
    const std::vector<std::uint8_t> image = sector_data(s, to_narrow(view_.text(InputBox)));
    commands_.run(
        "R37", [&] { return exe_cmd("R37", image.data(), static_cast<std::uint32_t>(image.size())); }, L"");
  }
}

void MifarePageModel::change_balance(bool increase) {
  const auto place = checked_block();
  if (!place) return;
  const std::uint8_t sector = place->first;
  const std::uint8_t block = place->second;
  const std::int32_t value = parse_decimal(work_text(view_.text(InputBox)));
  if (increase) {
    commands_.run("R41", [=] { return mi_bal_inc(sector, block, value); });
  } else {
    commands_.run("R42", [=] { return mi_bal_dec(sector, block, value); });
  }
}

void MifarePageModel::increment() { change_balance(true); }
void MifarePageModel::decrement() { change_balance(false); }

void MifarePageModel::ul_get_uid() {
  commands_.run("U41", [] { return mi_ultra_rd_uid(); });
}

void MifarePageModel::ul_read() {
  const auto page = checked_page();
  if (!page) return;
  commands_.run("U31", [p = *page] { return mi_ultra_rd(p); });
}

void MifarePageModel::ul_write() {
  const auto page = checked_page();
  if (!page) return;
  const std::array<std::uint8_t, 4> bytes = ultralight_page(work_text(view_.text(UlInputBox)));
  commands_.run("U32", [&, p = *page] { return mi_ultra_wt(p, bytes.data()); });
}

void MifarePageModel::ul_auth() {
  // The whole text goes out: one too long for the work buffer is refused, not cut.
  const std::string text = to_narrow(view_.text(UlInputBox));
  if (const std::wstring problem = auth_text_problem(text); !problem.empty()) {
    view_.message(problem);
    return;
  }
  const auto bytes = auth_bytes(text);
  if (!bytes) {
    view_.message(L"Frame Error");
    return;
  }
  // The command goes out under the current-command code, which the step has just set.
  commands_.run("U33", [&] {
    return exe_cmd(commands_.state().code, bytes->data(), static_cast<std::uint32_t>(bytes->size()));
  });
}

}  // namespace tolvex::bench

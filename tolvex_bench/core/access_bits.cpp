#include "access_bits.hpp"

#include <cwctype>

#include "hex.hpp"

namespace tolvex::bench {

namespace {

// The access bytes are bytes 6 to 9 of the sector trailer, and are named so.
constexpr int kTrailerOffset = 6;
constexpr int kFirstLargeSector = 32;

int nibble(std::uint8_t byte, bool high) { return high ? byte >> 4 : byte & 0x0F; }

// Where each condition bit sits: its plain nibble and its inverted nibble.
struct BitPlace {
  int plain_byte;
  bool plain_high;
  int inverted_byte;
  bool inverted_high;
};
constexpr BitPlace kPlaces[3] = {
    {1, true, 0, false},  // C1
    {2, false, 0, true},  // C2
    {2, true, 1, false},  // C3
};

const wchar_t *key_words(KeyUse use) {
  switch (use) {
    case KeyUse::KeyA: return L"A";
    case KeyUse::KeyB: return L"B";
    case KeyUse::KeyAOrB: return L"A/B";
    case KeyUse::Never: break;
  }
  return L"never";
}

std::wstring byte_text(std::uint8_t b) {
  const std::string digits = plain_hex(&b, 1);
  return {digits.begin(), digits.end()};
}

std::wstring mismatch_words(const AccessMismatch &m, const AccessBytes &bytes) {
  const auto plain = static_cast<std::size_t>(m.plain_byte);
  const auto inverted = static_cast<std::size_t>(m.inverted_byte);
  return L"C" + std::to_wstring(m.bit) + L" in byte " + std::to_wstring(m.plain_byte + kTrailerOffset) + L" (" +
         byte_text(bytes[plain]) + L") is not the inverse of byte " +
         std::to_wstring(m.inverted_byte + kTrailerOffset) + L" (" + byte_text(bytes[inverted]) + L")";
}

std::wstring upper(std::wstring text) {
  for (wchar_t &c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return text;
}

std::wstring group_name(int group, int sector) {
  const int blocks_per_sector = sector < 0 ? 0 : sector < kFirstLargeSector ? 4 : 16;
  static const wchar_t *const kLarge[3] = {L"0-4", L"5-9", L"10-14"};
  const std::wstring small = std::to_wstring(group);
  if (group == 3) {
    if (blocks_per_sector == 4) return L"Trailer (block 3)";
    if (blocks_per_sector == 16) return L"Trailer (block 15)";
    return L"Trailer";
  }
  if (blocks_per_sector == 4) return L"Block " + small;
  if (blocks_per_sector == 16) return std::wstring(L"Blocks ") + kLarge[group];
  return L"Block " + small + L" / " + kLarge[group];
}

}  // namespace

std::vector<AccessMismatch> access_mismatches(const AccessBytes &bytes) {
  std::vector<AccessMismatch> out;
  for (int bit = 0; bit < 3; ++bit) {
    const BitPlace &p = kPlaces[bit];
    const int plain = nibble(bytes[static_cast<std::size_t>(p.plain_byte)], p.plain_high);
    const int inverted = nibble(bytes[static_cast<std::size_t>(p.inverted_byte)], p.inverted_high);
    if ((plain ^ inverted) != 0x0F) out.push_back({bit + 1, p.plain_byte, p.inverted_byte});
  }
  return out;
}

int access_condition(const AccessBytes &bytes, int group) {
  int condition = 0;
  for (const BitPlace &p : kPlaces) {
    const int plain = nibble(bytes[static_cast<std::size_t>(p.plain_byte)], p.plain_high);
    condition = condition << 1 | ((plain >> group) & 1);
  }
  return condition;
}

DataAccess data_access(int condition) {
  using enum KeyUse;
  switch (condition & 7) {
    case 0b000: return {KeyAOrB, KeyAOrB, KeyAOrB, KeyAOrB};
    case 0b010: return {KeyAOrB, Never, Never, Never};
    case 0b100: return {KeyAOrB, KeyB, Never, Never};
    case 0b110: return {KeyAOrB, KeyB, KeyB, KeyAOrB};
    case 0b001: return {KeyAOrB, Never, Never, KeyAOrB};
    case 0b011: return {KeyB, KeyB, Never, Never};
    case 0b101: return {KeyB, Never, Never, Never};
    default: return {Never, Never, Never, Never};
  }
}

TrailerAccess trailer_access(int condition) {
  using enum KeyUse;
  switch (condition & 7) {
    case 0b000: return {KeyA, KeyA, Never, KeyA, KeyA};
    case 0b010: return {Never, KeyA, Never, KeyA, Never};
    case 0b100: return {KeyB, KeyAOrB, Never, Never, KeyB};
    case 0b110: return {Never, KeyAOrB, Never, Never, Never};
    case 0b001: return {KeyA, KeyA, KeyA, KeyA, KeyA};
    case 0b011: return {KeyB, KeyAOrB, KeyB, Never, KeyB};
    case 0b101: return {Never, KeyAOrB, KeyB, Never, Never};
    default: return {Never, KeyAOrB, Never, Never, Never};
  }
}

bool key_b_readable(int trailer_condition) { return trailer_access(trailer_condition).key_b_read != KeyUse::Never; }

int trailer_block(int sector) { return sector < kFirstLargeSector ? 3 : 15; }

std::vector<std::wstring> access_in_words(const AccessBytes &bytes, int sector) {
  std::vector<std::wstring> lines;
  const auto mismatches = access_mismatches(bytes);
  if (!mismatches.empty()) {
    lines.emplace_back(L"Invalid access bytes:");
    for (const AccessMismatch &m : mismatches) lines.push_back(mismatch_words(m, bytes));
    return lines;
  }
  for (int group = 0; group < 3; ++group) {
    const DataAccess a = data_access(access_condition(bytes, group));
    if (group == 0 && sector == 0) {
      lines.push_back(L"Block 0: manufacturer block, read " + std::wstring(key_words(a.read)) + L"; no key writes it");
      continue;
    }
    lines.push_back(group_name(group, sector) + L": read " + key_words(a.read) + L", write " + key_words(a.write) +
                    L", incr. " + key_words(a.increment) + L", decr. " + key_words(a.decrement));
  }
  const int trailer = access_condition(bytes, 3);
  const TrailerAccess t = trailer_access(trailer);
  lines.push_back(group_name(3, sector) + L": key A write " + key_words(t.key_a_write) + L"; key B read " +
                  key_words(t.key_b_read) + L", write " + key_words(t.key_b_write));
  lines.push_back(std::wstring(L"Access bits: read ") + key_words(t.access_read) + L", write " + key_words(t.access_write));
  if (key_b_readable(trailer)) lines.emplace_back(L"Key B is readable, so the card refuses it as a key.");
  return lines;
}

std::wstring access_error_text(const AccessBytes &bytes) {
  const auto mismatches = access_mismatches(bytes);
  if (mismatches.empty()) return {};
  std::wstring text = L"INVALID ACCESS BYTES, NOTHING SENT:";
  for (const AccessMismatch &m : mismatches) text += L"\n" + upper(mismatch_words(m, bytes));
  return text;
}

TrailerLocks trailer_locks(const AccessBytes &bytes) {
  const TrailerAccess t = trailer_access(access_condition(bytes, 3));
  return {t.key_a_write == KeyUse::Never, t.access_write == KeyUse::Never, t.key_b_write == KeyUse::Never};
}

std::wstring lock_warning_text(const AccessBytes &bytes, int sector) {
  const TrailerLocks locks = trailer_locks(bytes);
  std::vector<std::wstring> items;
  if (locks.key_a) items.emplace_back(L"KEY A");
  if (locks.access_bits) items.emplace_back(L"THE ACCESS BITS");
  if (locks.key_b) items.emplace_back(L"KEY B");
  if (items.empty()) return {};
  std::wstring list = items[0];
  for (std::size_t i = 1; i < items.size(); ++i) list += (i + 1 == items.size() ? L" AND " : L", ") + items[i];
  return L"WARNING: WITH THESE ACCESS CONDITIONS NO KEY CAN EVER CHANGE " + list + L" OF SECTOR " +
         std::to_wstring(sector) + L" AGAIN.\nWRITE THEM TO THE CARD?";
}

}  // namespace tolvex::bench

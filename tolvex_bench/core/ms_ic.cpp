#include "ms_ic.hpp"

#include <array>

#include "hex.hpp"

namespace tolvex::bench {

namespace {

std::wstring track_name(int track) { return L"Track" + std::to_wstring(track); }

}  // namespace

TrackCapacity track_capacity(int track) {
  switch (track) {
    case 1: return {76, L'\x20', L'\x5F'};
    case 2: return {37, L'\x30', L'\x3F'};
    default: return {104, L'\x30', L'\x3F'};
  }
}

std::wstring TrackHint::text() const {
  std::wstring out = std::to_wstring(length) + L"/" + std::to_wstring(capacity);
  if (!unencodable.empty()) out += L", " + std::to_wstring(unencodable.size()) + L" not encodable";
  return out;
}

TrackHint track_hint(int track, std::wstring_view text) {
  const TrackCapacity cap = track_capacity(track);
  TrackHint hint;
  hint.length = text.size();
  hint.capacity = cap.characters;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] < cap.first || text[i] > cap.last) hint.unencodable.push_back(i);
  }
  return hint;
}

std::wstring track_text_problem(int track, std::size_t bytes) {
  if (bytes <= kTrackTextMaxBytes) return {};
  return track_name(track) + L": " + std::to_wstring(bytes) + L" bytes, at most " +
         std::to_wstring(kTrackTextMaxBytes) + L" fit. Nothing was sent.";
}

std::wstring all_write_problem(std::size_t track1, std::size_t track2, std::size_t track3) {
  const std::size_t block = track1 + track2 + track3 + 2;
  if (block <= kAllWriteMaxBytes) return {};
  return L"Track1, Track2 and Track3: " + std::to_wstring(block) +
         L" bytes with the two separators, at most " + std::to_wstring(kAllWriteMaxBytes) +
         L" fit in one \"All Write\". Nothing was sent.";
}

std::wstring status_word_hex(std::uint8_t sw1, std::uint8_t sw2) {
  const std::uint8_t word[] = {sw1, sw2};
  const std::string digits = plain_hex(word, 2);
  return std::wstring(digits.begin(), digits.begin() + 2) + L' ' + std::wstring(digits.begin() + 2, digits.end());
}

std::wstring status_word_text(std::uint8_t sw1, std::uint8_t sw2) {
  struct Exact {
    std::uint16_t word;
    const wchar_t *text;
  };
  static constexpr std::array<Exact, 27> kExact{{
      {0x9000, L"success"},
      {0x6281, L"warning: returned data may be corrupted"},
      {0x6282, L"warning: end of file before Le bytes"},
      {0x6283, L"warning: selected file invalidated"},
      {0x6300, L"warning: verification failed"},
      {0x6581, L"memory failure"},
      {0x6700, L"wrong length"},
      {0x6881, L"logical channel not supported"},
      {0x6882, L"secure messaging not supported"},
      {0x6981, L"command incompatible with file structure"},
      {0x6982, L"security status not satisfied"},
      {0x6983, L"authentication method blocked"},
      {0x6984, L"referenced data invalidated"},
      {0x6985, L"conditions of use not satisfied"},
      {0x6986, L"command not allowed: no current EF"},
      {0x6A80, L"incorrect data field"},
      {0x6A81, L"function not supported"},
      {0x6A82, L"file not found"},
      {0x6A83, L"record not found"},
      {0x6A84, L"not enough memory in the file"},
      {0x6A86, L"incorrect P1 P2"},
      {0x6A87, L"Lc inconsistent with P1 P2"},
      {0x6A88, L"referenced data not found"},
      {0x6B00, L"wrong offset (P1 P2)"},
      {0x6D00, L"INS not supported"},
      {0x6E00, L"CLA not supported"},
      {0x6F00, L"no precise diagnosis"},
  }};
  const auto word = static_cast<std::uint16_t>(sw1 << 8 | sw2);
  for (const Exact &e : kExact) {
    if (e.word == word) return e.text;
  }
  const std::wstring count = std::to_wstring(sw2);
  switch (sw1) {
    case 0x61: return L"success, " + count + L" more bytes available";
    case 0x62: return L"warning: memory unchanged";
    case 0x63:
      if ((sw2 & 0xF0) == 0xC0) return L"warning: counter " + std::to_wstring(sw2 & 0x0F);
      return L"warning: memory changed";
    case 0x64: return L"execution error: memory unchanged";
    case 0x65: return L"execution error: memory changed";
    case 0x66: return L"security error";
    case 0x67: return L"wrong length";
    case 0x68: return L"function in CLA not supported";
    case 0x69: return L"command not allowed";
    case 0x6A: return L"wrong parameters P1 P2";
    case 0x6B: return L"wrong parameters P1 P2";
    case 0x6C: return L"wrong Le: " + count + L" bytes available";
    case 0x6D: return L"INS not supported";
    case 0x6E: return L"CLA not supported";
    case 0x6F: return L"no precise diagnosis";
    default: break;
  }
  if (sw1 >= 0x90 && sw1 <= 0x9F) return L"application-specific status";
  return L"no status word";
}

}  // namespace tolvex::bench

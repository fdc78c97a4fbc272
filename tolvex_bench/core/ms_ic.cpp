#include "ms_ic.hpp"

#include <algorithm>
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

std::wstring track_step_skipped(int track, std::size_t bytes, std::size_t sent) {
  if (bytes <= kTrackTextMaxBytes) return {};
  const std::wstring before = sent == 0   ? std::wstring(L"Nothing was sent before it")
                              : sent == 1 ? std::wstring(L"The 1 command before it was sent")
                                          : L"The " + std::to_wstring(sent) + L" commands before it were sent";
  return track_name(track) + L": " + std::to_wstring(bytes) + L" bytes, at most " +
         std::to_wstring(kTrackTextMaxBytes) + L" fit. This write was not sent. " + before +
         L"; the steps after it still run.";
}

std::wstring all_write_problem(std::size_t track1, std::size_t track2, std::size_t track3) {
  const std::size_t block = track1 + track2 + track3 + 2;
  if (block <= kAllWriteMaxBytes) return {};
  return L"Track1, Track2 and Track3: " + std::to_wstring(block) +
         L" bytes with the two separators, at most " + std::to_wstring(kAllWriteMaxBytes) +
         L" fit in one \"All Write\". Nothing was sent.";
}

AnswerToReset decode_answer_to_reset(const std::uint8_t *bytes, std::size_t count) {
  // TS, T0, at most 15 historical bytes and TCK leave 16 of the 33 bytes for interface bytes.
  constexpr std::size_t kMaxBytes = 33;
  AnswerToReset atr;
  if (bytes == nullptr) count = 0;
  if (count < 2) {
    atr.problem = std::to_wstring(count) + (count == 1 ? L" byte, too short" : L" bytes, too short");
    return atr;
  }
  if (count > kMaxBytes) {
    atr.problem = std::to_wstring(count) + L" bytes, more than " + std::to_wstring(kMaxBytes);
    return atr;
  }
  atr.ts = bytes[0];
  if (atr.ts != 0x3B && atr.ts != 0x3F) {
    atr.problem = L"TS " + spaced_hex(&atr.ts, 1) + L" is neither 3B nor 3F";
    return atr;
  }
  const std::size_t historical = bytes[1] & 0x0F;
  std::uint8_t y = bytes[1] >> 4;
  std::size_t pos = 2;
  bool needs_tck = false;
  while (true) {
    const int present = (y & 1) + (y >> 1 & 1) + (y >> 2 & 1) + (y >> 3 & 1);
    if (pos + static_cast<std::size_t>(present) > count) {
      atr.problem = L"ends inside its interface bytes";
      return atr;
    }
    pos += static_cast<std::size_t>(present);
    if ((y & 0x08) == 0) break;
    const std::uint8_t td = bytes[pos - 1];
    const int protocol = td & 0x0F;
    if (protocol != 0) needs_tck = true;
    // T=15 announces global interface bytes, not a protocol.
    if (protocol != 15 && std::find(atr.protocols.begin(), atr.protocols.end(), protocol) == atr.protocols.end()) {
      atr.protocols.push_back(protocol);
    }
    y = td >> 4;
  }
  if (atr.protocols.empty()) atr.protocols.push_back(0);
  const std::size_t expected = pos + historical + (needs_tck ? 1 : 0);
  if (count < expected) {
    atr.problem = std::to_wstring(count) + L" bytes where its structure gives " + std::to_wstring(expected);
    return atr;
  }
  if (count > expected) {
    atr.problem = std::to_wstring(count - expected) + L" bytes after its end";
    return atr;
  }
  atr.historical.assign(bytes + pos, bytes + pos + historical);
  if (needs_tck) {
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < count; ++i) sum ^= bytes[i];
    if (sum != 0) {
      atr.problem = L"check byte TCK does not match";
      atr.historical.clear();
      return atr;
    }
  }
  return atr;
}

std::vector<std::wstring> answer_to_reset_lines(const std::uint8_t *bytes, std::size_t count) {
  if (bytes == nullptr) count = 0;
  std::vector<std::wstring> lines{spaced_hex(bytes, count)};
  const AnswerToReset atr = decode_answer_to_reset(bytes, count);
  if (!atr.valid()) {
    lines.emplace_back(L"not a valid answer-to-reset:");
    lines.push_back(atr.problem);
    return lines;
  }
  lines.push_back(atr.ts == 0x3B ? L"TS 3B direct convention" : L"TS 3F inverse convention");
  std::wstring protocols = atr.protocols.size() == 1 ? L"Protocol" : L"Protocols";
  for (std::size_t i = 0; i < atr.protocols.size(); ++i) {
    protocols += (i == 0 ? L" T=" : L", T=") + std::to_wstring(atr.protocols[i]);
  }
  lines.push_back(protocols);
  if (atr.historical.empty()) {
    lines.emplace_back(L"No historical bytes");
    return lines;
  }
  const bool printable = std::all_of(atr.historical.begin(), atr.historical.end(),
                                     [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
  std::wstring history = L"Historical: ";
  if (printable) {
    history += L'"' + std::wstring(atr.historical.begin(), atr.historical.end()) + L'"';
  } else {
    history += spaced_hex(atr.historical.data(), atr.historical.size());
  }
  lines.push_back(history);
  return lines;
}

std::wstring status_word_hex(std::uint8_t sw1, std::uint8_t sw2) {
  const std::uint8_t word[] = {sw1, sw2};
  return spaced_hex(word, 2);
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

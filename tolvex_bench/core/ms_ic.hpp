// Checks and hints of the magnetic-stripe and IC-card page: what a track usually
// holds, whether a text fits the page's buffers, and what a card's status word says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"

namespace tolvex::bench {

// ---- Magnetic stripe -------------------------------------------------------------------

// A track text is sent from the work buffer with its terminator: at most 299 bytes.
inline constexpr std::size_t kTrackTextMaxBytes = kWorkBufferBytes - 1;
// The "All Write" block (three texts, two separators) in the same buffer size.
inline constexpr std::size_t kAllWriteMaxBytes = kWorkBufferBytes - 1;

// What a track usually takes: so many characters from one contiguous range.
struct TrackCapacity {
  std::size_t characters;
  wchar_t first;
  wchar_t last;
};

// Track 1: 76 characters 0x20-0x5F; track 2: 37 and track 3: 104 characters 0x30-0x3F.
// Any other track number is treated as track 3.
TrackCapacity track_capacity(int track);

// The length of a write text against its track's capacity, and the characters the
// track cannot encode. Only a hint: the terminal decides what it writes.
struct TrackHint {
  std::size_t length = 0;                 // characters in the text
  std::size_t capacity = 0;               // characters the track usually takes
  std::vector<std::size_t> unencodable;   // positions (in characters) outside the track's range

  bool too_long() const { return length > capacity; }
  // "37/37", "40/37, 2 not encodable".
  std::wstring text() const;
};

TrackHint track_hint(int track, std::wstring_view text);

// Why a track text of `bytes` bytes cannot be sent ("Track2: 320 bytes, at most 299
// fit. Nothing was sent."); empty when it fits.
std::wstring track_text_problem(int track, std::size_t bytes);

// The same for a write step skipped in the middle of "M/S Execute", after `sent`
// commands of the run went out: says what was sent and that the run goes on.
std::wstring track_step_skipped(int track, std::size_t bytes, std::size_t sent);

// The same for the "All Write" block of three texts of these byte counts.
std::wstring all_write_problem(std::size_t track1, std::size_t track2, std::size_t track3);

// ---- IC card ---------------------------------------------------------------------------

// The card's answer to reset, read by its ISO 7816-3 structure: TS, T0, the interface
// bytes each TDi announces, the historical bytes T0 counts, and TCK when a protocol
// other than T=0 is offered.
struct AnswerToReset {
  std::wstring problem;  // why the bytes are no answer to reset; empty when they are
  std::uint8_t ts = 0;
  std::vector<int> protocols;  // offered, in order, each once; T=0 when no TDi names one
  std::vector<std::uint8_t> historical;
  bool valid() const { return problem.empty(); }
};

AnswerToReset decode_answer_to_reset(const std::uint8_t *bytes, std::size_t count);

// The answer in lines for the IC group: its bytes, then TS, the protocols and the
// historical bytes, or "not a valid answer-to-reset" and why.
std::vector<std::wstring> answer_to_reset_lines(const std::uint8_t *bytes, std::size_t count);

// "90 00".
std::wstring status_word_hex(std::uint8_t sw1, std::uint8_t sw2);

// The card's status word in words ("success", "wrong Le: 16 bytes available", ...);
// "no status word" when SW1 is outside the 0x61-0x6F and 0x90-0x9F classes.
std::wstring status_word_text(std::uint8_t sw1, std::uint8_t sw2);

}  // namespace tolvex::bench

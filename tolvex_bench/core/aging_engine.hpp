// The aging run: cycle after cycle it draws a card, exercises the magnetic stripe, the
// IC card or the RF card on it, counts the failures and ejects or captures the card.
// Every command goes through the command step; the choices are read through the
// controls at the moment they are needed, so changes during a run take effect at
// their next use.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "aging_stats.hpp"
#include "command_step.hpp"
#include "ms_ic.hpp"

namespace tolvex::bench {

enum class AgingKind : std::uint8_t { Ms, Ic, Rf };

// Why a run ended.
enum class AgingEnd : std::uint8_t {
  Completed,      // all N cycles done (or N was 0 or less)
  Stopped,        // STOP seen at a cycle start
  OtherError,     // an error check gave 2
  FrameError,     // a track or IC command was not started ("Packet Frame Error")
  NoIcText,       // the IC text was empty ("Input The Data")
  TextTooLong,    // an MS or IC text does not fit its buffer
  CardInside,     // the first cycle's draw found a card in the terminal
  Abandoned,      // the command in flight was given up (window closed, second interrupt)
};

// "all cycles done", "stopped", ...: the end reason in a few words.
std::wstring_view end_text(AgingEnd end);
// "MS", "IC", "RF".
std::wstring_view kind_text(AgingKind kind);

// Why a cycle's card goes to the capture box; the first reason of the cycle that is
// highest in this order is kept.
enum class CaptureCause : std::uint8_t {
  None,
  CountedError,   // a counted card error
  BadValueBlock,  // the RF block read back is no value block
  AllReadSplit,   // the "All Read" answer lacks a track separator
};
inline constexpr std::size_t kCaptureCauses = 3;

// "counted error", "bad value block", "All Read split error"; empty for None.
std::wstring_view cause_text(CaptureCause cause);

// One command of a cycle as it went.
struct AgingStep {
  char code[3] = {0, 0, 0};
  int result = 0;      // the reconciled result code after the wait
  bool sent = true;    // false when the export returned process number 0
  // A draw refused because a card waits at the exit, repeated until it is taken: the
  // refused draws and how long the card was held (0 for every other step).
  std::uint32_t repeats = 0;
  std::chrono::milliseconds held{0};
};

// One cycle, for the record and the plot.
struct AgingCycle {
  std::uint32_t number = 0;  // 1-based
  AgingKind kind = AgingKind::Ms;
  std::vector<AgingStep> steps;
  enum class Card : std::uint8_t { Ejected, Captured, Left } card = Card::Left;
  CaptureCause cause = CaptureCause::None;  // why the card was, or was to be, captured
  bool complete = false;     // false when the run ended inside this cycle
};

// A failing command: where and when, what it was and what it answered (cycle 0: none).
struct AgingFailure {
  std::uint32_t cycle = 0;
  std::chrono::system_clock::time_point when{};
  char code[3] = {0, 0, 0};
  int result = 0;
  bool sent = true;
};

// The run's outcome.
struct AgingSummary {
  std::int32_t count = 0;          // N
  std::int32_t done = 0;           // cycles completed
  std::int32_t begun = 0;          // cycles started: done, plus the one the run ended in
  AgingEnd end = AgingEnd::Completed;
  std::wstring message;            // the message shown when the run ended with one
  std::array<std::uint32_t, 5> counted{};  // track 1, 2, 3, IC, RF
  std::array<std::uint32_t, 6> other{};    // other errors per item: track 1, 2, 3, IC, RF, all tracks
  // The first and the last command with a non-zero result per item, as `other`.
  std::array<AgingFailure, 6> first_failure{};
  std::array<AgingFailure, 6> last_failure{};
  // Cards captured, by cause: counted error, bad value block, "All Read" split error.
  std::array<std::uint32_t, kCaptureCauses> captured{};
  std::uint32_t longest_cycle = 0;        // its number, 0 before the first cycle ended
  std::chrono::milliseconds longest{0};   // from the draw to the eject or capture
  // For a run that ended early on a command: that command (cycle 0 otherwise).
  AgingFailure ended_by;
};

// What the run reads from the page and shows on it. Tracks are numbered 1 to 3.
class AgingControls {
 public:
  virtual ~AgingControls() = default;

  virtual std::wstring count_text() = 0;
  virtual bool all_read() = 0;
  virtual AgingKind kind() = 0;
  virtual bool stacker() = 0;
  virtual bool eject_capture() = 0;
  virtual bool rotation() = 0;
  virtual bool write_track(int track) = 0;
  virtual bool read_track(int track) = 0;
  virtual std::wstring write_text(int track) = 0;
  virtual std::wstring ic_text() = 0;
  virtual std::wstring rf_text() = 0;

  virtual void set_write_text(int track, const std::wstring &text) = 0;
  virtual void set_read_text(int track, const std::wstring &text) = 0;
  virtual void set_ic_text(const std::wstring &text) = 0;
  virtual void set_ic_output(const std::wstring &text) = 0;
  virtual void set_rf_output(const std::wstring &text) = 0;
  virtual void show_remain(std::int32_t remain) = 0;
  virtual void show_error_texts(const std::array<std::wstring, 5> &texts) = 0;
  // A modal message ("Packet Frame Error", "Input The Data", ...).
  virtual void message(std::wstring_view text) = 0;
  // The pause after each cycle, and the wait between two draws while a card is held at
  // the exit; the page keeps its window live through it.
  virtual void pause(std::chrono::milliseconds duration) = 0;

  // Progress, for the record and the plot.
  virtual void run_started(std::int32_t /*count*/) {}
  virtual void cycle_finished(const AgingCycle & /*cycle*/, const AgingStats & /*stats*/) {}
  virtual void run_finished(const AgingSummary & /*summary*/) {}
  // A card waits at the exit and holds the draw since `since`; said once per hold.
  virtual void card_held(std::chrono::system_clock::time_point /*since*/) {}
  // The hold is over (the card was taken, or the draw was left out): the held step with
  // its refused draws and the time held.
  virtual void hold_ended(const AgingStep & /*held*/) {}
};

// The page's texts when it opens; the command line's defaults too.
inline constexpr std::wstring_view kAgingTrackTexts[3] = {
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ12345678901234",
    L"123456789012345678901234567890123456",
    L"01234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123"};
// Set as typed here; the page's upper-case box shows it in capitals.
inline constexpr std::wstring_view kAgingIcText = L"abcdefghijklmno";
inline constexpr std::wstring_view kAgingRfText = L"10000";

// Longest MS text (bytes, as for the MS/IC page) and IC text (its length travels in one
// byte together with five header bytes).
inline constexpr std::size_t kMsTextMax = kTrackTextMaxBytes;
inline constexpr std::size_t kIcTextMax = 250;
// Longest text shown in a box (a 260-character buffer with its terminator).
inline constexpr std::size_t kShownTextMax = 259;

class AgingEngine {
 public:
  AgingEngine(CommandStep &step, AgingControls &controls);

  // Runs a whole run ("START") and returns how it went. Ignored (returns false) while a
  // run is active, e.g. when START is pressed inside one of the run's waits.
  bool run(AgingSummary *summary = nullptr);

  // "STOP": the run ends at its next cycle start. Safe from a signal handler.
  void request_stop() noexcept { stopped_.store(1); }
  // Ends the run after the command in flight (whose wait the caller cuts short).
  // Safe from a signal handler.
  void request_abandon() noexcept { abandon_.store(true); }
  bool abandon_requested() const noexcept { return abandon_.load(); }

  // The aging-stopped flag: 1 while no run is active, 0 while one runs. Setting it to 1
  // is STOP.
  std::uint8_t aging_stopped() const noexcept { return stopped_.load(); }
  void set_aging_stopped(std::uint8_t stopped) noexcept { stopped_.store(stopped != 0 ? 1 : 0); }
  bool running() const noexcept { return running_; }

  // The pause after each cycle (300 ms); 0 skips it.
  void set_pause(std::chrono::milliseconds pause) { pause_ = pause; }
  // The wait between two draws while a card is held at the exit (100 ms).
  void set_hold_interval(std::chrono::milliseconds interval) { hold_interval_ = interval; }

  const AgingStats &stats() const { return stats_; }

 private:
  void cycle(std::int32_t i, bool all_read);
  void draw(std::int32_t i, AgingKind kind);
  void ms_cycle(std::uint32_t c, bool all_read);
  void ic_cycle(std::uint32_t c);
  void rf_cycle(std::uint32_t c);
  void track_write(int track, std::uint32_t c);
  void track_read(int track, std::uint32_t c);
  void all_tracks_read(std::uint32_t c);
  void finish_cycle();
  void mark_capture(CaptureCause cause);

  StepResult send(const char *code, const CommandStep::Starter &start, std::wstring_view failure_text);
  std::uint8_t check(std::uint8_t item, std::uint32_t c);
  void check_or_end(std::uint8_t item, std::uint32_t c);
  // Ends the run now; a non-empty message is shown first.
  [[noreturn]] void end(AgingEnd why, std::wstring message = {});
  // Ends the run after a command that was not started ("Packet Frame Error" was shown).
  [[noreturn]] void end_not_started();
  bool texts_fit();

  CommandStep &step_;
  AgingControls &controls_;
  AgingStats stats_;
  std::chrono::milliseconds pause_{300};
  std::chrono::milliseconds hold_interval_{100};
  std::atomic<std::uint8_t> stopped_{1};
  std::atomic<bool> abandon_{false};
  bool running_ = false;
  bool cycle_error_ = false;  // the card is to be captured
  AgingCycle current_;
  AgingSummary summary_;
};

}  // namespace tolvex::bench

#include "aging_engine.hpp"

#include <algorithm>
#include <optional>

#include <tolvex/protocol.hpp>
#include <tolvex/tolvex.h>

#include "decimal.hpp"
#include "records.hpp"
#include "report.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

// Cuts a text to what a display box holds.
std::wstring shown(std::wstring text) {
  if (text.size() > kShownTextMax) text.resize(kShownTextMax);
  return text;
}

std::wstring track_label(int track) { return L"Track " + std::to_wstring(track); }

// Why a text does not fit its buffer; empty when it fits.
std::wstring too_long(const std::wstring &name, const std::string &text, std::size_t max) {
  if (text.size() <= max) return {};
  return name + L" text is longer than " + std::to_wstring(max) + L" bytes";
}

AgingFailure failure_of(const AgingStep &step, std::uint32_t cycle) {
  AgingFailure f;
  f.cycle = cycle;
  f.when = std::chrono::system_clock::now();
  std::copy_n(step.code, 3, f.code);
  f.result = step.result;
  f.sent = step.sent;
  return f;
}

// The run stops here; caught by run().
struct RunEnded {
  AgingEnd why;
};

}  // namespace

std::wstring_view end_text(AgingEnd end) {
  switch (end) {
    case AgingEnd::Completed: return L"all cycles done";
    case AgingEnd::Stopped: return L"stopped";
    case AgingEnd::OtherError: return L"a command failed with an error that ends the run";
    case AgingEnd::FrameError: return L"a command could not be started";
    case AgingEnd::NoIcText: return L"no IC text";
    case AgingEnd::TextTooLong: return L"a text does not fit its buffer";
    case AgingEnd::CardInside: return L"a card was already in the terminal";
    case AgingEnd::Abandoned: return L"abandoned";
  }
  return L"";
}

std::wstring_view cause_text(CaptureCause cause) {
  switch (cause) {
    case CaptureCause::None: break;
    case CaptureCause::CountedError: return L"counted error";
    case CaptureCause::BadValueBlock: return L"bad value block";
    case CaptureCause::AllReadSplit: return L"All Read split error";
  }
  return L"";
}

std::wstring_view kind_text(AgingKind kind) {
  switch (kind) {
    case AgingKind::Ms: return L"MS";
    case AgingKind::Ic: return L"IC";
    case AgingKind::Rf: return L"RF";
  }
  return L"";
}

AgingEngine::AgingEngine(CommandStep &step, AgingControls &controls) : step_(step), controls_(controls) {}

bool AgingEngine::run(AgingSummary *summary) {
  if (running_) return false;
  running_ = true;
  // Whatever way the run leaves, the engine is idle afterwards.
  struct Idle {
    AgingEngine &engine;
    ~Idle() {
      engine.running_ = false;
      engine.stopped_.store(1);
    }
  } idle{*this};
  abandon_.store(false);
  summary_ = AgingSummary{};
  current_ = AgingCycle{};

  std::int32_t i = 0;
  std::int32_t n = 0;
  if (!texts_fit()) {
    summary_.end = AgingEnd::TextTooLong;
  } else {
    stopped_.store(0);
    n = parse_decimal(to_narrow(controls_.count_text()));
    const bool all_read = controls_.all_read();
    stats_.reset();
    summary_.count = n;
    controls_.run_started(n);
    try {
      for (; i < n; ++i) {
        if (stopped_.load() == 1) throw RunEnded{AgingEnd::Stopped};
        if (abandon_.load()) throw RunEnded{AgingEnd::Abandoned};
        cycle(i, all_read);
      }
    } catch (const RunEnded &ended) {
      summary_.end = ended.why;
      // A run ended by a command's answer (or its not being started) names that command.
      const bool by_command =
          ended.why == AgingEnd::OtherError || ended.why == AgingEnd::FrameError || ended.why == AgingEnd::CardInside;
      if (by_command && !current_.steps.empty()) summary_.ended_by = failure_of(current_.steps.back(), current_.number);
      if (current_.number != 0) controls_.cycle_finished(current_, stats_);
    }
    stopped_.store(1);
    controls_.show_remain(n - i);
  }
  summary_.done = i;
  summary_.begun = current_.number != 0 ? i + 1 : i;
  summary_.counted = {stats_.track1(), stats_.track2(), stats_.track3(), stats_.ic(), stats_.rf()};
  if (summary_.end != AgingEnd::TextTooLong) controls_.run_finished(summary_);
  if (summary != nullptr) *summary = summary_;
  return true;
}

bool AgingEngine::texts_fit() {
  std::wstring problem;
  for (int track = 1; track <= 3 && problem.empty(); ++track) {
    problem = too_long(track_label(track), to_narrow(controls_.write_text(track)), kMsTextMax);
  }
  if (problem.empty()) problem = too_long(L"IC", to_narrow(controls_.ic_text()), kIcTextMax);
  if (problem.empty()) return true;
  summary_.message = problem;
  controls_.message(problem);
  return false;
}

void AgingEngine::end(AgingEnd why, std::wstring message) {
  if (!message.empty()) {
    controls_.message(message);
    summary_.message = std::move(message);
  }
  throw RunEnded{why};
}

void AgingEngine::end_not_started() {
  summary_.message = L"Packet Frame Error";
  throw RunEnded{AgingEnd::FrameError};
}

StepResult AgingEngine::send(const char *code, const CommandStep::Starter &start, std::wstring_view failure_text) {
  if (abandon_.load()) end(AgingEnd::Abandoned);
  const StepResult r = step_.run(std::string_view(code, 3), start, failure_text);
  AgingStep record;
  std::copy_n(code, 3, record.code);
  record.sent = r != StepResult::NotStarted;
  record.result = record.sent ? step_.state().result : 0;
  current_.steps.push_back(record);
  if (abandon_.load()) end(AgingEnd::Abandoned);
  return r;
}

std::uint8_t AgingEngine::check(std::uint8_t item, std::uint32_t c) {
  const std::uint8_t verdict = stats_.check(item, c, step_.state().result);
  if (verdict == AgingStats::kOtherError) ++summary_.other[item - 1];
  if (verdict == AgingStats::kCardError) mark_capture(CaptureCause::CountedError);
  if (verdict != AgingStats::kNoError && !current_.steps.empty()) {
    const AgingFailure f = failure_of(current_.steps.back(), c);
    if (summary_.first_failure[item - 1].cycle == 0) summary_.first_failure[item - 1] = f;
    summary_.last_failure[item - 1] = f;
  }
  controls_.show_error_texts(stats_.texts());
  return verdict;
}

void AgingEngine::mark_capture(CaptureCause cause) {
  cycle_error_ = true;
  if (current_.cause == CaptureCause::None || cause < current_.cause) current_.cause = cause;
}

void AgingEngine::check_or_end(std::uint8_t item, std::uint32_t c) {
  if (check(item, c) == AgingStats::kOtherError) end(AgingEnd::OtherError);
}

void AgingEngine::cycle(std::int32_t i, bool all_read) {
  cycle_error_ = false;
  controls_.show_remain(summary_.count - i);
  const auto c = static_cast<std::uint32_t>(i) + 1;
  const AgingKind kind = controls_.kind();
  current_ = AgingCycle{};
  current_.number = c;
  current_.kind = kind;
  const auto began = std::chrono::steady_clock::now();

  draw(i, kind);
  switch (kind) {
    case AgingKind::Ms: ms_cycle(c, all_read); break;
    case AgingKind::Ic: ic_cycle(c); break;
    case AgingKind::Rf: rf_cycle(c); break;
  }
  finish_cycle();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  if (summary_.longest_cycle == 0 || took > summary_.longest) {
    summary_.longest_cycle = c;
    summary_.longest = took;
  }
  current_.complete = true;
  controls_.cycle_finished(current_, stats_);
  current_ = AgingCycle{};
  if (pause_.count() > 0) controls_.pause(pause_);
}

void AgingEngine::draw(std::int32_t i, AgingKind kind) {
  const auto destination = static_cast<std::uint8_t>(kind == AgingKind::Ms ? 1 : kind == AgingKind::Ic ? 2 : 3);
  // A card left at the exit holds the run until it is taken, whatever STOP says; only a
  // draw that was really sent is repeated, so a draw left out never spins on an old
  // result. The repetition is one held step, its draws a short wait apart and
  // reported once.
  std::optional<std::size_t> held;
  std::chrono::steady_clock::time_point since;
  struct Reporting {
    CommandStep &step;
    ~Reporting() { step.set_reporting(true); }
  } reporting{step_};
  for (;;) {
    if (!controls_.stacker() || !controls_.eject_capture()) break;
    const StepResult r = send("C31", [destination] { return card_stk_mov(0, destination); }, L"Frame Error");
    if (r != StepResult::Reported || step_.state().result != terminal_status::kCardInside) {
      // The draw that ends a hold is reported as usual.
      if (held && r == StepResult::Reported) {
        step_.set_reporting(true);
        step_.report();
      }
      break;
    }
    if (i == 0) end(AgingEnd::CardInside);
    if (!held) {
      held = current_.steps.size() - 1;
      since = std::chrono::steady_clock::now();
      step_.set_reporting(false);
      controls_.card_held(std::chrono::system_clock::now());
    } else {
      current_.steps.pop_back();
    }
    AgingStep &step = current_.steps[*held];
    ++step.repeats;
    step.held = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since);
    if (hold_interval_.count() > 0) controls_.pause(hold_interval_);
  }
  if (held) {
    AgingStep &step = current_.steps[*held];
    step.held = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since);
    controls_.hold_ended(step);
  }
}

void AgingEngine::track_write(int track, std::uint32_t c) {
  const std::wstring wide = controls_.write_text(track);
  const std::string text = to_narrow(wide);
  if (std::wstring problem = too_long(track_label(track), text, kMsTextMax); !problem.empty()) {
    end(AgingEnd::TextTooLong, std::move(problem));
  }
  const auto t = static_cast<std::uint8_t>(track);
  const StepResult r = send(
      "M33",
      [&text, t] {
        return ms_wt(0, t, reinterpret_cast<const std::uint8_t *>(text.data()), static_cast<std::uint32_t>(text.size()));
      },
      L"Packet Frame Error");
  if (r == StepResult::NotStarted) end_not_started();
  // The whole text goes back, however long: the next write sends all of it again.
  if (controls_.rotation() && step_.state().result == 0) controls_.set_write_text(track, rotate_text(wide));
  check_or_end(static_cast<std::uint8_t>(track), c);
}

void AgingEngine::track_read(int track, std::uint32_t c) {
  const auto t = static_cast<std::uint8_t>(track);
  if (send("M31", [t] { return ms_rd(t); }, L"Packet Frame Error") == StepResult::NotStarted) {
    end_not_started();
  }
  const CommandState &s = step_.state();
  controls_.set_read_text(track, s.result == 0 ? shown(response_text(s.response.data(), s.response.size(), 0))
                                               : track_label(track) + L" ERROR");
  check_or_end(t, c);
}

void AgingEngine::all_tracks_read(std::uint32_t c) {
  // Not started: "Frame Error 1", and the buffer is split with whatever it holds.
  send("M35", [] { return ms_rd(0); }, L"Frame Error 1");
  const CommandState &s = step_.state();
  const AllReadTracks parts = split_all_read(s.response.data(), s.response.size());
  for (int k = 0; k < 3; ++k) {
    controls_.set_read_text(k + 1, k < parts.filled ? shown(to_wide(parts.tracks[static_cast<std::size_t>(k)]))
                                                    : std::wstring(L"ERROR"));
  }
  if (parts.frame_error != 0) mark_capture(CaptureCause::AllReadSplit);
  // Any verdict goes on to the cycle end here.
  check(AgingStats::kAllTracks, c);
}

void AgingEngine::ms_cycle(std::uint32_t c, bool all_read) {
  if (controls_.write_track(1)) track_write(1, c);
  if (!all_read && controls_.read_track(1)) track_read(1, c);
  if (controls_.write_track(2)) track_write(2, c);
  if (!all_read && controls_.read_track(2)) track_read(2, c);
  if (controls_.write_track(3)) track_write(3, c);
  if (all_read) {
    all_tracks_read(c);
  } else if (controls_.read_track(3)) {
    track_read(3, c);
  }
}

void AgingEngine::ic_cycle(std::uint32_t c) {
  static constexpr std::uint8_t kSelectFirst[9] = {0x00, 0x07, 0x00, 0xA4, 0x01, 0x00, 0x02, 0x02, 0x00};
  static constexpr std::uint8_t kSelectSecond[9] = {0x00, 0x07, 0x00, 0xA4, 0x02, 0x00, 0x02, 0x02, 0x01};
  static constexpr std::uint8_t kReadBinary[8] = {0x00, 0x06, 0x00, 0xB0, 0x00, 0x00, 0x00, 0x0F};

  const auto apdu = [this](const std::uint8_t *bytes, std::uint32_t n) {
    if (send("I22", [bytes, n] { return ic_exe(bytes, n); }, L"Packet Frame Error") == StepResult::NotStarted) {
      end_not_started();
    }
  };

  if (send("I21", [] { return ic_reset(); }, L"Packet Frame Error") == StepResult::NotStarted) end_not_started();
  check_or_end(AgingStats::kIc, c);
  apdu(kSelectFirst, sizeof kSelectFirst);
  check_or_end(AgingStats::kIc, c);
  apdu(kSelectSecond, sizeof kSelectSecond);
  check_or_end(AgingStats::kIc, c);

  const std::wstring wide = controls_.ic_text();
  const std::string text = to_narrow(wide);
  if (text.empty()) end(AgingEnd::NoIcText, L"Input The Data");
  if (std::wstring problem = too_long(L"IC", text, kIcTextMax); !problem.empty()) {
    end(AgingEnd::TextTooLong, std::move(problem));
  }
  const auto n = static_cast<std::uint8_t>(text.size());
  std::vector<std::uint8_t> update = {0x00, static_cast<std::uint8_t>(n + 5), 0x00, 0xD6, 0x00, 0x00, n};
  update.insert(update.end(), text.begin(), text.end());
  apdu(update.data(), static_cast<std::uint32_t>(update.size()));
  check_or_end(AgingStats::kIc, c);
  controls_.set_ic_text(rotate_text(wide));

  apdu(kReadBinary, sizeof kReadBinary);
  const std::uint8_t verdict = check(AgingStats::kIc, c);
  if (verdict == AgingStats::kOtherError) end(AgingEnd::OtherError);
  const CommandState &s = step_.state();
  if (verdict == AgingStats::kCardError) {
    controls_.set_ic_output(L"ERROR");
  } else {
    controls_.set_ic_output(shown(response_text(s.response.data(), s.response.size(), 2)));
  }
}

void AgingEngine::rf_cycle(std::uint32_t c) {
  const std::int32_t value = parse_decimal(to_narrow(controls_.rf_text()));
  const std::array<std::uint8_t, 16> block = value_block(value);
  send("R32", [&block] { return mi_wt_blk(1, 1, block.data()); }, L"Frame Error");
  check_or_end(AgingStats::kRf, c);

  send("R31", [] { return mi_rd_blk(1, 1); }, L"Frame Error");
  const std::uint8_t verdict = check(AgingStats::kRf, c);
  if (verdict == AgingStats::kOtherError) end(AgingEnd::OtherError);
  if (verdict == AgingStats::kCardError) controls_.set_rf_output(L"ERROR");

  // The answer is sector, block, then the block: words at offsets 2, 6 and 10.
  const CommandState &s = step_.state();
  if (const auto balance = value_block_balance(s.response.data() + 2)) {
    controls_.set_rf_output(std::to_wstring(*balance));
  } else {
    controls_.set_rf_output(L"ERROR");
    mark_capture(CaptureCause::BadValueBlock);
  }
}

void AgingEngine::finish_cycle() {
  if (!controls_.eject_capture()) return;
  const bool capture = cycle_error_;
  const StepResult r = capture ? send("C34", [] { return card_capture(); }, L"Frame Error")
                               : send("C33", [] { return card_eject(); }, L"Frame Error");
  if (r != StepResult::Reported) return;
  current_.card = capture ? AgingCycle::Card::Captured : AgingCycle::Card::Ejected;
  if (capture) ++summary_.captured[static_cast<std::size_t>(current_.cause) - 1];
}

}  // namespace tolvex::bench

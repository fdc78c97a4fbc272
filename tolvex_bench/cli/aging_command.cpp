#include "aging_command.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "aging_engine.hpp"
#include "aging_record.hpp"
#include "decimal.hpp"
#include "json.hpp"
#include "text.hpp"

namespace tolvex::cli {

namespace {

using bench::AgingKind;

struct AgingOptions {
  AgingKind kind = AgingKind::Ms;
  std::int32_t count = 0;
  std::vector<int> write;
  std::vector<int> read;
  bool all_read = false;
  bool stacker = true;
  bool eject = true;
  bool rotate = true;
  std::wstring ic_text;
  std::wstring rf_text;
  std::string record = "aging-records";
  bool no_record = false;
  int pause_ms = 300;
};

// The run's choices are fixed for the whole run; the texts rotate as on the page.
class CliControls final : public bench::AgingControls {
 public:
  CliControls(const AgingOptions &o, std::ostream &out, std::ostream &err) : o_(o), out_(out), err_(err) {
    for (std::size_t t = 0; t < 3; ++t) write_[t] = std::wstring(bench::kAgingTrackTexts[t]);
    ic_ = o.ic_text;
  }

  std::wstring count_text() override { return bench::decimal_text(o_.count); }
  bool all_read() override { return o_.all_read; }
  AgingKind kind() override { return o_.kind; }
  bool stacker() override { return o_.stacker; }
  bool eject_capture() override { return o_.eject; }
  bool rotation() override { return o_.rotate; }
  bool write_track(int track) override { return std::count(o_.write.begin(), o_.write.end(), track) != 0; }
  bool read_track(int track) override { return std::count(o_.read.begin(), o_.read.end(), track) != 0; }
  std::wstring write_text(int track) override { return write_[static_cast<std::size_t>(track - 1)]; }
  std::wstring ic_text() override { return ic_; }
  std::wstring rf_text() override { return o_.rf_text; }

  void set_write_text(int track, const std::wstring &text) override { write_[static_cast<std::size_t>(track - 1)] = text; }
  void set_read_text(int, const std::wstring &) override {}
  void set_ic_text(const std::wstring &text) override { ic_ = text; }
  void set_ic_output(const std::wstring &) override {}
  void set_rf_output(const std::wstring &) override {}
  void show_remain(std::int32_t remain) override {
    if (progress_) {
      show_progress(remain);
    } else if (!json_ && !quiet_) {
      out_ << "Remain: " << remain << "\n" << std::flush;
    }
  }
  void show_error_texts(const std::array<std::wstring, 5> &texts) override { errors_ = texts; }
  void message(std::wstring_view text) override { err_ << bench::to_utf8(text) << "\n"; }

  void pause(std::chrono::milliseconds duration) override {
    // Sleeps in slices so that giving up the run is not held back by the pause.
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until && !(abandoned_ && abandoned_())) {
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          std::chrono::milliseconds(20), until - std::chrono::steady_clock::now()));
    }
  }

  void run_started(std::int32_t) override {
    start_ = bench::AgingRecord::Clock::now();
    if (o_.no_record) return;
    record_.emplace(o_.record, start_);
    record_->begin();
    warn_if_needed();
  }
  void cycle_finished(const bench::AgingCycle &cycle, const bench::AgingStats &stats) override {
    errors_so_far_ = stats.track1() + stats.track2() + stats.track3() + stats.ic() + stats.rf();
    if (!record_) return;
    record_->add(cycle, bench::AgingRecord::Clock::now());
    warn_if_needed();
  }
  void run_finished(const bench::AgingSummary &summary) override {
    if (progress_) out_ << "\n" << std::flush;  // the progress line stays
    const auto end = bench::AgingRecord::Clock::now();
    summary_ = bench::summary_text(summary, start_, end);
    if (!record_) return;
    record_->finish(summary, end);
    if (!warn_if_needed()) err_ << "tolvex_cli: aging record: " << record_->csv_path().string() << "\n";
  }
  void card_held(bench::AgingRecord::Clock::time_point since) override {
    (json_ ? err_ : out_) << bench::held_text(since) << "\n" << std::flush;
  }
  void hold_ended(const bench::AgingStep &held) override {
    (json_ ? err_ : out_) << bench::hold_ended_text(held) << "\n" << std::flush;
  }

  // The run's summary once it has ended.
  const std::string &summary() const { return summary_; }

  const std::array<std::wstring, 5> &errors() const { return errors_; }
  std::function<bool()> abandoned_;
  bool json_ = false;      // standard output gets the summary object alone
  bool quiet_ = false;     // no "Remain:" lines
  bool progress_ = false;  // one progress line on a terminal instead of "Remain:" lines

 private:
  // "cycle 12 of 100, 0 errors, 41.2 cycles/min, 2m08s left", rewritten in place.
  void show_progress(std::int32_t remain) {
    const std::int64_t done = std::int64_t{o_.count} - remain;
    const double seconds = std::chrono::duration<double>(bench::AgingRecord::Clock::now() - start_).count();
    char line[160];
    if (done <= 0 || seconds <= 0) {
      std::snprintf(line, sizeof line, "cycle %lld of %d, %u errors", static_cast<long long>(done + (remain > 0 ? 1 : 0)),
                    o_.count, errors_so_far_);
    } else {
      const double per_second = static_cast<double>(done) / seconds;
      const auto left = static_cast<long long>(static_cast<double>(remain) / per_second);
      std::snprintf(line, sizeof line, "cycle %lld of %d, %u errors, %.1f cycles/min, %lldh%02lldm%02llds left",
                    static_cast<long long>(done + (remain > 0 ? 1 : 0)), o_.count, errors_so_far_, per_second * 60,
                    left / 3600, left / 60 % 60, left % 60);
    }
    out_ << "\r" << line << "\x1b[K" << std::flush;  // the rest of the old line erased
  }

  bool warn_if_needed() {
    const std::string warning = record_->take_warning();
    if (warning.empty()) return false;
    err_ << "tolvex_cli: aging record not written: " << warning << "\n";
    return true;
  }

  const AgingOptions &o_;
  std::ostream &out_;
  std::ostream &err_;
  std::array<std::wstring, 3> write_;
  std::wstring ic_;
  // Until the first error check the page shows its labels alone.
  std::array<std::wstring, 5> errors_ = {L"Track1: ", L"Track2: ", L"Track3: ", L"IC: ", L"RF: "};
  std::optional<bench::AgingRecord> record_;
  bench::AgingRecord::Clock::time_point start_;
  std::string summary_;
  std::uint32_t errors_so_far_ = 0;
};

// The engine the interrupt handler talks to; only atomic stores happen in the handler.
// Ctrl-C, a kill (SIGTERM) and a closed session (SIGHUP) all ask the run to stop after
// its cycle, so that the card leaves the transport and the summary is written; a second
// one gives up at once.
std::atomic<bench::AgingEngine *> g_engine{nullptr};
std::atomic<int> g_interrupts{0};

extern "C" void on_interrupt(int) {
#ifdef _WIN32
  std::signal(SIGINT, &on_interrupt);  // the C runtime resets the handler on each delivery
#endif
  bench::AgingEngine *engine = g_engine.load();
  if (engine == nullptr) return;
  if (g_interrupts.fetch_add(1) == 0) {
    engine->request_stop();
  } else {
    engine->request_abandon();
  }
}

std::wstring upper(std::string_view text) {
  std::wstring wide = bench::to_wide(text);
  for (wchar_t &c : wide) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return wide;
}

// The aging options as typed, before they become AgingOptions.
struct AgingArguments {
  AgingOptions o;
  std::string kind = "ms";
  std::string ic_text = bench::to_utf8(bench::kAgingIcText);
  std::string rf_text = bench::to_utf8(bench::kAgingRfText);
  bool no_stacker = false;
  bool no_eject = false;
  bool no_rotate = false;
};

// The run's outcome as one JSON object: the counts of the summary, the error texts of
// the page and the summary's text.
std::string summary_json(const bench::AgingSummary &s, const CliControls &controls) {
  const auto counts = [](const auto &values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + std::to_string(values[i]);
    return out + "]";
  };
  std::vector<std::string> errors;
  for (const std::wstring &text : controls.errors()) errors.push_back(bench::to_utf8(text));
  JsonObject o;
  o.add("aging", true)
      .add("count", static_cast<std::int64_t>(s.count))
      .add("done", static_cast<std::int64_t>(s.done))
      .add("begun", static_cast<std::int64_t>(s.begun))
      .add("ended", bench::to_utf8(bench::end_text(s.end)))
      .add("message", bench::to_utf8(s.message))
      .add_json("counted", counts(s.counted))
      .add_json("other", counts(s.other))
      .add_json("captured", counts(s.captured))
      .add("longest_cycle", static_cast<std::int64_t>(s.longest_cycle))
      .add("longest_ms", static_cast<std::int64_t>(s.longest.count()))
      .add("error_texts", errors)
      .add("summary", controls.summary());
  return o.text();
}

// The one list of the aging options: parses them, and gives the tool's help their usage.
void add_aging_options(CLI::App &app, AgingArguments &a) {
  AgingOptions &o = a.o;
  app.add_option("--kind", a.kind, "medium of each cycle")
      ->check(CLI::IsMember({"ms", "ic", "rf"}))
      ->capture_default_str();
  app.add_option("--count", o.count, "number of cycles")->required()->check(CLI::Range(0, INT32_MAX));
  app.add_option("--write", o.write, "tracks written in each cycle")->delimiter(',')->check(CLI::Range(1, 3));
  app.add_option("--read", o.read, "tracks read in each cycle")->delimiter(',')->check(CLI::Range(1, 3));
  app.add_flag("--all-read", o.all_read, "read the three tracks with one command");
  app.add_flag("--no-stacker", a.no_stacker, "draw no card at the start of a cycle");
  app.add_flag("--no-eject", a.no_eject, "neither draw nor eject or capture a card");
  app.add_flag("--no-rotate", a.no_rotate, "keep the track texts as they are");
  app.add_option("--ic-text", a.ic_text, "IC text (upper case)")->capture_default_str();
  app.add_option("--rf-value", a.rf_text, "RF value (its leading decimal number)")->capture_default_str();
  auto *record = app.add_option("--record", o.record, "write the run's record into this folder")->capture_default_str();
  app.add_flag("--no-record", o.no_record, "write no record")->excludes(record);
  app.add_option("--pause", o.pause_ms, "pause after each cycle in ms")->check(CLI::Range(0, 3600000))->capture_default_str();
}

constexpr const char *kAgingDescription =
    "The bench's aging run, its record in aging-records/ unless told otherwise (Ctrl-C, SIGTERM or SIGHUP\n"
    "stop after the cycle, a second one at once); exit 0 when all cycles were done, 1 when it ended early";

// The options alone: the tool's help has one usage block, its own.
class NoUsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App *, std::string) const override { return {}; }
};

}  // namespace

std::string aging_usage() {
  CLI::App app{kAgingDescription, "tolvex_cli aging"};
  app.formatter(std::make_shared<NoUsageFormatter>());
  AgingArguments a;
  add_aging_options(app, a);
  // The help, indented under the tool's own.
  std::string usage;
  const std::string text = app.help();
  std::string_view help = text;
  while (!help.empty()) {
    const std::size_t end = help.find('\n');
    const std::string_view line = help.substr(0, end);
    usage += line.empty() ? "\n" : "  " + std::string(line) + "\n";
    help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
  }
  while (usage.size() > 1 && usage.ends_with("\n\n")) usage.pop_back();
  return usage;
}

int run_aging(const SessionOptions &options, const std::vector<std::string> &words, std::ostream &out,
              std::ostream &err) {
  CLI::App app{kAgingDescription, "tolvex_cli aging"};
  AgingArguments a;
  add_aging_options(app, a);
  AgingOptions &o = a.o;

  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError &e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  o.kind = a.kind == "ic" ? AgingKind::Ic : a.kind == "rf" ? AgingKind::Rf : AgingKind::Ms;
  o.stacker = !a.no_stacker;
  o.eject = !a.no_eject;
  o.rotate = !a.no_rotate;
  o.ic_text = upper(a.ic_text);
  o.rf_text = upper(a.rf_text);
  if (bench::to_narrow(o.ic_text).size() > bench::kIcTextMax) {
    err << "tolvex_cli: --ic-text is longer than " << bench::kIcTextMax << " bytes\n";
    return kExitUsage;
  }

  Session session(options, out, err);
  if (!session.open_port()) return kExitPort;
  CliControls controls(o, out, err);
  controls.json_ = options.json;
  controls.quiet_ = options.verbosity < 0;
#ifdef _WIN32
  controls.progress_ = false;
#else
  // On a terminal one progress line; to a file or a pipe the reports and "Remain:" lines.
  controls.progress_ = !options.json && &out == &std::cout && ::isatty(1) != 0;
#endif
  if (controls.progress_ && options.verbosity <= 0) session.show_reports(false);
  bench::AgingEngine engine(session.step(), controls);
  engine.set_pause(std::chrono::milliseconds(o.pause_ms));
  controls.abandoned_ = [&engine] { return engine.abandon_requested(); };
  session.set_abandon_check([&engine] { return engine.abandon_requested(); });

  g_interrupts.store(0);
  g_engine.store(&engine);
#ifdef _WIN32
  // Windows has no SIGHUP or SIGPIPE; Ctrl-C and a terminate request stop the run.
  static constexpr int kStopSignals[] = {SIGINT, SIGTERM};
  void (*previous[std::size(kStopSignals)])(int) {};
  for (std::size_t k = 0; k < std::size(kStopSignals); ++k) previous[k] = std::signal(kStopSignals[k], &on_interrupt);
#else
  static constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  struct sigaction previous[std::size(kStopSignals)] {};
  action.sa_handler = &on_interrupt;
  sigemptyset(&action.sa_mask);
  for (std::size_t k = 0; k < std::size(kStopSignals); ++k) sigaction(kStopSignals[k], &action, &previous[k]);
  // Output to a closed session fails instead of ending the program before the card is out.
  struct sigaction ignore {};
  struct sigaction previous_pipe {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous_pipe);
#endif

  bench::AgingSummary summary;
  engine.run(&summary);

#ifdef _WIN32
  for (std::size_t k = 0; k < std::size(kStopSignals); ++k) std::signal(kStopSignals[k], previous[k]);
#else
  for (std::size_t k = 0; k < std::size(kStopSignals); ++k) sigaction(kStopSignals[k], &previous[k], nullptr);
#endif
  g_engine.store(nullptr);

  if (options.json) {
    out << summary_json(summary, controls) << "\n";
  } else {
    for (const std::wstring &text : controls.errors()) out << bench::to_utf8(text) << "\n";
    out << controls.summary();
  }
  out.flush();
#ifndef _WIN32
  sigaction(SIGPIPE, &previous_pipe, nullptr);
#endif
  return summary.end == bench::AgingEnd::Completed ? kExitOk : kExitFailed;
}

}  // namespace tolvex::cli

// The aging run against the simulated terminal, its faults injected by rule.
#include "aging_engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "aging_record.hpp"
#include "completion_wait.hpp"

namespace tolvex::bench {
namespace {

using Codes = std::vector<std::string>;

// The page as the run sees it: initial contents, and a record of everything shown.
struct FakeControls final : AgingControls {
  std::wstring count = L"1";
  bool all = false;
  AgingKind k = AgingKind::Ms;
  bool stacker_on = true;
  bool eject_on = true;
  bool rotate = true;
  std::array<bool, 3> wr{};
  std::array<bool, 3> rd{};
  std::array<std::wstring, 3> write = {std::wstring(kAgingTrackTexts[0]), std::wstring(kAgingTrackTexts[1]),
                                       std::wstring(kAgingTrackTexts[2])};
  std::array<std::wstring, 3> read;
  std::wstring ic = L"ABCDEFGHIJKLMNO";
  std::wstring rf = L"10000";
  std::wstring ic_out;
  std::wstring rf_out;
  std::vector<std::int32_t> remains;
  std::array<std::wstring, 5> errors;
  std::vector<std::wstring> messages;
  int pauses = 0;
  std::vector<std::chrono::milliseconds> pause_lengths;
  std::vector<AgingCycle> cycles;
  int holds = 0;
  std::vector<AgingStep> hold_ends;
  int stacker_reads = 0;
  std::function<void(int)> on_stacker;  // called with the number of the read

  std::wstring count_text() override { return count; }
  bool all_read() override { return all; }
  AgingKind kind() override { return k; }
  bool stacker() override {
    if (on_stacker) on_stacker(++stacker_reads);
    return stacker_on;
  }
  bool eject_capture() override { return eject_on; }
  bool rotation() override { return rotate; }
  bool write_track(int t) override { return wr[static_cast<std::size_t>(t - 1)]; }
  bool read_track(int t) override { return rd[static_cast<std::size_t>(t - 1)]; }
  std::wstring write_text(int t) override { return write[static_cast<std::size_t>(t - 1)]; }
  std::wstring ic_text() override { return ic; }
  std::wstring rf_text() override { return rf; }
  void set_write_text(int t, const std::wstring &text) override { write[static_cast<std::size_t>(t - 1)] = text; }
  void set_read_text(int t, const std::wstring &text) override { read[static_cast<std::size_t>(t - 1)] = text; }
  void set_ic_text(const std::wstring &text) override { ic = text; }
  void set_ic_output(const std::wstring &text) override { ic_out = text; }
  void set_rf_output(const std::wstring &text) override { rf_out = text; }
  void show_remain(std::int32_t remain) override { remains.push_back(remain); }
  void show_error_texts(const std::array<std::wstring, 5> &texts) override { errors = texts; }
  void message(std::wstring_view text) override { messages.emplace_back(text); }
  void pause(std::chrono::milliseconds length) override {
    ++pauses;
    pause_lengths.push_back(length);
  }
  void cycle_finished(const AgingCycle &cycle, const AgingStats &) override { cycles.push_back(cycle); }
  void card_held(std::chrono::system_clock::time_point) override { ++holds; }
  void hold_ended(const AgingStep &held) override { hold_ends.push_back(held); }

  // Every command the run started, in order; a held draw once per draw sent.
  Codes sent() const {
    Codes out;
    for (const AgingCycle &c : cycles) {
      for (const AgingStep &s : c.steps) {
        if (s.sent) out.insert(out.end(), std::max<std::uint32_t>(s.repeats, 1), std::string(s.code, 3));
      }
    }
    return out;
  }
};

class TestHost final : public StepHost {
 public:
  explicit TestHost(std::vector<std::wstring> &messages) : messages_(messages) {}
  bool wait(const std::function<bool()> &collected) override { return completion.wait(collected); }
  void message(std::wstring_view text) override { messages_.emplace_back(text); }
  void report(const std::wstring &text) override { reports.push_back(text.substr(0, text.find(L'\n'))); }
  CompletionWait completion;
  std::vector<std::wstring> reports;  // the first line of each

 private:
  std::vector<std::wstring> &messages_;
};

Codes repeat(const Codes &codes, int times) {
  Codes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), codes.begin(), codes.end());
  return out;
}

class AgingRun : public ::testing::Test {
 protected:
  void start(int exit_take_ms = 0) {
    sim::Options options;
    options.instant = true;
    options.exit_take_ms = exit_take_ms;
    sim_ = std::make_unique<sim::Simulator>(options);
    ASSERT_TRUE(sim_->start());
    ASSERT_NE(EnablePort(sim_->path().c_str(), 8, 0, 0, 38400, 0), 0);
    engine_.set_pause(std::chrono::milliseconds(1));  // seen by the fake, never slept
  }
  void TearDown() override { DisablePort(); }

  AgingSummary run() {
    AgingSummary summary;
    EXPECT_TRUE(engine_.run(&summary));
    EXPECT_EQ(engine_.aging_stopped(), 1);
    return summary;
  }

  std::unique_ptr<sim::Simulator> sim_;
  FakeControls controls_;
  TestHost host_{controls_.messages};
  CommandStep step_{host_};
  AgingEngine engine_{step_, controls_};
};

struct RunCase {
  const char *name;
  std::function<void(FakeControls &)> setup;
  std::vector<std::string> faults;
  Codes sent;
  std::vector<std::int32_t> remains;
  AgingEnd end;
  std::array<std::wstring, 5> errors;  // empty: not looked at
  std::vector<std::wstring> messages;
};

TEST_F(AgingRun, RunsAsTheChoicesAndFaultsSay) {
  const auto ms = [](std::initializer_list<int> wr, std::initializer_list<int> rd) {
    return [wr, rd](FakeControls &c) {
      for (int t : wr) c.wr[static_cast<std::size_t>(t - 1)] = true;
      for (int t : rd) c.rd[static_cast<std::size_t>(t - 1)] = true;
    };
  };
  const std::wstring long_ms(300, L'A');
  const std::wstring long_ic(251, L'A');
  const RunCase cases[] = {
      {"three MS cycles, track 1 write and read",
       [&](FakeControls &c) { ms({1}, {1})(c); c.count = L"3"; }, {},
       repeat({"C31", "M33", "M31", "C33"}, 3), {3, 2, 1, 0}, AgingEnd::Completed,
       {L"Track1: 0 , 0%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"count 0 sends nothing", [](FakeControls &c) { c.count = L"0"; }, {}, {}, {0}, AgingEnd::Completed, {}, {}},
      {"negative count sends nothing", [](FakeControls &c) { c.count = L" -4"; }, {}, {}, {-4}, AgingEnd::Completed, {}, {}},
      {"count text sends nothing", [](FakeControls &c) { c.count = L"many"; }, {}, {}, {0}, AgingEnd::Completed, {}, {}},
      {"no stacker: no draw, still ejected",
       [](FakeControls &c) { c.count = L"2"; c.stacker_on = false; }, {},
       {"C33", "C33"}, {2, 1, 0}, AgingEnd::Completed, {}, {}},
      {"no eject: neither draw nor eject",
       [](FakeControls &c) { c.count = L"2"; c.eject_on = false; }, {}, {}, {2, 1, 0}, AgingEnd::Completed, {}, {}},
      {"card inside in the first cycle ends the run without a message",
       [&](FakeControls &c) { ms({1}, {1})(c); c.count = L"3"; }, {"C31:status=0x2006#1"},
       {"C31"}, {3, 3}, AgingEnd::CardInside, {}, {}},
      {"counted read error captures that cycle's card",
       [&](FakeControls &c) { ms({1}, {1})(c); c.count = L"2"; }, {"M31:status=0x2203#2"},
       {"C31", "M33", "M31", "C33", "C31", "M33", "M31", "C34"}, {2, 1, 0}, AgingEnd::Completed,
       {L"Track1: 1 , 50.00%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"track 1 write and read errors in one cycle count once",
       ms({1}, {1}), {"M33:status=0x2202", "M31:status=0x2203"},
       {"C31", "M33", "M31", "C34"}, {1, 0}, AgingEnd::Completed,
       {L"Track1: 1 , 100%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"all read after a track 1 error counts nothing more",
       [&](FakeControls &c) { ms({1}, {1, 2, 3})(c); c.all = true; }, {"M33:status=0x2202", "M35:status=0x2203"},
       {"C31", "M33", "M35", "C34"}, {1, 0}, AgingEnd::Completed,
       {L"Track1: 1 , 100%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"all read after a track 2 error counts track 2 twice",
       [&](FakeControls &c) { ms({2}, {})(c); c.all = true; }, {"M33:status=0x2202", "M35:status=0x2209"},
       {"C31", "M33", "M35", "C34"}, {1, 0}, AgingEnd::Completed,
       {L"Track1: 1 , 100%", L"Track2: 2 , 200.00%", L"Track3: 1 , 100%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"all read with another error goes on",
       [&](FakeControls &c) { ms({1}, {})(c); c.all = true; c.count = L"2"; }, {"M35:status=0x2208#1"},
       repeat({"C31", "M33", "M35", "C33"}, 2), {2, 1, 0}, AgingEnd::Completed, {}, {}},
      {"IC contact error 0x2208 ends the run at once",
       [](FakeControls &c) { c.k = AgingKind::Ic; c.count = L"2"; }, {"I21:status=0x2208"},
       {"C31", "I21"}, {2, 2}, AgingEnd::OtherError,
       {L"Track1: 0 , 0%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 0 , 0%"}, {}},
      {"IC cycle", [](FakeControls &c) { c.k = AgingKind::Ic; }, {},
       {"C31", "I21", "I22", "I22", "I22", "I22", "C33"}, {1, 0}, AgingEnd::Completed, {}, {}},
      {"empty IC text ends the run", [](FakeControls &c) { c.k = AgingKind::Ic; c.ic.clear(); }, {},
       {"C31", "I21", "I22", "I22"}, {1, 1}, AgingEnd::NoIcText, {}, {L"Input The Data"}},
      {"counted RF read error captures",
       [](FakeControls &c) { c.k = AgingKind::Rf; }, {"R31:status=0x2304"},
       {"C31", "R32", "R31", "C34"}, {1, 0}, AgingEnd::Completed,
       {L"Track1: 0 , 0%", L"Track2: 0 , 0%", L"Track3: 0 , 0%", L"IC: 0 , 0%", L"RF: 1 , 100%"}, {}},
      {"a draw left out never repeats on an old 0x2006",
       [](FakeControls &c) { c.count = L"2"; c.stacker_on = false; }, {"C33:status=0x2006"},
       {"C33", "C33"}, {2, 1, 0}, AgingEnd::Completed, {}, {}},
      {"a text made too long during the run ends it where it is used",
       [&](FakeControls &c) {
         ms({1}, {})(c);
         c.count = L"3";
         c.on_stacker = [&c, long_ms](int read) {
           if (read == 2) c.write[0] = long_ms;
         };
       },
       {}, {"C31", "M33", "C33", "C31"}, {3, 2, 2}, AgingEnd::TextTooLong, {},
       {L"Track 1 text is longer than 299 bytes"}},
      {"an over-long MS text is refused at START whatever the kind",
       [&](FakeControls &c) { c.k = AgingKind::Rf; c.write[2] = long_ms; }, {}, {}, {}, AgingEnd::TextTooLong, {},
       {L"Track 3 text is longer than 299 bytes"}},
      {"an over-long IC text is refused at START", [&](FakeControls &c) { c.ic = long_ic; }, {}, {}, {},
       AgingEnd::TextTooLong, {}, {L"IC text is longer than 250 bytes"}},
  };
  for (const RunCase &rc : cases) {
    SCOPED_TRACE(rc.name);
    start();
    controls_ = FakeControls{};
    rc.setup(controls_);
    for (const std::string &rule : rc.faults) ASSERT_TRUE(sim_->add_fault(rule));
    const AgingSummary summary = run();
    EXPECT_EQ(controls_.sent(), rc.sent);
    EXPECT_EQ(sim_->frames_received(), rc.sent.size());
    EXPECT_EQ(controls_.remains, rc.remains);
    EXPECT_EQ(summary.end, rc.end);
    if (!rc.errors[0].empty()) {
      EXPECT_EQ(controls_.errors, rc.errors);
    }
    EXPECT_EQ(controls_.messages, rc.messages);
    DisablePort();
  }
}

TEST_F(AgingRun, MediaResultsAreShown) {
  start();
  // Track 2 written and read back; rotation moves the box by one character per good write.
  controls_.wr = {false, true, false};
  controls_.rd = {false, true, false};
  controls_.count = L"2";
  run();
  EXPECT_EQ(controls_.read[1], L"234567890123456789012345678901234561");
  EXPECT_EQ(controls_.write[1], L"345678901234567890123456789012345612");

  // A refused write leaves the box as it was.
  ASSERT_TRUE(sim_->add_fault("M33:status=0x2202"));
  controls_.count = L"1";
  run();
  EXPECT_EQ(controls_.write[1], L"345678901234567890123456789012345612");
  EXPECT_EQ(controls_.read[1], L"Track 2 ERROR");
  sim_->clear_faults();

  // All three tracks in one read.
  controls_ = FakeControls{};
  controls_.wr = {true, true, true};
  controls_.all = true;
  controls_.rotate = false;
  run();
  EXPECT_EQ(controls_.read, controls_.write);

  // A failed track read says so in its box.
  ASSERT_TRUE(sim_->add_fault("M31:status=0x2203"));
  controls_.all = false;
  controls_.wr = {};
  controls_.rd = {false, false, true};
  run();
  EXPECT_EQ(controls_.read[2], L"Track 3 ERROR");
  sim_->clear_faults();

  // IC: the text goes out rotated next time, whatever the result.
  controls_.k = AgingKind::Ic;
  run();
  EXPECT_EQ(controls_.ic, L"BCDEFGHIJKLMNOA");

  // RF: the value block written is read back and shown.
  controls_.k = AgingKind::Rf;
  run();
  EXPECT_EQ(controls_.rf_out, L"10000");
  EXPECT_EQ(controls_.cycles.back().card, AgingCycle::Card::Ejected);

  // A block whose third word differs shows ERROR and the card is captured, uncounted.
  step_.set_collector([this](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if (chk_res(data, length, prc, result) == 0) return 0;
    if (std::string_view(step_.state().code, 3) == "R31" && *result == 0) data[10] ^= 0x01;
    return 1;
  });
  run();
  EXPECT_EQ(controls_.rf_out, L"ERROR");
  EXPECT_EQ(controls_.cycles.back().card, AgingCycle::Card::Captured);
  EXPECT_EQ(controls_.errors[4], L"RF: 0 , 0%");
}

TEST_F(AgingRun, RecordOfARunThatEndedInACycle) {
  start();
  // Second cycle: a counted write error, then an error that ends the run.
  controls_.k = AgingKind::Rf;
  controls_.count = L"3";
  ASSERT_TRUE(sim_->add_fault("R32:status=0x2303#2"));
  ASSERT_TRUE(sim_->add_fault("R31:status=0x2208#2"));
  const AgingSummary summary = run();
  EXPECT_EQ(summary.end, AgingEnd::OtherError);
  EXPECT_EQ(summary.done, 1);
  EXPECT_EQ(controls_.errors[4], L"RF: 1 , 50.00%");

  const auto folder = std::filesystem::temp_directory_path() / ("tolvex_aging_record_" + std::to_string(::getpid()));
  const auto now = AgingRecord::Clock::now();
  AgingRecord record(folder, now);
  record.begin();
  record.finish(summary, now);
  std::stringstream text;
  text << std::ifstream(record.summary_path()).rdbuf();
  EXPECT_NE(text.str().find("Cycles: 1 of 3\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("RF: 1 counted, 50.00%, 1 other\n"), std::string::npos) << text.str();

  // A second run started in the same second keeps the first one's files.
  AgingRecord again(folder, now);
  again.begin();
  again.finish(summary, now);
  EXPECT_NE(again.csv_path(), record.csv_path());
  EXPECT_NE(again.summary_path(), record.summary_path());
  EXPECT_TRUE(std::filesystem::exists(record.summary_path()));
  std::filesystem::remove_all(folder);
}

TEST_F(AgingRun, CardLeftAtTheExitHoldsALaterCycle) {
  start(-1);  // nobody takes the card until told
  controls_.count = L"2";
  // The fifth look at "Stacker:" is the fourth draw of the second cycle: take the card then.
  controls_.on_stacker = [this](int read) {
    if (read == 5) sim_->take_card();
  };
  const AgingSummary summary = run();
  EXPECT_EQ(controls_.sent(), (Codes{"C31", "C33", "C31", "C31", "C31", "C31", "C33"}));
  EXPECT_EQ(sim_->frames_received(), 7u);
  EXPECT_EQ(summary.end, AgingEnd::Completed);
  EXPECT_EQ(controls_.remains, (std::vector<std::int32_t>{2, 1, 0}));

  // The three refused draws are one held step, said once when it begins and once when
  // it ends, the draws a short wait apart; the first refused draw and the one that
  // ends the hold are reported.
  const std::wstring draw = std::wstring(name_line("C31"));
  EXPECT_EQ(std::count(host_.reports.begin(), host_.reports.end(), draw), 3);
  ASSERT_EQ(controls_.cycles.size(), 2u);
  const std::vector<AgingStep> &steps = controls_.cycles[1].steps;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(std::string(steps[0].code, 3) + ":" + result_text(steps[0].result), "C31:0x2006");
  EXPECT_EQ(steps[0].repeats, 3u);
  EXPECT_EQ(steps[1].repeats, 0u);
  EXPECT_EQ(controls_.holds, 1);
  ASSERT_EQ(controls_.hold_ends.size(), 1u);
  EXPECT_EQ(controls_.hold_ends[0].repeats, 3u);
  EXPECT_EQ(std::count(controls_.pause_lengths.begin(), controls_.pause_lengths.end(), std::chrono::milliseconds(100)), 3);

  // The record's row says it in one step.
  const auto folder = std::filesystem::temp_directory_path() / ("tolvex_aging_held_" + std::to_string(::getpid()));
  {
    AgingRecord record(folder, AgingRecord::Clock::now());
    record.begin();
    record.add(controls_.cycles[1], AgingRecord::Clock::now());
    std::stringstream csv;
    csv << std::ifstream(record.csv_path()).rdbuf();
    EXPECT_NE(csv.str().find(",2,MS,C31:0x2006*3:held-0."), std::string::npos) << csv.str();
    EXPECT_NE(csv.str().find("s C31:0 C33:0,ejected,\n"), std::string::npos) << csv.str();
  }
  std::filesystem::remove_all(folder);
}

TEST_F(AgingRun, SummarySaysWhatFailedAndWhen) {
  start();
  // RF: cycle 2 a counted read error, cycle 3 a block that is no value block, cycle 4 a
  // counted write error, cycle 5 clean.
  controls_.k = AgingKind::Rf;
  controls_.count = L"5";
  ASSERT_TRUE(sim_->add_fault("R31:status=0x2304#2"));
  ASSERT_TRUE(sim_->add_fault("R32:status=0x2303#4"));
  int reads = 0;
  step_.set_collector([&](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if (chk_res(data, length, prc, result) == 0) return 0;
    if (std::string_view(step_.state().code, 3) == "R31" && ++reads == 3) data[10] ^= 0x01;
    return 1;
  });
  AgingSummary summary = run();
  EXPECT_EQ(summary.end, AgingEnd::Completed);
  const AgingFailure &first = summary.first_failure[4];
  const AgingFailure &last = summary.last_failure[4];
  EXPECT_EQ(first.cycle, 2u);
  EXPECT_EQ(std::string(first.code, 3) + " " + result_text(first.result), "R31 0x2304");
  EXPECT_EQ(last.cycle, 4u);
  EXPECT_EQ(std::string(last.code, 3) + " " + result_text(last.result), "R32 0x2303");
  EXPECT_NE(first.when, std::chrono::system_clock::time_point{});
  EXPECT_EQ(summary.first_failure[0].cycle, 0u);
  EXPECT_EQ(summary.captured, (std::array<std::uint32_t, kCaptureCauses>{2, 1, 0}));
  EXPECT_GE(summary.longest_cycle, 1u);

  std::vector<std::wstring> causes;
  for (const AgingCycle &c : controls_.cycles) causes.emplace_back(cause_text(c.card == AgingCycle::Card::Captured ? c.cause : CaptureCause::None));
  EXPECT_EQ(causes, (std::vector<std::wstring>{L"", L"counted error", L"bad value block", L"counted error", L""}));

  const std::string text = summary_text(summary, AgingRecord::Clock::now(), AgingRecord::Clock::now());
  EXPECT_NE(text.find("RF first failure: cycle 2 at "), std::string::npos) << text;
  EXPECT_NE(text.find(", R31 0x2304 ("), std::string::npos) << text;
  EXPECT_NE(text.find("RF last failure: cycle 4 at "), std::string::npos) << text;
  EXPECT_NE(text.find("Captured: 3 (counted error 2, bad value block 1, All Read split error 0)\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("Track 1 first failure"), std::string::npos) << text;

  // "All Read" whose answer has no separator: captured for that, nothing counted; a
  // counted error in the same cycle names the counted error.
  step_.set_collector([&](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if (chk_res(data, length, prc, result) == 0) return 0;
    if (std::string_view(step_.state().code, 3) == "M35" && *result == 0) std::fill_n(data, TOLVEX_RESPONSE_MAX, 'A');
    return 1;
  });
  controls_ = FakeControls{};
  controls_.all = true;
  controls_.wr = {true, false, false};
  controls_.count = L"2";
  ASSERT_TRUE(sim_->add_fault("M33:status=0x2202#1"));
  summary = run();
  EXPECT_EQ(summary.captured, (std::array<std::uint32_t, kCaptureCauses>{1, 0, 1}));
  ASSERT_EQ(controls_.cycles.size(), 2u);
  EXPECT_EQ(controls_.cycles[0].cause, CaptureCause::CountedError);
  EXPECT_EQ(controls_.cycles[1].cause, CaptureCause::AllReadSplit);
  EXPECT_EQ(summary.first_failure[0].cycle, 1u);
}

TEST_F(AgingRun, AnEarlyEndNamesItsCycleCommandAndCode) {
  struct Case {
    const char *name;
    AgingKind kind;
    std::string fault;
    AgingEnd end;
    std::uint32_t cycle;
    std::string ended;  // in the summary text
  } cases[] = {
      {"IC contact error", AgingKind::Ic, "I21:status=0x2204#2", AgingEnd::OtherError, 2,
       ", I21 0x2204 (Error while the terminal contacts the IC Card.)\n"},
      {"RF read with a code the report has no words for", AgingKind::Rf, "R31:status=0x2208#3", AgingEnd::OtherError, 3,
       ", R31 0x2208\n"},
      {"card inside at the first draw", AgingKind::Ms, "C31:status=0x2006#1", AgingEnd::CardInside, 1,
       ", C31 0x2006 (The card exists already in the terminal.)"},
      {"all cycles done", AgingKind::Ms, "", AgingEnd::Completed, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    start();
    controls_ = FakeControls{};
    controls_.k = c.kind;
    controls_.count = L"3";
    if (!c.fault.empty()) {
      ASSERT_TRUE(sim_->add_fault(c.fault));
    }
    const AgingSummary summary = run();
    EXPECT_EQ(summary.end, c.end);
    EXPECT_EQ(summary.ended_by.cycle, c.cycle);
    const std::string text = summary_text(summary, AgingRecord::Clock::now(), AgingRecord::Clock::now());
    const std::size_t at = text.find("Ended: ");
    ASSERT_NE(at, std::string::npos);
    const std::string ended = text.substr(at);
    if (c.cycle == 0) {
      EXPECT_EQ(ended, "Ended: all cycles done\n");
    } else {
      EXPECT_NE(ended.find(" in cycle " + std::to_string(c.cycle) + " at "), std::string::npos) << ended;
      EXPECT_NE(ended.find(c.ended), std::string::npos) << ended;
    }
    DisablePort();
  }
}

TEST_F(AgingRun, StopEndsTheRunAfterTheCyclesEjectAndPause) {
  start();
  controls_.count = L"5";
  controls_.wr = {true, false, false};
  // STOP while the write is awaited.
  step_.set_collector([this](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if (std::string_view(step_.state().code, 3) == "M33") engine_.request_stop();
    return chk_res(data, length, prc, result);
  });
  // START pressed again inside a wait is ignored.
  bool second_start = true;
  controls_.on_stacker = [&](int) { second_start = engine_.run(); };
  const AgingSummary summary = run();
  EXPECT_FALSE(second_start);
  EXPECT_EQ(controls_.sent(), (Codes{"C31", "M33", "C33"}));
  EXPECT_EQ(controls_.pauses, 1);
  EXPECT_EQ(summary.end, AgingEnd::Stopped);
  EXPECT_EQ(summary.done, 1);
  EXPECT_EQ(controls_.remains, (std::vector<std::int32_t>{5, 4}));
}

TEST_F(AgingRun, AbandonEndsTheDrawRepetition) {
  start(-1);  // the first cycle's card stays at the exit
  controls_.count = L"3";
  // The repetition does not look at STOP, but giving up ends it.
  controls_.on_stacker = [this](int read) {
    if (read == 2) engine_.request_stop();
    if (read == 4) engine_.request_abandon();
  };
  const AgingSummary summary = run();
  EXPECT_EQ(summary.end, AgingEnd::Abandoned);
  EXPECT_EQ(controls_.sent(), (Codes{"C31", "C33", "C31", "C31"}));
  EXPECT_EQ(controls_.remains, (std::vector<std::int32_t>{3, 2, 2}));
}

TEST_F(AgingRun, CommandsNotStartedFollowTheirRules) {
  start();
  // Another command in flight makes the library refuse the run's commands: the draw
  // goes on after "Frame Error", the track write ends the run.
  ASSERT_TRUE(sim_->add_fault("C11:late=300"));
  ASSERT_NE(model(), 0);
  controls_.wr = {true, false, false};
  const AgingSummary summary = run();
  EXPECT_EQ(controls_.messages, (std::vector<std::wstring>{L"Frame Error", L"Packet Frame Error"}));
  EXPECT_EQ(summary.end, AgingEnd::FrameError);
  EXPECT_EQ(controls_.remains, (std::vector<std::int32_t>{1, 1}));
  std::uint8_t data[TOLVEX_RESPONSE_MAX];
  int length = 0, result = 0;
  std::uint8_t prc = 0;
  EXPECT_TRUE(host_.wait([&] { return chk_res(data, &length, &prc, &result) != 0; }));
}

TEST_F(AgingRun, GivingUpCutsAWaitShort) {
  start();
  // A second interrupt on the command line: the command in flight is abandoned and its
  // outcome, the library's stopped result, ends the wait long before the answer.
  ASSERT_TRUE(sim_->add_fault("C11:late=20000"));
  bool give_up = false;
  std::uint8_t data[TOLVEX_RESPONSE_MAX];
  int length = 0, result = 0;
  std::uint8_t prc = 0;
  ASSERT_NE(model(), 0);
  EXPECT_TRUE(host_.completion.wait([&] { return chk_res(data, &length, &prc, &result) != 0; },
                        [&] { return give_up = true; }));
  EXPECT_TRUE(give_up);
  EXPECT_EQ(result, TOLVEX_STOPPED);
}

}  // namespace
}  // namespace tolvex::bench

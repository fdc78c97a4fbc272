// The Aging page model against the simulated terminal: its small handlers and their
// enabling, a run with its record, status line and plot, the plot's thinning and
// redraw interval over long runs, STOP, closing and the held card.
#include "aging_page_model.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "page_harness.hpp"
#include "received_frames.hpp"
#include "text.hpp"

namespace tolvex::bench {
namespace {

using C = AgingPageModel::Control;
using testing::SimulatedTerminal;

// The plot, the progress and the pause as a window would get them; a pause takes no
// time but moves the page's clock on by its length.
struct FakeDisplay final : AgingDisplay {
  void pause(std::chrono::milliseconds duration) override {
    now += duration;
    ++pauses;
    if (on_pause) on_pause(pauses);
  }
  void cut_pause() override { ++cuts; }
  void redraw_plot(const AgingPlot &p) override {
    plot = p;
    ++redraws;
  }
  void set_progress(std::int32_t value, std::int32_t maximum) override {
    progress.push_back(value);
    progress_max = maximum;
  }
  void set_status_tip(std::wstring_view t) override { tip = std::wstring(t); }

  std::chrono::steady_clock::time_point now{};
  int pauses = 0;
  int cuts = 0;
  std::function<void(int)> on_pause;  // called with the pause's number
  AgingPlot plot;
  int redraws = 0;
  std::vector<std::int32_t> progress;
  std::int32_t progress_max = -1;
  std::wstring tip;
};

std::vector<std::string> lines_of(const std::filesystem::path &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string file_text(const std::filesystem::path &path) {
  std::ifstream in(path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool starts_with(const std::wstring &text, std::wstring_view prefix) { return text.rfind(prefix, 0) == 0; }

class AgingPageModelTest : public SimulatedTerminal {
 protected:
  void SetUp() override {
    SimulatedTerminal::SetUp();
    folder_ = std::filesystem::temp_directory_path() /
              ("tolvex-aging-model-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    model_.set_record_folder(folder_);
    model_.set_clock([this] { return display_.now; });
    model_.init();
    // One pause per cycle that takes no real time.
    model_.engine().set_pause(std::chrono::milliseconds(1));
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    SimulatedTerminal::TearDown();
  }

  // The codes of the commands the terminal received, in order.
  std::vector<std::string> codes() { return testing::frame_codes(received()); }

  FakeDisplay display_;
  AgingPageModel model_{view_, display_, commands_};
  std::filesystem::path folder_;
};

TEST_F(AgingPageModelTest, InitFillsTheChoicesAndTexts) {
  EXPECT_EQ(view_.items[C::StackerList], (std::vector<std::wstring>{L"Stacker1", L"Stacker2", L"Auto"}));
  EXPECT_EQ(view_.selection(C::StackerList), 2);
  for (C c : {C::Ms, C::EjectCapture, C::Stacker, C::Rotation}) EXPECT_TRUE(view_.checked(c)) << c;
  for (C c : {C::Ic, C::Rf, C::AllRead, C::Write1, C::Read3}) EXPECT_FALSE(view_.checked(c)) << c;
  const std::pair<C, std::wstring_view> texts[] = {
      {C::Count, L"1"},
      {C::WriteText1, kAgingTrackTexts[0]},
      {C::WriteText2, kAgingTrackTexts[1]},
      {C::WriteText3, kAgingTrackTexts[2]},
      {C::IcInput, L"ABCDEFGHIJKLMNO"},
      {C::RfInput, L"10000"},
      {C::Error1, L"Track1: "},
      {C::Error3, L"Track3: "},
      {C::Error4, L"IC: "},
      {C::Error5, L"RF: "},
  };
  for (const auto &[control, text] : texts) EXPECT_EQ(view_.text(control), text) << control;
  EXPECT_EQ(model_.aging_stopped(), 1);
  EXPECT_TRUE(model_.record_path().empty());
}

TEST_F(AgingPageModelTest, WrAndRdCheckAllUnlessAllAreChecked) {
  struct Case {
    std::array<bool, 3> before, after;
  };
  const Case cases[] = {
      {{false, false, false}, {true, true, true}},
      {{false, true, true}, {true, true, true}},
      {{true, false, false}, {true, true, true}},
      {{true, true, true}, {false, false, false}},
  };
  for (const C first : {C::Write1, C::Read1}) {
    const C other = first == C::Write1 ? C::Read1 : C::Write1;
    for (const Case &c : cases) {
      for (int k = 0; k < 3; ++k) {
        view_.set_checked(first + k, c.before[static_cast<std::size_t>(k)]);
        view_.set_checked(other + k, false);
      }
      first == C::Write1 ? model_.wr() : model_.rd();
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(view_.checked(first + k), c.after[static_cast<std::size_t>(k)]) << first << " box " << k;
        EXPECT_FALSE(view_.checked(other + k));
      }
    }
  }
  EXPECT_TRUE(received().empty());
}

TEST_F(AgingPageModelTest, AllReadAndKindEnableTheirControls) {
  view_.set_checked(C::AllRead, true);
  model_.all_read_changed();
  for (C c : {C::Read1, C::Read2, C::Read3}) EXPECT_FALSE(view_.is_enabled(c)) << c;
  EXPECT_TRUE(view_.is_enabled(C::Write1));
  view_.set_checked(C::AllRead, false);
  model_.all_read_changed();
  for (C c : {C::Read1, C::Read2, C::Read3}) EXPECT_TRUE(view_.is_enabled(c)) << c;

  const C ms_row[] = {C::Wr, C::Rd, C::Write1, C::Write2, C::Write3, C::Read1, C::Read2, C::Read3, C::AllRead};
  for (const C kind : {C::Ic, C::Rf, C::Ms}) {
    for (C k : {C::Ms, C::Ic, C::Rf}) view_.set_checked(k, k == kind);
    model_.kind_changed();
    for (C c : ms_row) EXPECT_EQ(view_.is_enabled(c), kind == C::Ms) << kind << " " << c;
    for (C c : {C::WriteText1, C::Rotation, C::IcInput, C::RfInput, C::Start}) EXPECT_TRUE(view_.is_enabled(c));
  }
}

TEST_F(AgingPageModelTest, RunShowsResultsAndKeepsItsRecord) {
  view_.set_checked(C::Write1, true);
  view_.set_checked(C::Read1, true);
  view_.set_text(C::Count, L"3");
  ASSERT_TRUE(sim_->add_fault("M31:status=0x2203#2"));
  std::vector<std::wstring> remains;
  bool start_enabled_in_run = true;
  display_.on_pause = [&](int) {
    remains.push_back(view_.text(C::Remain));
    start_enabled_in_run = start_enabled_in_run && view_.is_enabled(C::Start);
  };

  model_.start();
  EXPECT_EQ(codes(), (std::vector<std::string>{"C31", "M33", "M31", "C33", "C31", "M33", "M31", "C34", "C31", "M33",
                                               "M31", "C33"}));
  EXPECT_EQ(remains, (std::vector<std::wstring>{L"3", L"2", L"1"}));
  EXPECT_EQ(view_.text(C::Remain), L"0");
  EXPECT_FALSE(start_enabled_in_run);
  EXPECT_TRUE(view_.is_enabled(C::Start));
  EXPECT_EQ(view_.text(C::Error1), L"Track1: 1 , 33.33%");
  EXPECT_EQ(view_.text(C::Error4), L"IC: 0 , 0%");
  EXPECT_EQ(view_.text(C::ReadText1),
            L"CDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ12345678901234AB");
  EXPECT_EQ(model_.aging_stopped(), 1);
  EXPECT_TRUE(view_.messages.empty());

  // One point per cycle for each medium; track 1's rate falls to a third.
  const auto &track1 = display_.plot.points[0];
  ASSERT_EQ(track1.size(), 3u);
  EXPECT_EQ(track1[1].cycle, 2);
  EXPECT_EQ(track1[1].rate, 50.0);
  EXPECT_NEAR(track1[2].rate, 100.0 / 3, 1e-9);
  EXPECT_EQ(display_.plot.points[3].back().rate, 0.0);
  EXPECT_EQ(display_.plot.x_max, 3);
  EXPECT_EQ(display_.plot.y_max, 50.0);  // after the failing second cycle
  EXPECT_EQ(display_.progress.back(), 3);
  EXPECT_EQ(display_.progress_max, 3);

  // The record: where it went, a row per cycle, the summary beside it.
  const std::filesystem::path csv = model_.record_path();
  EXPECT_EQ(csv.parent_path(), folder_);
  EXPECT_EQ(view_.text(C::Record), L"Record: " + csv.wstring());
  const std::vector<std::string> rows = lines_of(csv);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], "time,cycle,kind,steps,card,cause");
  EXPECT_TRUE(rows[2].ends_with(",2,MS,C31:0 M33:0 M31:0x2203 C34:0,captured,counted error")) << rows[2];
  const std::string summary = file_text(std::filesystem::path(csv).replace_extension(".txt"));
  for (const char *line : {"Cycles: 3 of 3\n", "Track 1: 1 counted, 33.33%, 0 other\n", "Ended: all cycles done\n",
                           "Track 1 first failure: cycle 2 at "}) {
    EXPECT_NE(summary.find(line), std::string::npos) << line;
  }
  // The status line says how the run ended; its tip is the whole summary.
  EXPECT_EQ(view_.text(C::Status), L"Ended: all cycles done");
  EXPECT_TRUE(starts_with(display_.tip, L"Aging run\n")) << to_utf8(display_.tip);
  for (const wchar_t *line : {L"\nCycles: 3 of 3\n", L"\nCaptured: 1 (counted error 1, "}) {
    EXPECT_NE(display_.tip.find(line), std::wstring::npos) << to_utf8(line);
  }
  EXPECT_EQ(display_.tip.substr(display_.tip.size() - 22), L"Ended: all cycles done");
}

TEST_F(AgingPageModelTest, UnwritableRecordWarnsAndTheRunGoesOn) {
  model_.set_record_folder("/dev/null/aging-records");
  view_.set_text(C::Count, L"2");
  model_.start();
  EXPECT_EQ(view_.text(C::Remain), L"0");
  EXPECT_TRUE(starts_with(view_.text(C::Record), L"Record not written: cannot create")) << to_utf8(view_.text(C::Record));
  EXPECT_EQ(view_.text(C::Status), L"Ended: all cycles done");
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(AgingPageModelTest, OverLongTextIsRefusedBeforeAnythingIsSent) {
  view_.set_checked(C::Ms, false);
  view_.set_checked(C::Rf, true);
  view_.set_text(C::WriteText2, std::wstring(300, L'7'));
  model_.start();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"Track 2 text is longer than 299 bytes"});
  EXPECT_TRUE(received().empty());
  EXPECT_EQ(model_.aging_stopped(), 1);
  EXPECT_TRUE(view_.is_enabled(C::Start));
  EXPECT_TRUE(model_.record_path().empty());
}

// A long run keeps one point per stretch of N/200 cycles, the latest cycle's point
// moving along until its stretch ends; every redraw shows the cycles done so far.
TEST_F(AgingPageModelTest, PlotKeepsAtMostTwoHundredPointsPerMedium) {
#ifdef _WIN32
  // Under wine each frame goes through wine's sockets: a tenth of the run, still five
  // cycles to a point.
  constexpr int kCycles = 1000;
#else
  constexpr int kCycles = 10000;
#endif
  constexpr int kStretch = kCycles / 200;
  view_.set_text(C::Count, std::to_wstring(kCycles));
  view_.set_checked(C::EjectCapture, true);
  // One counted error early on, so that track 1's rate falls across the whole run.
  view_.set_checked(C::Write1, true);
  ASSERT_TRUE(sim_->add_fault("M33:status=0x2202#10"));
  int seen_redraws = 1;  // the run's start
  int checked_redraws = 0;
  display_.on_pause = [&](int cycle) {
    if (sim_->stacker_cards(1) < 20) sim_->set_stacker(1, 100);
    // Time runs 100 ms per cycle: a redraw every third cycle.
    display_.now += std::chrono::milliseconds(99);
    // After each redraw the last point and the progress are the cycle just done.
    if (display_.redraws == seen_redraws) return;
    seen_redraws = display_.redraws;
    ++checked_redraws;
    ASSERT_FALSE(display_.plot.points[0].empty());
    EXPECT_EQ(display_.plot.points[0].back().cycle, cycle);
    EXPECT_EQ(display_.progress.back(), cycle);
  };
  model_.start();
  ASSERT_EQ(view_.text(C::Remain), L"0");
  EXPECT_GT(checked_redraws, kCycles / 4);

  for (const auto &points : display_.plot.points) {
    ASSERT_EQ(points.size(), 200u);
    for (std::size_t k = 0; k < points.size(); ++k) EXPECT_EQ(points[k].cycle, kStretch * static_cast<double>(k + 1)) << k;
  }
  EXPECT_NEAR(display_.plot.points[0].back().rate, 100.0 / kCycles, 1e-12);
  EXPECT_EQ(display_.plot.points[1].back().rate, 0.0);
  EXPECT_EQ(display_.plot.x_max, kCycles);
  EXPECT_EQ(display_.plot.y_max, 10.0);  // the rate after the failing tenth cycle
  EXPECT_EQ(display_.progress.back(), kCycles);
  EXPECT_EQ(display_.progress_max, kCycles);
  EXPECT_TRUE(view_.messages.empty());
}

// The plot and progress are redrawn when more than 250 ms passed since the last
// redraw, and once at the end; the clock is the test's.
TEST_F(AgingPageModelTest, RedrawsAtMostEveryQuarterSecondAndAtTheEnd) {
  struct Case {
    int pause_ms;  // time per cycle
    std::vector<std::int32_t> progress;  // the run's start, its redraws and its end
  };
  const Case cases[] = {
      {0, {0, 10}},
      {100, {0, 4, 7, 10, 10}},
      {130, {0, 3, 5, 7, 9, 10}},
      {300, {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10}},
  };
  for (const Case &c : cases) {
    display_.progress.clear();
    display_.redraws = 0;
    display_.on_pause = [&](int) { display_.now += std::chrono::milliseconds(c.pause_ms - 1); };
    view_.set_text(C::Count, L"10");
    model_.start();
    EXPECT_EQ(display_.progress, c.progress) << c.pause_ms;
    EXPECT_EQ(display_.redraws, static_cast<int>(c.progress.size())) << c.pause_ms;
    EXPECT_EQ(display_.plot.points[0].size(), 10u);
  }
}

TEST_F(AgingPageModelTest, StopEndsTheRunAtTheNextCycle) {
  view_.set_checked(C::Write1, true);
  view_.set_text(C::Count, L"100");
  display_.on_pause = [&](int pause) {
    EXPECT_EQ(model_.aging_stopped(), 0);
    // START inside the run changes nothing.
    model_.start();
    if (pause == 2) model_.stop();
  };
  model_.start();
  EXPECT_EQ(codes(), (std::vector<std::string>{"C31", "M33", "C33", "C31", "M33", "C33"}));
  EXPECT_EQ(view_.text(C::Remain), L"98");
  EXPECT_EQ(view_.text(C::Status), L"Ended: stopped");
  EXPECT_EQ(model_.aging_stopped(), 1);
  EXPECT_EQ(display_.cuts, 0);
}

TEST_F(AgingPageModelTest, ShutDownEndsTheRunAndCutsThePause) {
  view_.set_text(C::Count, L"1000");
  display_.on_pause = [&](int pause) {
    if (pause == 2) model_.shut_down();
  };
  model_.start();
  EXPECT_EQ(codes(), (std::vector<std::string>{"C31", "C33", "C31", "C33"}));
  EXPECT_EQ(display_.cuts, 1);
  EXPECT_EQ(display_.pauses, 2);
  EXPECT_TRUE(model_.engine().abandon_requested());
  EXPECT_EQ(view_.text(C::Remain), L"998");
  // Nothing starts any more.
  model_.start();
  EXPECT_EQ(codes().size(), 4u);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(AgingPageModelTest, HeldCardShowsInTheStatusLine) {
  sim::Options options;
  options.exit_take_ms = -1;  // nobody takes the card until told
  start_terminal(options);
  view_.set_text(C::Count, L"2");
  std::vector<std::wstring> shown;
  display_.on_pause = [&](int) {
    const std::wstring status = view_.text(C::Status);
    if (shown.empty() || shown.back() != status) shown.push_back(status);
    if (starts_with(status, L"card at the exit since ")) sim_->take_card();
  };
  model_.start();
  EXPECT_EQ(view_.text(C::Remain), L"0");
  ASSERT_GE(shown.size(), 2u);
  EXPECT_TRUE(starts_with(shown[1], L"card at the exit since ")) << to_utf8(shown[1]);
  EXPECT_EQ(shown[1].size(), std::wstring_view(L"card at the exit since 00:00:00").size());
  EXPECT_TRUE(starts_with(shown.back(), L"card at the exit taken after ")) << to_utf8(shown.back());
  EXPECT_EQ(view_.text(C::Status), L"Ended: all cycles done");
  const std::vector<std::string> rows = lines_of(model_.record_path());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_NE(rows[2].find(",2,MS,C31:0x2006*"), std::string::npos) << rows[2];
  EXPECT_TRUE(view_.messages.empty());
}

}  // namespace
}  // namespace tolvex::bench

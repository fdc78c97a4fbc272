// The main dialog's model against the simulated terminal: its lists, the transport and
// status buttons as bytes at the terminal, the tab rule while aging runs, and closing.
#include "bench_dialog_model.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aging_page_model.hpp"
#include "page_harness.hpp"
#include "received_frames.hpp"

namespace tolvex::bench {
namespace {

using C = BenchDialogModel::Control;
using testing::SimulatedTerminal;

struct NoDisplay final : AgingDisplay {
  void pause(std::chrono::milliseconds) override {}
  void cut_pause() override {}
  void redraw_plot(const AgingPlot &) override {}
  void set_progress(std::int32_t, std::int32_t) override {}
  void set_status_tip(std::wstring_view) override {}
};

// The harness's command road, with its closing seen.
struct ClosingCommands final : PageCommands {
  explicit ClosingCommands(testing::WaitingCommands &road) : inner(road) {}
  bool run(std::string_view code, const CommandStep::Starter &start, std::wstring_view failure) override {
    return inner.run(code, start, failure);
  }
  CommandState &state() override { return inner.state(); }
  CommandStep &step() override { return inner.step(); }
  void set_report_text(std::wstring_view text) override { inner.set_report_text(text); }
  bool shutting_down() const override { return inner.shutting_down(); }
  void shut_down() override {
    inner.closing = true;
    aging_abandoned_first = aging != nullptr && aging->engine().abandon_requested();
  }
  testing::WaitingCommands &inner;
  AgingPageModel *aging = nullptr;
  bool aging_abandoned_first = false;
};

class BenchDialogModelTest : public SimulatedTerminal {
 protected:
  void SetUp() override {
    SimulatedTerminal::SetUp();
    aging_.init();
    road_.aging = &aging_;
    model_.init();
  }

  testing::FakeView aging_view_;
  NoDisplay display_;
  ClosingCommands road_{commands_};
  AgingPageModel aging_{aging_view_, display_, road_};
  BenchDialogModel model_{view_, road_, &aging_};
};

TEST_F(BenchDialogModelTest, ListsAndTheirFirstSelections) {
  EXPECT_EQ(view_.items[C::StackerList],
            (std::vector<std::wstring>{L"-Select-", L"Stacker1", L"Stacker2", L"Stacker3", L"Stacker4", L"Auto"}));
  EXPECT_EQ(view_.items[C::DestinationList],
            (std::vector<std::wstring>{L"SEL", L"MS", L"IC", L"RF", L"Feeder", L"Print"}));
  EXPECT_EQ(view_.items[C::ViewList], (std::vector<std::wstring>{L"String", L"HEX"}));
  for (C c : {C::StackerList, C::DestinationList, C::ViewList}) EXPECT_EQ(view_.selection(c), 0) << c;
  EXPECT_FALSE(view_.is_enabled(C::StackerList));
  EXPECT_EQ(model_.view_mode(), 0);
  view_.set_selection(C::ViewList, 1);
  EXPECT_EQ(model_.view_mode(), 1);
  // The destination's value is its index, "SEL" sent as 3.
  const std::uint8_t values[] = {3, 1, 2, 3, 4, 5};
  for (int index = 0; index < 6; ++index) {
    view_.set_selection(C::DestinationList, index);
    EXPECT_EQ(model_.destination_value(), values[index]) << index;
  }
}

TEST_F(BenchDialogModelTest, TransportAndStatusButtonsSendTheirCommands) {
  struct Case {
    void (BenchDialogModel::*button)();
    int stacker;       // the stacker list's selection
    int destination;   // the destination list's selection
    std::string bytes; // the command as it reaches the terminal
  };
  const Case cases[] = {
      {&BenchDialogModel::from_st, 0, 0, std::string("C31\x00\x03", 5)},
      {&BenchDialogModel::from_st, 2, 1, std::string("C31\x02\x01", 5)},
      {&BenchDialogModel::from_st, 5, 4, std::string("C31\x05\x04", 5)},
      {&BenchDialogModel::stand_by, 0, 0, std::string("C32\x03", 4)},
      {&BenchDialogModel::stand_by, 0, 2, std::string("C32\x02", 4)},
      {&BenchDialogModel::eject, 0, 0, "C33"},
      {&BenchDialogModel::drop, 0, 0, "C36"},
      {&BenchDialogModel::capture, 0, 0, "C34"},
      {&BenchDialogModel::st_status, 0, 0, "C13"},
      {&BenchDialogModel::position, 0, 0, "C16"},
      {&BenchDialogModel::model, 0, 0, "C11"},
      {&BenchDialogModel::rom_ver, 0, 0, "C12"},
  };
  for (const Case &c : cases) {
    forget_received();
    commands_.codes.clear();
    commands_.reports.clear();
    view_.set_selection(C::StackerList, c.stacker);
    view_.set_selection(C::DestinationList, c.destination);
    (model_.*c.button)();
    ASSERT_EQ(commands_.codes, std::vector<std::string>{c.bytes.substr(0, 3)});
    const std::vector<testing::Frame> sent{{c.bytes.substr(0, 3), testing::bytes_of(c.bytes.substr(3))}};
    EXPECT_EQ(testing::frames_in(received()), sent)
        << c.bytes.substr(0, 3) << " " << c.stacker << " " << c.destination;
    EXPECT_EQ(commands_.reports.size(), 1u) << c.bytes.substr(0, 3);
  }
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(BenchDialogModelTest, TabsStayOnAgingWhileARunIsActive) {
  EXPECT_TRUE(model_.may_leave_aging_tab());
  aging_.set_aging_stopped(0);
  EXPECT_FALSE(model_.may_leave_aging_tab());
  EXPECT_FALSE(model_.may_leave_aging_tab());
  EXPECT_EQ(view_.messages, (std::vector<std::wstring>(2, L"Please Push the Stop Buton!!")));
  aging_.set_aging_stopped(1);
  EXPECT_TRUE(model_.may_leave_aging_tab());
  EXPECT_EQ(view_.messages.size(), 2u);
  // Without an Aging page there is no rule.
  BenchDialogModel alone(view_, road_);
  EXPECT_TRUE(alone.may_leave_aging_tab());
}

TEST_F(BenchDialogModelTest, ClosingEndsAgingThenTheCommands) {
  model_.close();
  EXPECT_TRUE(road_.aging_abandoned_first);
  EXPECT_TRUE(road_.shutting_down());
  model_.eject();
  EXPECT_TRUE(commands_.codes.empty());
  EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tolvex::bench

// The command step with a scripted library outcome: what it reconciles, reports and says.
#include "command_step.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tolvex::bench {
namespace {

// Records what the step shows; its wait polls until the outcome is there.
struct RecordingHost final : StepHost {
  std::vector<std::wstring> events;  // messages and reports, in order
  int waits = 0;
  bool give_up = false;
  bool wait(const std::function<bool()> &collected) override {
    ++waits;
    if (give_up) return false;
    while (!collected()) {
    }
    return true;
  }
  void message(std::wstring_view text) override { events.push_back(L"message: " + std::wstring(text)); }
  void report(const std::wstring &text) override { events.push_back(L"report: " + text); }
};

// An outcome that is ready on the second look.
struct Outcome {
  int result;
  std::vector<std::uint8_t> data;
  std::uint8_t prc;
};

CommandStep::Collector scripted(const Outcome &o) {
  auto looks = std::make_shared<int>(0);
  return [o, looks](std::uint8_t *data, int *length, std::uint8_t *prc, int *result) {
    if ((*looks)++ == 0) return 0;
    std::memcpy(data, o.data.data(), o.data.size());
    *length = static_cast<int>(o.data.size());
    *prc = o.prc;
    *result = o.result;
    return 1;
  };
}

TEST(CommandStep, ReconcilesChecksAndReports) {
  struct Case {
    const char *name;
    Outcome outcome;
    int result;
    std::vector<std::wstring> events;
  } cases[] = {
      {"negative answer becomes the terminal's code", {TOLVEX_NEGATIVE, {0x20, 0x05}, 7}, 0x2005,
       {L"report:  COMMAND: Get model\n RESULT   : False!\n ERROR : No cards. "}},
      {"negative answer without its two bytes stays", {TOLVEX_NEGATIVE, {0x20}, 7}, TOLVEX_NEGATIVE, {}},
      {"other results are left alone", {5, {0x20, 0x05}, 7}, 5,
       {L"report:  COMMAND: Get model\n RESULT   : False!\n ERROR : 0x0005 "}},
      {"another process number warns before the report", {0, {'A', 0}, 8}, 0,
       {L"message: gb_prc_no Error", L"report:  COMMAND: Get model\n RESULT: A "}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RecordingHost host;
    CommandStep step(host);
    step.state().response.fill(0xEE);
    step.set_collector(scripted(c.outcome));
    EXPECT_EQ(step.run("C11", [] { return 7; }), StepResult::Reported);
    EXPECT_EQ(host.waits, 1);
    EXPECT_EQ(step.state().result, c.result);
    EXPECT_EQ(step.state().length, c.outcome.data.size());
    // The buffer was cleared before the outcome was copied in.
    EXPECT_EQ(step.state().response[c.outcome.data.size()], 0);
    if (!c.events.empty()) {
      EXPECT_EQ(host.events, c.events);
    }
  }
}

TEST(CommandStep, NotStartedAndLostCommands) {
  RecordingHost host;
  CommandStep step(host);
  EXPECT_EQ(step.run("C11", [] { return 0; }, L"Packet Frame Error"), StepResult::NotStarted);
  EXPECT_EQ(host.events, (std::vector<std::wstring>{L"message: Packet Frame Error"}));
  EXPECT_EQ(host.waits, 0);
  EXPECT_EQ(step.run("C12", [] { return 0; }, L""), StepResult::NotStarted);
  EXPECT_EQ(host.events.size(), 1u);

  // Refused from inside a wait: the command being waited for keeps its code and number.
  step.set_collector([&](std::uint8_t *, int *, std::uint8_t *, int *) {
    if (step.wait_depth() == 1 && std::string(step.state().code, 3) == "C11") step.run("C33", [] { return 0; });
    return 0;
  });
  host.give_up = true;
  EXPECT_EQ(step.run("C11", [] { return 9; }), StepResult::NoOutcome);
  EXPECT_EQ(std::string(step.state().code, 3), "C11");
  EXPECT_EQ(step.state().gb_prc_no, 9);
  // A wait the host gave up on leaves the stopped result and no data.
  EXPECT_EQ(step.state().result, TOLVEX_STOPPED);
  EXPECT_EQ(step.state().length, 0u);
  EXPECT_EQ(step.wait_depth(), 0);
}

}  // namespace
}  // namespace tolvex::bench

// tolvex.dll under wine against the simulated terminal, through the COM port wine maps to
// the simulator's pseudo-terminal (TOLVEX_TEST_PORT, e.g. COM7). run_with_sim.sh starts
// the simulator with the faults each case needs and runs one case at a time.
#include <gtest/gtest.h>
#include <tolvex/tolvex.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Outcome {
  bool finished = false;
  std::vector<uint8_t> data;
  int result = -1;
  uint8_t prc_no = 0;
};

Outcome wait_outcome(std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  Outcome o;
  std::vector<uint8_t> buffer(TOLVEX_RESPONSE_MAX);
  while (Clock::now() < until) {
    int length = 0;
    if (chk_res(buffer.data(), &length, &o.prc_no, &o.result) == 1) {
      o.finished = true;
      o.data.assign(buffer.begin(), buffer.begin() + length);
      return o;
    }
    std::this_thread::sleep_for(2ms);
  }
  return o;
}

std::string env_or(const char *name, const char *fallback) {
  const char *v = std::getenv(name);
  return v != nullptr && v[0] != '\0' ? v : fallback;
}

class WinePort : public ::testing::Test {
 protected:
  void SetUp() override {
    // Messages go to the test, not to a message box nobody could close.
    tolvex_set_message_handler([](const char *text, void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); },
                               &messages_);
    port_ = env_or("TOLVEX_TEST_PORT", "COM7");
    ASSERT_EQ(EnablePort(port_.c_str(), 8, 0, 0, 38400, 0), 1) << port_ << ": " << tolvex_port_error();
  }
  void TearDown() override {
    DisablePort();
    tolvex_set_message_handler(nullptr, nullptr);
  }
  // Tells run_with_sim.sh that the command is in flight (a file it waits for).
  static void say_in_flight() {
    const std::string path = env_or("TOLVEX_TEST_READY_FILE", "");
    if (!path.empty()) std::ofstream(path) << "in flight\n";
  }

  std::string port_;
  std::vector<std::string> messages_;
};

// Plain exchange (the simulator with no faults but C12 answering 0x2203): a short
// command's reply, a negative answer, and 108 once the port is closed.
TEST_F(WinePort, ShortCommandNegativeAnswerAndClosedPort) {
  const int prc = model();
  ASSERT_GT(prc, 0);
  Outcome o = wait_outcome(5000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.prc_no, prc);
  EXPECT_FALSE(o.data.empty());

  ASSERT_GT(fw_version(), 0);
  o = wait_outcome(5000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_NEGATIVE);
  EXPECT_EQ(o.data, (std::vector<uint8_t>{0x22, 0x03}));

  // The link still works after a refusal.
  ASSERT_GT(model(), 0);
  o = wait_outcome(5000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_OK);

  EXPECT_EQ(DisablePort(), 1);
  ASSERT_GT(model(), 0);
  o = wait_outcome(5000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_TX_ERROR);
  EXPECT_TRUE(messages_.empty());
}

// The simulator holds C11's reply back 5 s: exe_stop ends the command at once.
TEST_F(WinePort, LateReplyGivenUpWithExeStop) {
  ASSERT_GT(model(), 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(chk_res(nullptr, nullptr, nullptr, nullptr), 0);  // still in flight
  const auto stopped_at = Clock::now();
  EXPECT_EQ(exe_stop(), 1);
  const Outcome o = wait_outcome(3000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_STOPPED);
  EXPECT_LT(Clock::now() - stopped_at, 1000ms);
}

// The simulator holds C33's reply back and is ended while the command waits for it:
// the hang-up ends the command with 108 at once, and the next command too.
TEST_F(WinePort, HangUpMidCommandEndsItWith108) {
  ASSERT_GT(card_eject(), 0);
  std::this_thread::sleep_for(200ms);  // the frame is acknowledged and the reply awaited
  say_in_flight();
  const auto said_at = Clock::now();
  const Outcome o = wait_outcome(8000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_TX_ERROR);
  EXPECT_LT(Clock::now() - said_at, 5000ms);  // well before the 15 s the reply could take

  ASSERT_GT(model(), 0);
  const Outcome next = wait_outcome(3000ms);
  ASSERT_TRUE(next.finished);
  EXPECT_EQ(next.result, TOLVEX_TX_ERROR);
}

// Every function of the export table has its ordinal, and the ordinal and the name
// lead to the same function.
TEST(WineExports, OrdinalsAndNamesResolveToTheSameFunction) {
  HMODULE dll = ::GetModuleHandleA("tolvex.dll");
  ASSERT_NE(dll, nullptr);
  int rows = 0;
  int highest = 0;
#define TOLVEX_EXPORT(ordinal, name, args, code, purpose)                                              \
  {                                                                                                    \
    ++rows;                                                                                            \
    highest = ordinal > highest ? ordinal : highest;                                                   \
    const FARPROC by_ordinal = ::GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));                       \
    EXPECT_NE(by_ordinal, nullptr) << #name;                                                           \
    EXPECT_EQ(by_ordinal, ::GetProcAddress(dll, #name)) << #name << " @" << ordinal;                   \
    EXPECT_EQ(reinterpret_cast<void *>(by_ordinal), reinterpret_cast<void *>(&name)) << #name;         \
  }
#define TOLVEX_EXTRA(name, purpose) EXPECT_NE(::GetProcAddress(dll, #name), nullptr) << #name;
#include "export_table.inc"
#undef TOLVEX_EXPORT
#undef TOLVEX_EXTRA
  // Every row was visited, numbered 1 to rows without a gap.
  EXPECT_GT(rows, 0);
  EXPECT_EQ(highest, rows);
}

}  // namespace

// The command exchange end to end: the library on the slave side of a pseudo-terminal,
// a scripted terminal on the master side.
#include <gtest/gtest.h>
#include <tolvex/protocol.hpp>
#include <tolvex/tolvex.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <regex>
#include <string>
#include <vector>
#include <thread>

#include "pty_peer.hpp"

namespace tolvex::test {
namespace {

Bytes with_bad_bcc(Bytes frame) {
  frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  return frame;
}

class Exchange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  }
  void TearDown() override {
    // Never leave a command running into the next test.
    exe_stop();
    EXPECT_TRUE(wait_outcome().finished);
    tolvex_set_completion_handler(nullptr, nullptr);
    DisablePort();
  }
  // Reads the frame, ACKs it and expects ENQ.
  std::optional<Frame> accept() {
    auto frame = peer.read_frame();
    if (!frame) return frame;
    peer.write_byte(ACK);
    auto enq = peer.read_byte();
    EXPECT_EQ(enq, std::optional<std::uint8_t>(ENQ));
    return frame;
  }

  PtyPeer peer;
};

TEST_F(Exchange, ModelRoundTripByteForByte) {
  const int prc = exe_cmd("C11", nullptr, 0);
  ASSERT_GE(prc, 1);
  auto frame = peer.read_frame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->raw, (Bytes{0x01, 0x00, 0x00, 0x03, 0x02, 0x43, 0x31, 0x31, 0x03, 0x41}));
  peer.write_byte(ACK);
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ENQ));
  const Bytes text{'K', '7', '2', '0', 0};
  peer.write(reply_frame("C11", 0, text));
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.prc_no, prc);
  EXPECT_EQ(o.data, text);

  // The outcome stays until the next command begins.
  for (int i = 0; i < 3; ++i) {
    Outcome again = wait_outcome();
    EXPECT_EQ(again.result, TOLVEX_OK);
    EXPECT_EQ(again.prc_no, prc);
    EXPECT_EQ(again.data, text);
  }
}

TEST_F(Exchange, StatusWordAndShortestBody) {
  ASSERT_GE(exe_cmd("C33", nullptr, 0), 1);
  peer.serve(0x2001, Bytes{0xAB, 0xCD});
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_NEGATIVE);
  EXPECT_EQ(o.data, (Bytes{0x20, 0x01}));

  ASSERT_GE(exe_cmd("C16", nullptr, 0), 1);
  peer.serve(0, Bytes{});  // body of exactly six bytes
  o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.length, 0);
}

TEST_F(Exchange, AcksBeforeTheReplyAreStrippedAndReplyInPieces) {
  ASSERT_GE(exe_cmd("C12", nullptr, 0), 1);
  ASSERT_TRUE(peer.read_frame());
  peer.write(Bytes{ACK, ACK});
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ENQ));
  const Bytes reply = reply_frame("C12", 0, Bytes{'V', '1', 0});
  for (std::uint8_t b : reply) {
    peer.write_byte(b);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{'V', '1', 0}));
}

TEST_F(Exchange, NakOnEverySendEndsAfterThreeFrames) {
  const Bytes data{0x03, 0x03};
  ASSERT_GE(exe_cmd("C31", data.data(), 2), 1);
  for (int send = 0; send < 3; ++send) {
    auto frame = peer.read_frame();
    ASSERT_TRUE(frame) << "send " << send;
    EXPECT_EQ(frame->raw, command_frame("C31", data));
    peer.write_byte(NAK);
  }
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_NAK);
  EXPECT_EQ(o.length, 0);
  EXPECT_TRUE(peer.drain(200ms).empty()) << "a fourth frame was sent";
}

// A silent terminal: nothing wakes the I/O thread but the deadlines themselves.
TEST_F(Exchange, NoAckOnEverySendEndsAfterThreeFrames) {
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  for (int send = 0; send < tolvex::kSendsMax; ++send) ASSERT_TRUE(peer.read_frame(2000ms)) << "send " << send;
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_NO_ACK);
  EXPECT_TRUE(peer.drain(100ms).empty());
}

TEST_F(Exchange, ResendAfterNakCanStillSucceed) {
  ASSERT_GE(exe_cmd("C13", nullptr, 0), 1);
  ASSERT_TRUE(peer.read_frame());
  peer.write_byte(NAK);
  ASSERT_TRUE(peer.read_frame());
  peer.write_byte(NAK);
  peer.serve(0, Bytes{0x02, 0x02});
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{0x02, 0x02}));

  // A NAK while the reply is awaited, after the ACK, also ends that send: the frame goes again.
  ASSERT_GE(exe_cmd("C13", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  peer.write_byte(NAK);
  auto again = peer.serve(0, Bytes{0x03, 0x01});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->raw, command_frame("C13", {}));
  o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{0x03, 0x01}));
}

TEST_F(Exchange, BadBlockChecksAreNakedUpToThreeTimes) {
  ASSERT_GE(exe_cmd("R31", Bytes{1, 2}.data(), 2), 1);
  ASSERT_TRUE(accept());
  const Bytes good = reply_frame("R31", 0, Bytes{0x00, 0x02, 0x11, 0x22});
  for (int i = 0; i < 3; ++i) {
    peer.write(with_bad_bcc(good));
    EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(NAK)) << "bad reply " << i;
  }
  peer.write(good);
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{0x00, 0x02, 0x11, 0x22}));
  EXPECT_TRUE(peer.drain(100ms).empty());

  ASSERT_GE(exe_cmd("R31", Bytes{1, 2}.data(), 2), 1);
  ASSERT_TRUE(accept());
  for (int i = 0; i < 4; ++i) {
    peer.write(with_bad_bcc(good));
    EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(NAK)) << "bad reply " << i;
  }
  o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_BCC_ERROR);
  EXPECT_EQ(o.length, 0);
}

TEST_F(Exchange, MalformedLengthFieldsEndInFrameError) {
  // Length field 3: a complete frame with a correct block check but no room for the status word.
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  Bytes tiny{0x01, 0x00, 0x00, 0x03, 0x02, 'C', '1', '1', 0x03};
  tiny.push_back(xor_of(tiny.data() + 1, tiny.data() + tiny.size()));
  peer.write(tiny);
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_FRAME_ERROR);
  EXPECT_EQ(o.length, 0);

  // Length field 0xFFFF: can never fit; decided without waiting for the rest.
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  peer.write(Bytes{0x01, 0x00, 0xFF, 0xFF, 0x02, 'C', '1', '1'});
  o = wait_outcome(1500ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_FRAME_ERROR);

  // Just too long (L + 7 = 1001), followed by a flood of bytes: no overrun, same result.
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  Bytes flood{0x01, 0x00, 0x03, 0xE2, 0x02};
  flood.resize(990, 0x00);
  peer.write(flood);
  o = wait_outcome(1500ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_FRAME_ERROR);
}

TEST_F(Exchange, LargestReplyFillsTheResponse) {
  Bytes data(TOLVEX_RESPONSE_MAX);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
  ASSERT_GE(exe_cmd("C14", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  // L = 993: the frame is 1000 bytes, one more than the receive ring holds. A pseudo-terminal
  // hands it over in one piece; the receive thread must take it in parts, not drop it.
  const Bytes reply = reply_frame("C14", 0, data);
  ASSERT_EQ(reply.size(), tolvex::kReceiveBufferSize);
  peer.write(reply);
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, data);
}

TEST_F(Exchange, WaitingForAReplyCostsNoCpu) {
  ASSERT_GE(exe_cmd("C31", nullptr, 0), 1);
  ASSERT_TRUE(accept());
  const double cpu_before = process_cpu_seconds();
  std::this_thread::sleep_for(500ms);
  // The I/O thread sleeps until bytes or a deadline come; polling would cost a whole core.
  EXPECT_LT(process_cpu_seconds() - cpu_before, 0.05);
  peer.write(reply_frame("C31", 0, Bytes{0x42}));
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, Bytes{0x42});
}

TEST_F(Exchange, StopDuringACommandButNotBeforeIt) {
  exe_stop();  // before the command: cleared when it begins
  const int prc = exe_cmd("C31", nullptr, 0);
  ASSERT_GE(prc, 1);
  ASSERT_TRUE(accept());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(chk_res(nullptr, nullptr, nullptr, nullptr), 0);  // still in flight
  EXPECT_EQ(exe_stop(), 1);
  Outcome o = wait_outcome(1000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_STOPPED);
  EXPECT_EQ(o.prc_no, prc);

  exe_stop();
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'M'});
  o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
}

TEST_F(Exchange, LeftoverBytesAreDiscardedBeforeTheNextFrame) {
  // A late reply and line noise arrive while nothing is in flight.
  peer.write(reply_frame("C11", 0, Bytes{'o', 'l', 'd'}));
  peer.write(Bytes{NAK, 0x77, ACK});
  std::this_thread::sleep_for(100ms);
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'n', 'e', 'w'});
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{'n', 'e', 'w'}));
}

TEST_F(Exchange, QueueOverflowDiscardsTheReadAndSaysSo) {
  struct Messages {
    std::mutex lock;
    std::vector<std::string> texts;
  } seen;
  tolvex_set_message_handler(
      [](const char *text, void *ctx) {
        auto *m = static_cast<Messages *>(ctx);
        std::lock_guard<std::mutex> guard(m->lock);
        m->texts.emplace_back(text);
      },
      &seen);
  // 1000 bytes with no command in flight: however the reads split them, they cannot all fit.
  peer.write(Bytes(1000, 0x33));
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  bool full = false;
  while (!full && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
    std::lock_guard<std::mutex> guard(seen.lock);
    for (const auto &t : seen.texts) full = full || t == "m_QueueRead FULL!";
  }
  tolvex_set_message_handler(nullptr, nullptr);
  EXPECT_TRUE(full);
  // What stayed in the queue is noise to the next command, which still succeeds.
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'o', 'k'});
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.data, (Bytes{'o', 'k'}));
}

TEST_F(Exchange, SecondCommandWhileOneIsInFlightIsRefused) {
  const Bytes first_data{0x01, 0x02};
  const int prc = exe_cmd("C31", first_data.data(), 2);
  ASSERT_GE(prc, 1);
  auto frame = accept();
  ASSERT_TRUE(frame);
  const Bytes other(1000, 0xEE);
  EXPECT_EQ(exe_cmd("M33", other.data(), 1000), 0);
  EXPECT_EQ(exe_cmd("C11", nullptr, 0), 0);
  peer.write(reply_frame("C31", 0, Bytes{0x09}));
  EXPECT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_OK);
  EXPECT_EQ(o.prc_no, prc);
  EXPECT_EQ(o.data, Bytes{0x09});
  EXPECT_EQ(frame->data, first_data);
  EXPECT_TRUE(peer.drain(100ms).empty()) << "the refused commands sent something";
  // The next command after the refused ones takes the next number.
  const int next = exe_cmd("C11", nullptr, 0);
  EXPECT_EQ(next, prc == 255 ? 1 : prc + 1);
  peer.serve(0, Bytes{});
  EXPECT_EQ(wait_outcome().result, TOLVEX_OK);
}

TEST_F(Exchange, CompletionHandlerRunsOnceAfterPublishing) {
  struct Seen {
    std::atomic<int> calls{0};
    std::atomic<int> prc_no{-1};
    std::atomic<int> chk_res_in_handler{-1};
  } seen;
  tolvex_set_completion_handler(
      [](std::uint8_t prc_no, void *ctx) {
        auto *s = static_cast<Seen *>(ctx);
        s->prc_no = prc_no;
        s->chk_res_in_handler = chk_res(nullptr, nullptr, nullptr, nullptr);
        s->calls++;
      },
      &seen);
  const int prc = exe_cmd("C11", nullptr, 0);
  ASSERT_GE(prc, 1);
  peer.serve(0, Bytes{'x'});
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (seen.calls == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.prc_no, prc);
  EXPECT_EQ(seen.chk_res_in_handler, 1);
}

// Every block written and read reaches the trace handler in order, with its direction
// and a timestamp that never goes back.
TEST_F(Exchange, TraceHandlerSeesBothDirectionsInOrder) {
  struct Seen {
    std::mutex lock;
    Bytes written, read;
    std::vector<int> directions;
    std::uint64_t last_ns = 0;
    bool monotonic = true;
  } seen;
  tolvex_set_trace_handler(
      [](int direction, const std::uint8_t *bytes, std::uint32_t length, std::uint64_t time_ns, void *ctx) {
        auto *s = static_cast<Seen *>(ctx);
        std::lock_guard<std::mutex> guard(s->lock);
        Bytes &to = direction == TOLVEX_TRACE_WRITTEN ? s->written : s->read;
        to.insert(to.end(), bytes, bytes + length);
        if (s->directions.empty() || s->directions.back() != direction) s->directions.push_back(direction);
        s->monotonic = s->monotonic && time_ns >= s->last_ns;
        s->last_ns = time_ns;
      },
      &seen);
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  const Bytes reply = reply_frame("C11", 0, Bytes{'t'});
  auto frame = peer.read_frame();
  ASSERT_TRUE(frame);
  peer.write_byte(ACK);
  ASSERT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ENQ));
  peer.write(reply);
  ASSERT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ACK));
  ASSERT_EQ(wait_outcome().result, TOLVEX_OK);
  tolvex_set_trace_handler(nullptr, nullptr);
  std::lock_guard<std::mutex> guard(seen.lock);
  Bytes expected_written = frame->raw;
  expected_written.push_back(ENQ);
  expected_written.push_back(ACK);
  EXPECT_EQ(seen.written, expected_written);
  Bytes expected_read{ACK};
  expected_read.insert(expected_read.end(), reply.begin(), reply.end());
  EXPECT_EQ(seen.read, expected_read);
  EXPECT_EQ(seen.directions, (std::vector<int>{TOLVEX_TRACE_WRITTEN, TOLVEX_TRACE_READ, TOLVEX_TRACE_WRITTEN,
                                               TOLVEX_TRACE_READ, TOLVEX_TRACE_WRITTEN}));
  EXPECT_TRUE(seen.monotonic);
}

// TOLVEX_TRACE=FILE, set before the library is first used, appends text lines in a fresh process.
void traced_model_command(const std::string &file) {
  ::setenv("TOLVEX_TRACE", file.c_str(), 1);
  PtyPeer peer;
  if (EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0) != 1) std::_Exit(2);
  if (exe_cmd("C11", nullptr, 0) == 0) std::_Exit(3);
  peer.serve(0, Bytes{'m'});
  if (wait_outcome().result != TOLVEX_OK) std::_Exit(4);
  std::exit(0);  // unloading lets the I/O thread hand over the last block first
}

TEST(ExchangeFreshLibrary, TraceFileFromTheEnvironment) {
  // The child runs this function again: it takes the parent's file from the environment.
  std::string path;
  if (const char *given = std::getenv("TOLVEX_TEST_TRACE_FILE")) {
    path = given;
  } else {
    char name[] = "/tmp/tolvex-trace-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path = name;
    ::setenv("TOLVEX_TEST_TRACE_FILE", name, 1);
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(traced_model_command(path), ::testing::ExitedWithCode(0), "");
  ::unsetenv("TOLVEX_TEST_TRACE_FILE");
  std::FILE *f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::vector<std::string> lines;
  char line[4096];
  while (std::fgets(line, sizeof line, f) != nullptr) lines.emplace_back(line);
  std::fclose(f);
  ::unlink(path.c_str());
  ASSERT_GE(lines.size(), 5u);
  // "SECONDS.MICROSECONDS TX|RX HEX..."
  const std::regex shape(R"(^\d+\.\d{6} (TX|RX)( [0-9A-F]{2})+\n$)");
  for (const std::string &l : lines) EXPECT_TRUE(std::regex_match(l, shape)) << l;
  EXPECT_NE(lines[0].find(" TX 01 00 00 03 02 43 31 31 03 41\n"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" RX 06\n"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" TX 05\n"), std::string::npos) << lines[2];
  EXPECT_NE(lines.back().find(" TX 06\n"), std::string::npos) << lines.back();
}

TEST_F(Exchange, RejectedEntriesLeaveTheSlotAlone) {
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'a'});
  Outcome before = wait_outcome();
  const Bytes big(1001, 0);
  EXPECT_EQ(exe_cmd("M33", big.data(), 1001), 0);
  EXPECT_EQ(exe_cmd("M33", nullptr, 5), 0);
  EXPECT_EQ(exe_cmd(nullptr, nullptr, 0), 0);
  Outcome after = wait_outcome();
  EXPECT_EQ(after.prc_no, before.prc_no);
  EXPECT_EQ(after.data, before.data);
  EXPECT_TRUE(peer.drain(100ms).empty());
}

bool untouched_slot() {
  std::uint8_t data[TOLVEX_RESPONSE_MAX];
  int length = -1;
  int result = -1;
  std::uint8_t prc_no = 99;
  const int r = chk_res(data, &length, &prc_no, &result);
  return r == 1 && length == 0 && prc_no == 0 && result == 0;
}

TEST(ExchangeFreshLibrary, NothingStartedYet) {
  // Runs in a freshly started copy of this program, so no command has ever begun.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(untouched_slot() ? 0 : 1),
      ::testing::ExitedWithCode(0), "");
}

// With no room left for a thread stack the first command cannot start its worker: the
// library says so and still ends the command, instead of staying busy for ever.
bool worker_start_failure_is_published() {
  static std::atomic<bool> told{false};
  tolvex_set_message_handler(
      [](const char *text, void *) {
        if (std::string(text) == "CreateThread 2 ERROR") told = true;
      },
      nullptr);
  if (!leave_no_room_for_threads()) return false;
  const int prc = exe_cmd("C11", nullptr, 0);
  std::uint8_t data[TOLVEX_RESPONSE_MAX];
  int length = -1;
  int result = -1;
  std::uint8_t prc_no = 0;
  return prc == 1 && told && chk_res(data, &length, &prc_no, &result) == 1 && prc_no == 1 &&
         result == TOLVEX_TX_ERROR && length == 0;
}

TEST(ExchangeFreshLibrary, WorkerThatCannotStartStillEndsTheCommand) {
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(worker_start_failure_is_published() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(ExchangeClosedPort, TransmissionErrorAndProcessNumbersWrap) {
  DisablePort();
  int prc = exe_cmd("C11", nullptr, 0);
  ASSERT_GE(prc, 1);
  Outcome o = wait_outcome();
  EXPECT_EQ(o.result, TOLVEX_TX_ERROR);
  EXPECT_EQ(o.prc_no, prc);
  // Run up to 255 and over the top.
  int guard = 0;
  while (prc != 255 && guard++ < 300) {
    prc = exe_cmd("C11", nullptr, 0);
    ASSERT_TRUE(wait_outcome().finished);
  }
  ASSERT_EQ(prc, 255);
  EXPECT_EQ(exe_cmd("C11", nullptr, 0), 1);
  o = wait_outcome();
  EXPECT_EQ(o.prc_no, 1);
  EXPECT_EQ(o.result, TOLVEX_TX_ERROR);
  EXPECT_EQ(exe_cmd("C11", nullptr, 0), 2);
  wait_outcome();
}

}  // namespace
}  // namespace tolvex::test

// The handshake rules of the exchange, run on a line held in memory with a clock the
// test moves: every case is a script of what the terminal does and when, and what the
// library must have written and reported at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "exchange_engine.hpp"
#include "exchange_link.hpp"
#include "memory_transport.hpp"
#include "frames.hpp"

namespace tolvex::test {
namespace {

using std::chrono::milliseconds;

Bytes with_bad_bcc(Bytes frame) {
  frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  return frame;
}

// The engine, its link and a memory line, with a clock that only the test moves.
class Line {
 public:
  Line() {
    std::string error;
    transport.open("", LineSettings{}, error);
  }
  void start(const std::string &code, const Bytes &data) {
    code_ = code;
    data_ = data;
    engine.start(code.c_str(), data.data(), data.size(), now);
    service();
  }
  void feed(const Bytes &bytes) {
    transport.incoming.insert(transport.incoming.end(), bytes.begin(), bytes.end());
    service();
  }
  // Moves the clock on, stopping at every moment the link asked to be woken.
  void wait(milliseconds ms) {
    const Clock::time_point target = now + ms;
    while (now < target) {
      Clock::time_point next = link.next_wake();
      if (next <= now) next = now + std::chrono::microseconds(1);
      now = std::min(target, next);
      service();
    }
  }
  void service() {
    overflows += link.service(now).overflows;
    if (engine.phase() == ExchangeEngine::Phase::done && !ended_at) ended_at = now - t0;
  }
  // What was written, as F (the command frame), E (ENQ), A (ACK), N (NAK), ? (anything else).
  std::string written() const {
    const Bytes frame = command_frame(code_, data_);
    std::string s;
    const Bytes &w = transport.written;
    for (std::size_t i = 0; i < w.size();) {
      if (w.size() - i >= frame.size() && std::equal(frame.begin(), frame.end(), w.begin() + static_cast<long>(i))) {
        s += 'F';
        i += frame.size();
        continue;
      }
      s += w[i] == ENQ ? 'E' : w[i] == ACK ? 'A' : w[i] == NAK ? 'N' : '?';
      ++i;
    }
    return s;
  }

  const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);
  Clock::time_point now = t0;
  ExchangeEngine engine;
  MemoryTransport transport;
  ExchangeLink link{engine, transport};
  std::optional<Clock::duration> ended_at;
  int overflows = 0;

 private:
  std::string code_;
  Bytes data_;
};

struct Step {
  enum Kind { start, feed, wait, stop, unplug, refuse, accept, stick, unstick } kind;
  Bytes bytes{};
  int ms = 0;
};
Step feed(Bytes b) { return {Step::feed, std::move(b)}; }
Step wait(int ms) { return {Step::wait, {}, ms}; }
const Step kStart{Step::start};  // the command starts here (first, when not given)
const Step kStop{Step::stop};
const Step kUnplug{Step::unplug};
const Step kRefuse{Step::refuse};  // the line refuses writes from now on
const Step kAccept{Step::accept};  // and takes them again
const Step kStick{Step::stick};    // written bytes stop leaving
const Step kUnstick{Step::unstick};

struct Case {
  const char *name;
  const char *code;
  Bytes data;
  std::vector<Step> steps;
  const char *written;
  Result result;
  Bytes response;
  int ends_at_ms = -1;  // when the outcome was ready, if the case cares
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const Bytes kText{'K', '7', '2', '0', 0};
const Bytes kC11 = reply_frame("C11", 0, kText);
const Bytes kC31 = reply_frame("C31", 0, Bytes{0x42});

Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes largest_data() {
  Bytes d(kReceiveBufferSize - 13);
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 3);
  return d;
}

// A complete frame with a good block check but only L = 3 body bytes.
Bytes tiny_reply() {
  Bytes f{0x01, 0x00, 0x00, 0x03, 0x02, 'C', '1', '1', 0x03};
  f.push_back(xor_of(f.data() + 1, f.data() + f.size()));
  return f;
}

const std::vector<Case> &cases() {
  static const std::vector<Case> table = {
      {"GoodReply", "C11", {}, {feed({ACK}), feed(kC11)}, "FEA", Result::ok, kText, 0},
      {"StatusWordIsNegative", "C33", {}, {feed({ACK}), feed(reply_frame("C33", 0x2001, {0xAB}))}, "FEA",
       Result::negative, {0x20, 0x01}},
      {"ShortestBody", "C16", {}, {feed({ACK}), feed(reply_frame("C16", 0, {}))}, "FEA", Result::ok, {}},
      {"AcksStrippedAndReplyInPieces", "C11", {},
       [] {
         std::vector<Step> s{feed({ACK, ACK})};
         for (std::uint8_t b : kC11) s.push_back(feed({b}));
         return s;
       }(),
       "FEA", Result::ok, kText},
      {"AckAndReplyInOneRead", "C11", {}, {feed(cat({ACK}, kC11))}, "FEA", Result::ok, kText},
      {"ThreeBadBlockChecksThenGood", "R31", {1, 2},
       {feed({ACK}), feed(with_bad_bcc(kC11)), feed(with_bad_bcc(kC11)), feed(with_bad_bcc(kC11)), feed(kC11)},
       "FENNNA", Result::ok, kText},
      {"FourthBadBlockCheck", "R31", {1, 2},
       {feed({ACK}), feed(with_bad_bcc(kC11)), feed(with_bad_bcc(kC11)), feed(with_bad_bcc(kC11)),
        feed(with_bad_bcc(kC11))},
       "FENNNN", Result::bcc_error, {}},
      // The block check is compared with the last byte held: here the resent reply's, which fits.
      {"BlockCheckIsTheLastByteHeld", "C11", {}, {feed({ACK}), feed(cat(with_bad_bcc(kC11), kC11))}, "FEA",
       Result::ok, kText},
      {"NakOnEverySend", "C31", {3, 3}, {feed({NAK}), feed({NAK}), feed({NAK})}, "FFF", Result::nak, {}, 0},
      {"NoAckOnEverySend", "C11", {}, {wait(5000)}, "FFF", Result::no_ack, {}, kSendsMax * kAckWindowMs},
      {"NoAckThenAnswered", "C13", {}, {wait(1000), feed({ACK}), feed(kC11)}, "FFEA", Result::ok, kText, kAckWindowMs},
      {"NakThenAnswered", "C13", {}, {feed({NAK}), feed({NAK}), feed({ACK}), feed(kC11)}, "FFFEA", Result::ok,
       kText},
      {"NakAfterTheAckResends", "C13", {}, {feed({ACK}), wait(300), feed({NAK}), feed({ACK}), feed(kC11)}, "FEFEA",
       Result::ok, kText, 300},
      {"AckWindowRunsFromTheDrain", "C11", {}, {kStick, kStart, wait(800), kUnstick, wait(999), feed({ACK}), feed(kC11)},
       "FEA", Result::ok, kText},
      {"ShortReplyTooLate", "C11", {}, {feed({ACK}), wait(2500), feed(kC11)}, "FE", Result::timeout, {}, kShortReplyMs},
      {"LongReplyInTime", "C31", {}, {feed({ACK}), wait(2500), feed(kC31)}, "FEA", Result::ok, {0x42}, 2500},
      {"LongReplyWindow", "C31", {}, {feed({ACK}), wait(16000)}, "FE", Result::timeout, {}, kLongReplyMs},
      {"CommandLimitOverridesSuccess", "C31", {},
       {feed({ACK}), wait(14000), feed({NAK}), feed({ACK}), wait(1500), feed(kC31)}, "FEFEA", Result::timeout,
       {0x42}, 15500},
      {"StopWhileWaiting", "C31", {}, {feed({ACK}), wait(100), kStop}, "FE", Result::stopped, {}, 100},
      {"StopDuringTheFinalAckWins", "C31", {}, {feed({ACK}), kStick, feed(kC31), kStop, kUnstick}, "FEA",
       Result::stopped, {0x42}},
      {"StopDuringAWriteIsSeenAfterIt", "C31", {}, {kStick, kStart, kStop, wait(50), kUnstick}, "F", Result::stopped, {}, 50},
      {"LengthBelowSix", "C11", {}, {feed({ACK}), feed(tiny_reply())}, "FEA", Result::frame_error, {}},
      {"LengthThatCanNeverFit", "C11", {}, {feed({ACK}), feed({0x01, 0x00, 0xFF, 0xFF})}, "FE", Result::frame_error,
       {}, 0},
      {"LengthOneTooLong", "C11", {},
       {feed({ACK}), feed(cat({0x01, 0x00, 0x03, 0xE2, 0x02}, Bytes(2000, 0x00)))}, "FE", Result::frame_error, {}},
      {"LargestReply", "C14", {}, {feed({ACK}), feed(reply_frame("C14", 0, largest_data()))}, "FEA", Result::ok,
       largest_data()},
      {"StopBeforeTheCommandHasNoEffect", "C11", {}, {kStop, kStart, feed({ACK}), feed(kC11)}, "FEA", Result::ok,
       kText},
      {"FrameRefused", "C11", {}, {kRefuse, kStart}, "", Result::tx_error, {}, 0},
      {"EnqRefusedStillEndsInTransmissionError", "C11", {}, {kRefuse, feed({ACK}), kAccept, feed(kC11)}, "FA",
       Result::tx_error, {}},
      {"AckRefused", "C11", {}, {feed({ACK}), kRefuse, feed(kC11)}, "FE", Result::tx_error, {}},
      {"NakRefusedCarriesOn", "C11", {}, {feed({ACK}), kRefuse, feed(with_bad_bcc(kC11)), kAccept, feed(kC11)},
       "FEA", Result::tx_error, {}},
      {"DrainThatNeverEnds", "C11", {}, {kStick, kStart, wait(3000)}, "F", Result::tx_error, {}, kWriteBaseMs},
      {"HangUpWhileWaiting", "C31", {}, {feed({ACK}), wait(10), kUnplug, wait(1)}, "FE", Result::tx_error, {}, 11},
      {"HangUpDuringADrain", "C31", {}, {kStick, kStart, kUnplug, wait(1)}, "F", Result::tx_error, {}, 0},
  };
  return table;
}

class Handshake : public ::testing::TestWithParam<Case> {};

TEST_P(Handshake, WritesAndOutcome) {
  const Case &c = GetParam();
  Line line;
  // Noise and a late reply from before the command: held, then discarded by the frame.
  line.feed(cat({NAK, 0x77, ACK}, kC11));
  const bool starts_later = std::any_of(c.steps.begin(), c.steps.end(), [](const Step &s) { return s.kind == Step::start; });
  if (!starts_later) line.start(c.code, c.data);
  for (const Step &s : c.steps) {
    switch (s.kind) {
      case Step::start: line.start(c.code, c.data); break;
      case Step::feed: line.feed(s.bytes); break;
      case Step::wait: line.wait(milliseconds(s.ms)); break;
      case Step::stop: line.engine.stop(line.now); line.service(); break;
      case Step::unplug: line.transport.unplug(); break;
      case Step::refuse: line.transport.refuse_writes = true; break;
      case Step::accept: line.transport.refuse_writes = false; break;
      case Step::stick: line.transport.output_stuck = true; break;
      case Step::unstick: line.transport.output_stuck = false; line.service(); break;
    }
  }
  ASSERT_EQ(line.engine.phase(), ExchangeEngine::Phase::done) << "written so far: " << line.written();
  EXPECT_EQ(line.written(), c.written);
  const auto out = line.engine.outcome();
  EXPECT_EQ(static_cast<int>(out.result), static_cast<int>(c.result));
  EXPECT_EQ(Bytes(out.data.begin(), out.data.end()), c.response);
  if (c.ends_at_ms >= 0) {
    ASSERT_TRUE(line.ended_at);
    EXPECT_EQ(std::chrono::duration_cast<milliseconds>(*line.ended_at).count(), c.ends_at_ms);
  }
  EXPECT_EQ(line.link.next_wake(), Clock::time_point::max()) << "a finished command still wants waking";
}

INSTANTIATE_TEST_SUITE_P(Rules, Handshake, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

TEST(ExchangeEngine, BytesWithNothingWaitingAreHeldUpTo999) {
  Line line;
  line.feed(Bytes(600, 0x33));
  line.feed(Bytes(399, 0x33));
  EXPECT_EQ(line.overflows, 0);
  line.feed(Bytes(1, 0x33));  // the 1000th byte does not fit
  EXPECT_EQ(line.overflows, 1);
  line.start("C11", {});  // the frame discards what was held
  line.feed({ACK});
  line.feed(kC11);
  EXPECT_EQ(line.engine.outcome().result, Result::ok);
  EXPECT_EQ(line.overflows, 1);
  line.feed(Bytes(1000, 0x44));  // one read too big for the empty buffer
  EXPECT_EQ(line.overflows, 2);
}

TEST(ExchangeEngine, FullDataAreaIsFramedAndWrittenInParts) {
  Bytes data(kDataMax);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  Line line;
  line.transport.accept_at_most = 0;  // the line is full: wait until it can take bytes
  line.start("M33", data);
  EXPECT_TRUE(line.link.wants_writable());
  EXPECT_TRUE(line.transport.written.empty());
  line.transport.accept_at_most = 97;  // then it takes a little at a time
  line.wait(milliseconds(1));
  EXPECT_FALSE(line.link.wants_writable());
  ASSERT_EQ(line.transport.written, command_frame("M33", data));
  line.feed({ACK});
  line.feed(reply_frame("M33", 0, {}));
  EXPECT_EQ(line.written(), "FEA");
  EXPECT_EQ(line.engine.outcome().result, Result::ok);
}

TEST(ExchangeEngine, WriteBoundGrowsWithTheFrameAtLowSpeeds) {
  // At 1200 baud a 510-byte frame takes 4.25 s on the line: its drain may take 1 s +
  // twice that before the write counts as failed.
  Line line;
  LineSettings slow;
  slow.baud = 1200;
  line.engine.set_char_time(slow.char_time());
  line.transport.output_stuck = true;
  line.start("M33", Bytes(500, 0x11));
  line.wait(milliseconds(9400));
  EXPECT_TRUE(line.engine.busy());
  line.wait(milliseconds(1000));
  ASSERT_FALSE(line.engine.busy());
  EXPECT_EQ(line.engine.outcome().result, Result::tx_error);
}

}  // namespace
}  // namespace tolvex::test

// Frame parser and protocol engine, fed bytes directly with synthetic time.
#include <gtest/gtest.h>

#include <random>

#include "device.hpp"
#include "engine.hpp"
#include "faults.hpp"
#include "frame.hpp"
#include "tolvex_sim/simulator.hpp"

namespace tolvex::sim {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0 = Clock::time_point(std::chrono::hours(1000));

TEST(Frame, ReplyFrameLayoutAndBlockCheck) {
  const Bytes f = reply_frame("C11", 0x2005, {0xAA, 0xBB});
  ASSERT_EQ(f.size(), 2u + 6 + 7);
  EXPECT_EQ(f[0], 0x01);
  EXPECT_EQ(f[1], 0x00);
  EXPECT_EQ((f[2] << 8) | f[3], 8);  // body: code, status, 0x00, 2 data bytes
  EXPECT_EQ(f[4], 0x02);
  EXPECT_EQ(std::string(f.begin() + 5, f.begin() + 8), "C11");
  EXPECT_EQ(f[8], 0x20);
  EXPECT_EQ(f[9], 0x05);
  EXPECT_EQ(f[10], 0x00);
  EXPECT_EQ(f[11], 0xAA);
  EXPECT_EQ(f[13], 0x03);
  EXPECT_EQ(f[14], bcc(f.data() + 1, 13));
  // The host's frame for C11 without data is the well-known ten bytes.
  EXPECT_EQ(command_frame("C11", {}), (Bytes{0x01, 0x00, 0x00, 0x03, 0x02, 0x43, 0x31, 0x31, 0x03, 0x41}));
}

std::vector<LineEvent> parse(FrameParser &p, const Bytes &b, Clock::time_point now = t0) {
  std::vector<LineEvent> out;
  p.feed(b.data(), b.size(), now, out);
  return out;
}

TEST(Frame, ParserFindsFramesAmongGarbageAndRejectsBadOnes) {
  FrameParser p;
  // Byte by byte, with noise and handshake bytes around it.
  Bytes stream{0x33, 0x05, 0x99};
  const Bytes good = command_frame("M33", {0x01, 'A', 'B'});
  stream.insert(stream.end(), good.begin(), good.end());
  stream.push_back(0x06);
  std::vector<LineEvent> ev;
  for (std::uint8_t b : stream) p.feed(&b, 1, t0, ev);
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].kind, LineEvent::Enq);
  EXPECT_EQ(ev[1].kind, LineEvent::Frame);
  EXPECT_EQ(ev[1].code, "M33");
  EXPECT_EQ(ev[1].data, (Bytes{0x01, 'A', 'B'}));
  EXPECT_EQ(ev[2].kind, LineEvent::Ack);

  // Wrong block check, wrong ETX, wrong STX: each one rejected.
  Bytes bad = good;
  bad.back() ^= 1;
  EXPECT_EQ(parse(p, bad).at(0).kind, LineEvent::BadFrame);
  bad = good;
  bad[bad.size() - 2] = 0x04;
  EXPECT_EQ(parse(p, bad).at(0).kind, LineEvent::BadFrame);
  bad = good;
  bad[4] = 0x07;
  EXPECT_EQ(parse(p, bad).at(0).kind, LineEvent::BadFrame);
  EXPECT_FALSE(p.in_frame());

  // A length beyond the largest command is refused at once, and the real frame that
  // follows right behind is still found.
  Bytes huge{0x01, 0x00, 0x10, 0x00};
  huge.insert(huge.end(), good.begin(), good.end());
  ev = parse(p, huge);
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0].kind, LineEvent::BadFrame);
  EXPECT_EQ(ev[1].kind, LineEvent::Frame);

  // The largest command (1000 data bytes) is accepted.
  const Bytes big = command_frame("I22", Bytes(1000, 0x41));
  ev = parse(p, big);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].data.size(), 1000u);
}

// Every refused frame draws one answer, and the bytes of a frame refused whole are never
// read again: a start byte inside them must not swallow the frame that follows.
TEST(Frame, ARefusedFrameIsAnsweredOnceAndTheNextFrameIsFound) {
  const Bytes good = command_frame("C11", {});
  auto damaged_check = [](Bytes f) {
    f.back() ^= 0x5A;
    return f;
  };
  auto damaged_etx = [](Bytes f) {
    f[f.size() - 2] = 0x04;
    return f;
  };
  struct Case {
    const char *what;
    Bytes garbage;
  };
  const Case cases[] = {
      {"block check wrong, start bytes in the data", damaged_check(command_frame("M33", Bytes(40, 0x01)))},
      {"block check wrong, a frame header in the data",
       damaged_check(command_frame("M33", {0x01, 0x00, 0x00, 0x09, 0x02, 'C', '1', '1'}))},
      {"ETX wrong, a header with a long length in the data",
       damaged_etx(command_frame("I22", {0x01, 0x00, 0x03, 0xE8, 0x02}))},
      {"second byte wrong, start bytes behind it", {0x01, 0x01, 0x01, 0x01, 0x01, 0x33}},
      {"length beyond the largest command", {0x01, 0x00, 0x10, 0x00}},
      {"STX wrong", {0x01, 0x00, 0x00, 0x03, 0x07}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    for (bool byte_by_byte : {false, true}) {
      FrameParser p;
      Bytes stream = c.garbage;
      stream.insert(stream.end(), good.begin(), good.end());
      std::vector<LineEvent> ev;
      if (byte_by_byte) {
        for (std::uint8_t b : stream) p.feed(&b, 1, t0, ev);
      } else {
        p.feed(stream.data(), stream.size(), t0, ev);
      }
      ASSERT_EQ(ev.size(), 2u);
      EXPECT_EQ(ev[0].kind, LineEvent::BadFrame);
      EXPECT_EQ(ev[1].kind, LineEvent::Frame);
      EXPECT_EQ(ev[1].code, "C11");
      EXPECT_FALSE(p.in_frame());
    }
  }
}

TEST(Frame, AbandonedPartialFrameIsDroppedAfterAGap) {
  FrameParser p(500ms);
  const Bytes good = command_frame("C12", {});
  Bytes half(good.begin(), good.begin() + 6);
  EXPECT_TRUE(parse(p, half, t0).empty());
  EXPECT_TRUE(p.in_frame());
  const auto ev = parse(p, good, t0 + 2s);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].kind, LineEvent::Frame);
  EXPECT_EQ(ev[0].code, "C12");
}

// A host on the other end of the engine, with synthetic time.
struct Host {
  Device device;
  FaultPlan faults{7};
  Engine engine{device, faults};
  Clock::time_point now = t0;
  std::vector<OutChunk> out;

  Host() : device(TerminalOptions{}) {}

  void send(const Bytes &b) { engine.receive(b.data(), b.size(), now, out); }
  void send_byte(std::uint8_t b) { send(Bytes{b}); }
  Bytes take() {
    Bytes all;
    for (const OutChunk &c : out) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    out.clear();
    return all;
  }
  bool add(const std::string &rule) {
    FaultRule r;
    std::string err;
    if (!parse_fault_rule(rule, r, &err)) return false;
    faults.add(r);
    return true;
  }
  // Runs a full exchange and returns the reply frame (empty when none came).
  Bytes exchange(const std::string &code, const Bytes &data) {
    send(command_frame(code, data));
    const Bytes ack = take();
    if (ack.empty() || ack.back() != kAck) return {};
    send_byte(kEnq);
    Bytes reply = take();
    send_byte(kAck);
    return reply;
  }
};

std::uint16_t status_of(const Bytes &reply) { return static_cast<std::uint16_t>(reply.at(8) << 8 | reply.at(9)); }
Bytes data_of(const Bytes &reply) { return Bytes(reply.begin() + 11, reply.end() - 2); }

TEST(Engine, HandshakeResendAndRestart) {
  Host h;
  h.send(command_frame("C11", {}));
  EXPECT_EQ(h.take(), Bytes{kAck});
  EXPECT_EQ(h.engine.state(), Engine::State::WaitEnq);
  h.send_byte(kEnq);
  const Bytes reply = h.take();
  EXPECT_EQ(reply, reply_frame("C11", 0, {'T', 'O', 'L', 'V', 'E', 'X', '-', 'S', 'I', 'M', ' ', 'T', 'V', 'X', '-',
                                         '1', '0', '0', 0}));
  // NAK from the host: the same reply again; ACK ends the exchange.
  h.send_byte(kNak);
  EXPECT_EQ(h.take(), reply);
  h.send_byte(kAck);
  EXPECT_EQ(h.engine.state(), Engine::State::Idle);
  EXPECT_TRUE(h.take().empty());
  h.send_byte(kEnq);  // a stray ENQ outside an exchange is ignored
  EXPECT_TRUE(h.take().empty());

  // A new frame while the engine waits for ENQ replaces the old command.
  h.send(command_frame("C11", {}));
  h.take();
  h.send(command_frame("C13", {}));
  EXPECT_EQ(h.take(), Bytes{kAck});
  h.send_byte(kEnq);
  const Bytes r13 = h.take();
  EXPECT_EQ(std::string(r13.begin() + 5, r13.begin() + 8), "C13");

  // A damaged frame gets NAK and leaves no command behind.
  Bytes bad = command_frame("C11", {});
  bad.back() ^= 0xFF;
  h.send(bad);
  EXPECT_EQ(h.take(), Bytes{kNak});
  EXPECT_EQ(h.engine.bad_frames(), 1u);
  EXPECT_EQ(status_of(h.exchange("Q77", {})), 0x2001);
}

TEST(Engine, MechanicalTimeDelaysTheReplyAndBaudChangeFollowsIt) {
  Host h;
  TerminalOptions cfg;
  cfg.instant = false;
  h.device = Device(cfg);
  h.send(command_frame("C31", {0x00, 0x01}));
  EXPECT_EQ(h.take(), Bytes{kAck});
  h.send_byte(kEnq);
  ASSERT_FALSE(h.out.empty());
  EXPECT_EQ(h.out[0].not_before - h.now, std::chrono::milliseconds(cfg.times.draw));
  h.take();
  h.send_byte(kAck);

  h.send(command_frame("C26", {0x01}));
  h.take();
  h.send_byte(kEnq);
  ASSERT_EQ(h.out.size(), 2u);
  EXPECT_EQ(status_of(h.out[0].bytes), 0);
  EXPECT_EQ(h.out[1].new_baud, 9600);
  EXPECT_TRUE(h.out[1].bytes.empty());
}

namespace {
// A pseudo-terminal, or on Windows (where there is none) the loopback.
Options line_options(int baud) {
  Options o;
  o.baud = baud;
#ifdef _WIN32
  o.listen = "127.0.0.1:0";
#endif
  return o;
}
}  // namespace

TEST(Line, OpensOnlyAtTheTerminalsSpeeds) {
  for (const int baud : {9600, 19200, 38400, 57600}) {
    const Options o = line_options(baud);
    Simulator sim(o);
    std::string error;
    EXPECT_TRUE(sim.start(&error)) << baud << ": " << error;
  }
  for (const int baud : {0, 1200, 115200, -9600}) {
    const Options o = line_options(baud);
    Simulator sim(o);
    std::string error;
    EXPECT_FALSE(sim.start(&error)) << baud;
    EXPECT_NE(error.find("line speed " + std::to_string(baud)), std::string::npos) << error;
  }
}

TEST(Engine, FaultsShapeTheExchange) {
  {
    Host h;  // noack: silence, and the command is not run
    ASSERT_TRUE(h.add("C31:noack"));
    h.send(command_frame("C31", {0x01, 0x01}));
    EXPECT_TRUE(h.take().empty());
    EXPECT_EQ(h.device.stacker(0).count, 100);
  }
  {
    Host h;  // nak on every frame of every code
    ASSERT_TRUE(h.add("all:nak"));
    for (int i = 0; i < 3; ++i) {
      h.send(command_frame("C11", {}));
      EXPECT_EQ(h.take(), Bytes{kNak});
    }
  }
  {
    Host h;  // two bad block checks, then a good reply
    ASSERT_TRUE(h.add("C11:badbcc=2"));
    h.send(command_frame("C11", {}));
    h.take();
    h.send_byte(kEnq);
    const Bytes r1 = h.take();
    h.send_byte(kNak);
    const Bytes r2 = h.take();
    h.send_byte(kNak);
    const Bytes r3 = h.take();
    EXPECT_NE(r1.back(), bcc(r1.data() + 1, r1.size() - 2));
    EXPECT_NE(r2.back(), bcc(r2.data() + 1, r2.size() - 2));
    EXPECT_EQ(r3.back(), bcc(r3.data() + 1, r3.size() - 2));
  }
  {
    Host h;  // split, late and noise before the reply, noise before the ACK
    ASSERT_TRUE(h.add("C12:split=3"));
    ASSERT_TRUE(h.add("C12:late=2500"));
    ASSERT_TRUE(h.add("C12:noise=4"));
    ASSERT_TRUE(h.add("C12:acknoise=2"));
    h.send(command_frame("C12", {}));
    const Bytes ack = h.take();
    ASSERT_EQ(ack.size(), 3u);
    EXPECT_EQ(ack.back(), kAck);
    h.send_byte(kEnq);
    ASSERT_EQ(h.out.size(), 4u);  // noise + three pieces
    EXPECT_EQ(h.out[0].bytes.size(), 4u);
    for (std::uint8_t b : h.out[0].bytes) EXPECT_TRUE(b != kStart && b != kAck && b != kNak && b != kEnq);
    EXPECT_EQ(h.out[1].not_before - h.now, 2500ms);
    EXPECT_GT(h.out[2].gap_ms, 0);
    Bytes joined;
    for (std::size_t i = 1; i < 4; ++i) joined.insert(joined.end(), h.out[i].bytes.begin(), h.out[i].bytes.end());
    EXPECT_EQ(joined, reply_frame("C12", 0, {'T', 'V', 'X', '-', 'F', 'W', ' ', '1', '.', '0', '7', '.', '2', 0}));
  }
  {
    Host h;  // a status word on the third draw only, recorded in the error list
    ASSERT_TRUE(h.add("C31:status=0x2004#3"));
    EXPECT_EQ(status_of(h.exchange("C31", {0, 1})), 0);
    EXPECT_EQ(status_of(h.exchange("C33", {})), 0);
    EXPECT_EQ(status_of(h.exchange("C31", {0, 1})), 0);
    EXPECT_EQ(status_of(h.exchange("C33", {})), 0);
    EXPECT_EQ(status_of(h.exchange("C31", {0, 1})), 0x2004);
    EXPECT_EQ(status_of(h.exchange("C31", {0, 1})), 0);
    EXPECT_EQ(data_of(h.exchange("C15", {})), (Bytes{0x20, 0x04}));
  }
}

TEST(Engine, ProbabilityRulesAreReproducibleFromTheSeed) {
  auto pattern = [](std::uint32_t seed) {
    Device d;
    FaultPlan f(seed);
    FaultRule r;
    EXPECT_TRUE(parse_fault_rule("M31:status=0x2203@30%", r, nullptr));
    f.add(r);
    std::string bits;
    for (int i = 0; i < 200; ++i) bits += f.decide(i % 2 ? "M31" : "C11").has_status ? '1' : '0';
    return bits;
  };
  const std::string a = pattern(5), b = pattern(5), c = pattern(6);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  const auto fired = std::count(a.begin(), a.end(), '1');
  EXPECT_GT(fired, 10);  // about 30 of the 100 M31 frames
  EXPECT_LT(fired, 55);
  for (std::size_t i = 0; i < a.size(); i += 2) EXPECT_EQ(a[i], '0') << "C11 frame " << i << " must not fire";
}

TEST(Faults, RuleSyntax) {
  FaultRule r;
  std::string err;
  ASSERT_TRUE(parse_fault_rule("M31:status=0x2203@5%", r, &err)) << err;
  EXPECT_EQ(r.code, "M31");
  EXPECT_EQ(r.kind, FaultRule::Status);
  EXPECT_EQ(r.value, 0x2203);
  EXPECT_DOUBLE_EQ(r.percent, 5.0);
  ASSERT_TRUE(parse_fault_rule("all:badbcc", r, &err)) << err;
  EXPECT_TRUE(r.code.empty());
  EXPECT_EQ(r.value, 1);
  ASSERT_TRUE(parse_fault_rule("c31:late=300#2", r, &err)) << err;
  EXPECT_EQ(r.code, "C31");
  EXPECT_EQ(r.nth, 2);
  EXPECT_EQ(r.value, 300);
  ASSERT_TRUE(parse_fault_rule("R31:status=8194@0.5%", r, &err)) << err;
  EXPECT_EQ(r.value, 0x2002);

  for (const char *bad : {"", "M31", "M3:nak", "M31:boom", "M31:late", "M31:nak=3", "M31:status=0x12345",
                          "M31:nak@5", "M31:nak@101%", "M31:nak#0", "M31:badbcc=x", "all:split=1"}) {
    err.clear();
    EXPECT_FALSE(parse_fault_rule(bad, r, &err)) << bad;
    EXPECT_FALSE(err.empty()) << bad;
  }
}

TEST(Engine, RandomGarbageNeverBreaksTheEngine) {
  Host h;
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255), len(1, 300);
  std::size_t fed = 0;
  while (fed < 200 * 1024) {
    Bytes chunk(static_cast<std::size_t>(len(rng)));
    for (auto &b : chunk) b = static_cast<std::uint8_t>(byte(rng));
    // Now and then a valid frame hidden in the noise, so commands run too.
    if (byte(rng) < 20) {
      static const char *codes[] = {"C31", "C33", "M33", "M31", "R31", "I22", "C34", "S17", "R37"};
      const Bytes f = command_frame(codes[byte(rng) % 9], Bytes(chunk.begin(), chunk.begin() + chunk.size() / 3));
      chunk.insert(chunk.end(), f.begin(), f.end());
    }
    h.now += 1ms;
    h.send(chunk);
    for (const OutChunk &c : h.out) ASSERT_LE(c.bytes.size(), 1010u);
    h.out.clear();
    fed += chunk.size();
  }
  EXPECT_GT(h.engine.frames(), 0u);
  // Still answering afterwards.
  h.send_byte(kAck);
  h.send(Bytes(8, 0x00));
  h.now += 1s;
  h.take();
  EXPECT_EQ(status_of(h.exchange("C11", {})), 0);
}

}  // namespace
}  // namespace tolvex::sim

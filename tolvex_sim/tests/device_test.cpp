// The device model: what each command does to the terminal's state and the card.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include <tolvex/protocol.hpp>

#include "device.hpp"

namespace tolvex::sim {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0 = Clock::time_point(std::chrono::hours(2000));

struct Term {
  Device d;
  Clock::time_point now = t0;
  explicit Term(TerminalOptions c = {}) : d(c) {}
  DeviceReply run(const std::string &code, const Bytes &data = {}) { return d.handle(code, data, now); }
  std::uint16_t st(const std::string &code, const Bytes &data = {}) { return run(code, data).status; }
};

Bytes cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Every code of the command table reaches a handler: none answers "undefined command".
TEST(Commands, EveryCodeOfTheCommandTableIsHandled) {
  for (const CommandInfo &c : kCommands) {
    Device d;
    EXPECT_NE(d.handle(std::string(c.code), {}, t0).status, st::kUndefined) << c.code;
  }
  Device d;
  EXPECT_EQ(d.handle("C99", {}, t0).status, st::kUndefined);
  EXPECT_EQ(d.handle("c11", {}, t0).status, st::kUndefined);
}

TEST(Transport, DrawEjectAndTheCardAtTheExit) {
  TerminalOptions c;
  c.exit_take_ms = -1;
  Term t(c);
  EXPECT_EQ(t.st("C33"), st::kNoCard);  // nothing to eject
  EXPECT_EQ(t.st("C31", {0, 1}), 0);
  EXPECT_EQ(t.run("C16").data, Bytes{0x02});  // at the magnetic head
  EXPECT_EQ(t.st("C31", {0, 1}), st::kCardInside);
  EXPECT_EQ(t.st("C32", {3}), 0);
  EXPECT_EQ(t.run("C16").data, Bytes{0x08});
  EXPECT_EQ(t.st("C33"), 0);
  EXPECT_EQ(t.run("C16").data, Bytes{0x01});
  EXPECT_TRUE(t.d.card_at_exit(t.now));
  t.now += 1h;  // -1: waits for the customer however long it takes
  EXPECT_EQ(t.st("C31", {0, 2}), st::kCardInside);
  t.d.take_card(t.now);
  EXPECT_EQ(t.run("C16").data, Bytes{0x00});
  EXPECT_EQ(t.st("C31", {3, 3}), 0);  // the communication test's draw
  EXPECT_EQ(t.d.stacker(0).count, 98);

  // Taken after a delay.
  c.exit_take_ms = 2000;
  Term u(c);
  EXPECT_EQ(u.st("C31", {0, 1}), 0);
  EXPECT_EQ(u.st("C37"), 0);  // eject and hold
  u.now += 1500ms;
  EXPECT_EQ(u.st("C31", {0, 1}), st::kCardInside);
  u.now += 600ms;
  EXPECT_EQ(u.st("C31", {0, 1}), 0);

  // Taken at once.
  Term w;
  EXPECT_EQ(w.st("C31", {0, 2}), 0);
  EXPECT_EQ(w.st("C33"), 0);
  EXPECT_FALSE(w.d.card_at_exit(w.now));
  EXPECT_EQ(w.st("C31", {0, 2}), 0);
  EXPECT_EQ(w.st("C31", {0, 9}), st::kBadFrame);
  EXPECT_EQ(w.st("C31", {0}), st::kBadFrame);
}

TEST(Transport, StackersRunEmptyAndReportIt) {
  TerminalOptions c;
  c.stacker_cards[0] = 2;
  c.stacker_cards[1] = 1;
  c.stacker_low = 1;
  Term t(c);
  EXPECT_EQ(t.run("C13").data, (Bytes{1, 2}));
  auto draw_and_drop = [&t](std::uint8_t s) {
    const auto r = t.st("C31", {s, 1});
    if (r == 0) {
      EXPECT_EQ(t.st("C36"), 0);
    }
    return r;
  };
  EXPECT_EQ(draw_and_drop(2), 0);
  EXPECT_EQ(t.run("C13").data, (Bytes{1, 3}));
  EXPECT_EQ(draw_and_drop(2), st::kStacker2Empty);
  EXPECT_EQ(draw_and_drop(0), 0);  // by priority: stacker 1
  EXPECT_EQ(t.run("C13").data, (Bytes{2, 3}));
  EXPECT_EQ(draw_and_drop(7), 0);  // any value above 2 also means "by priority"
  EXPECT_EQ(t.run("C13").data, (Bytes{3, 3}));
  EXPECT_EQ(draw_and_drop(1), st::kStacker1Empty);
  EXPECT_EQ(draw_and_drop(0), st::kBothEmpty);
  EXPECT_EQ(t.run("C14").data, (Bytes{0x21, 0x04}));
  // The refusals of the empty stackers are in the error list, most recent last.
  EXPECT_EQ(t.run("C15").data, (Bytes{0x21, 0x06, 0x21, 0x05, 0x21, 0x04}));

  t.d.set_stacker(0, 5, false);
  EXPECT_EQ(t.run("C13").data, (Bytes{5, 3}));
  EXPECT_EQ(draw_and_drop(1), st::kNoCartridge1);
  t.d.set_stacker(1, 200, true);
  EXPECT_EQ(t.run("C13").data, (Bytes{5, 4}));
  EXPECT_EQ(draw_and_drop(0), 0);  // priority 1 has no cartridge: stacker 2 serves
  EXPECT_EQ(t.d.stacker(1).count, 199);

  // Stacker priority 2 draws from stacker 2 first.
  Term p;
  EXPECT_EQ(p.st("C28", {1, 2}), 0);
  EXPECT_EQ(p.run("C28", {2}).data, Bytes{2});
  EXPECT_EQ(p.st("C31", {0, 1}), 0);
  EXPECT_EQ(p.d.stacker(0).count, 100);
  EXPECT_EQ(p.d.stacker(1).count, 99);
}

TEST(Transport, CaptureBoxAndCollectingBack) {
  TerminalOptions c;
  c.capture_capacity = 1;
  Term t(c);
  EXPECT_EQ(t.st("C34"), st::kNoCard);
  EXPECT_EQ(t.st("C31", {1, 1}), 0);
  EXPECT_EQ(t.st("C34"), 0);
  EXPECT_EQ(t.d.capture_count(), 1);
  EXPECT_EQ(t.st("C31", {1, 1}), 0);
  EXPECT_EQ(t.st("C34"), st::kCaptureFull);
  EXPECT_EQ(t.run("C14").data, (Bytes{0x21, 0x09}));

  // A collected card goes back on top of the stacker and keeps what was written.
  EXPECT_EQ(t.st("M33", cat({1}, text("KEEP ME"))), 0);
  EXPECT_EQ(t.st("C39", {2}), 0);
  EXPECT_EQ(t.d.stacker(1).returned.size(), 1u);
  EXPECT_EQ(t.st("C39", {2}), st::kNoCard);
  EXPECT_EQ(t.st("C31", {2, 1}), 0);
  EXPECT_EQ(t.run("M31", {1}).data, cat(text("KEEP ME"), {0}));
}

TEST(Settings, StickAndReadBack) {
  Term t;
  struct Case {
    const char *code;
    std::uint8_t value;
  };
  for (const Case &k : {Case{"C22", 2}, Case{"C23", 6}, Case{"C24", 5}, Case{"C25", 0}, Case{"C27", 1}, Case{"C28", 2}}) {
    const DeviceReply set = t.run(k.code, {1, k.value});
    EXPECT_EQ(set.status, 0) << k.code;
    EXPECT_TRUE(set.data.empty()) << k.code;
    EXPECT_EQ(t.run(k.code, {2}).data, Bytes{k.value}) << k.code;
  }
  EXPECT_EQ(t.st("C23", {1, 7}), st::kBadFrame);  // capture time index 0-6
  EXPECT_EQ(t.run("C23", {2}).data, Bytes{6});
  EXPECT_EQ(t.st("C40", {1, 1, 2, 3, 4, 5}), 0);
  EXPECT_EQ(t.run("C40", {2}).data, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(t.st("C48", {'3'}), 0);
  EXPECT_EQ(t.st("C48", {'1'}), st::kBadFrame);
  EXPECT_EQ(t.st("C60", {1}), 0);

  const DeviceReply baud = t.run("C26", {4});
  EXPECT_EQ(baud.new_baud, 57600);
  EXPECT_EQ(t.d.baud(), 57600);
  EXPECT_EQ(t.st("C26", {5}), st::kBadFrame);
  EXPECT_EQ(t.st("X11"), st::kUndefined);
}

TEST(Settings, ClockRunsFromTheValueSet) {
  Term t;
  // 2026-12-31 23:59:58
  EXPECT_EQ(t.st("C21", {1, 0x20, 0x26, 0x12, 0x31, 0x23, 0x59, 0x58}), 0);
  EXPECT_EQ(t.run("C21", {2}).data, (Bytes{0x20, 0x26, 0x12, 0x31, 0x23, 0x59, 0x58}));
  t.now += 3s;  // over the new year
  EXPECT_EQ(t.run("C21", {2}).data, (Bytes{0x20, 0x27, 0x01, 0x01, 0x00, 0x00, 0x01}));
  // 2028 is a leap year.
  EXPECT_EQ(t.st("C21", {1, 0x20, 0x28, 0x02, 0x28, 0x23, 0x59, 0x59}), 0);
  t.now += 1s;
  EXPECT_EQ(t.run("C21", {2}).data, (Bytes{0x20, 0x28, 0x02, 0x29, 0x00, 0x00, 0x00}));
  EXPECT_EQ(t.st("C21", {1, 0x20, 0x26, 0x13, 0x01, 0, 0, 0}), st::kBadFrame);  // month 13
  EXPECT_EQ(t.st("C21", {1, 0x20, 0x26, 0x1A, 0x01, 0, 0, 0}), st::kBadFrame);  // not BCD
  EXPECT_EQ(t.st("C21", {1, 0x20}), st::kBadFrame);
}

TEST(Magnetic, TracksWriteReadAndTheAllTrackForms) {
  Term t;
  EXPECT_EQ(t.st("M31", {1}), st::kNoCard);
  EXPECT_EQ(t.st("C31", {0, 2}), 0);  // at the IC unit: magnetic commands bring it to the head
  EXPECT_EQ(t.st("M31", {1}), st::kMsBlank);
  EXPECT_EQ(t.st("M35"), st::kMsBlank);
  EXPECT_EQ(t.st("M33", cat({1}, text("TRACK ONE"))), 0);
  EXPECT_EQ(t.st("M33", cat({3}, text("333"))), 0);
  EXPECT_EQ(t.run("M31", {1}).data, cat(text("TRACK ONE"), {0}));
  EXPECT_EQ(t.st("M31", {2}), st::kMsBlank);
  EXPECT_EQ(t.run("M35").data, cat(cat({0x05}, text("TRACK ONE")), cat({0, 0}, cat(text("333"), {0}))));
  EXPECT_EQ(t.st("M31", {4}), st::kBadFrame);

  // "All Write": three texts with zero bytes between them.
  EXPECT_EQ(t.st("M36", cat(text("A1"), cat({0}, cat(text("=22"), cat({0}, text("3333")))))), 0);
  EXPECT_EQ(t.run("M31", {2}).data, cat(text("=22"), {0}));
  EXPECT_EQ(t.run("M31", {3}).data, cat(text("3333"), {0}));
  EXPECT_EQ(t.st("M51"), 0);

  // Writing from a stacker needs an empty terminal.
  EXPECT_EQ(t.st("M34", cat({0, 1}, text("X"))), st::kCardInside);
  EXPECT_EQ(t.st("C36"), 0);
  EXPECT_EQ(t.st("M34", cat({0, 2}, text(";4444=55?"))), 0);
  EXPECT_EQ(t.run("M31", {2}).data, cat(text(";4444=55?"), {0}));
  EXPECT_EQ(t.st("C36"), 0);
  EXPECT_EQ(t.st("M37", cat({4}, cat(text("T1"), cat({0}, text("22"))))), 0);
  EXPECT_EQ(t.run("M35").data, cat(cat({0x03}, text("T1")), cat({0}, cat(text("22"), {0, 0}))));
}

TEST(IcCard, ResetApdusAndTheFileSystem) {
  Term t;
  EXPECT_EQ(t.st("I21"), st::kNoCard);
  EXPECT_EQ(t.st("C31", {0, 1}), 0);
  EXPECT_EQ(t.st("I21"), st::kIcContact);  // at the magnetic head, no contact
  EXPECT_EQ(t.st("I22", {0, 4, 0, 0xA4, 0, 0}), st::kIcContact);
  EXPECT_EQ(t.st("C32", {2}), 0);
  EXPECT_EQ(t.st("I22", {0, 7, 0, 0xA4, 1, 0, 2, 2, 0}), st::kIcCommand);  // not powered
  const DeviceReply atr = t.run("I21");
  ASSERT_EQ(atr.status, 0);
  EXPECT_EQ(atr.data.at(0), 0x3B);

  // The aging run's sequence: select 0200, select 0201, update, read back from byte 2.
  EXPECT_EQ(t.run("I22", {0, 7, 0, 0xA4, 1, 0, 2, 2, 0}).data, (Bytes{0x90, 0x00}));
  EXPECT_EQ(t.run("I22", {0, 7, 0, 0xA4, 2, 0, 2, 2, 1}).data, (Bytes{0x90, 0x00}));
  const Bytes msg = text("HELLO CHIP");
  Bytes upd{0, static_cast<std::uint8_t>(msg.size() + 5), 0, 0xD6, 0, 0, static_cast<std::uint8_t>(msg.size())};
  EXPECT_EQ(t.run("I22", cat(upd, msg)).data, (Bytes{0x90, 0x00}));
  const Bytes rd = t.run("I22", {0, 6, 0, 0xB0, 0, 0, 0, 0x0F}).data;
  ASSERT_EQ(rd.size(), 2u + 15);
  EXPECT_EQ(rd[0], 0x90);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(rd.data() + 2)), "HELLO CHIP");

  EXPECT_EQ(t.run("I22", {0, 7, 0, 0xA4, 2, 0, 2, 0x0F, 0x0F}).data, (Bytes{0x6A, 0x82}));
  EXPECT_EQ(t.run("I22", {0, 7, 0, 0xA4, 0, 0, 2, 0x3F, 0}).data, (Bytes{0x90, 0x00}));
  EXPECT_EQ(t.run("I22", {0, 5, 0, 0xB0, 0, 0, 4}).data, (Bytes{0x69, 0x86}));  // no file selected
  EXPECT_EQ(t.run("I22", {0, 7, 0, 0xA4, 4, 0, 9, 1, 2}).data, (Bytes{0x67, 0x00}));  // Lc says 9, 2 follow
  EXPECT_EQ(t.st("I22", {0, 9, 0, 0xA4}), st::kIcCommand);  // length bytes disagree
  EXPECT_EQ(t.st("C43", {1, 2}), 0);

  // Moving the card away cuts the power.
  EXPECT_EQ(t.st("C32", {3}), 0);
  EXPECT_EQ(t.st("C32", {2}), 0);
  EXPECT_EQ(t.st("I22", {0, 7, 0, 0xA4, 1, 0, 2, 2, 0}), st::kIcCommand);

  // SAM: reset, command, deactivate.
  EXPECT_EQ(t.st("I26", {0, 5, 0, 0x84, 0, 0, 8}), st::kIcCommand);
  EXPECT_EQ(t.st("I25"), 0);
  const Bytes ch = t.run("I26", {0, 5, 0, 0x84, 0, 0, 8}).data;
  ASSERT_EQ(ch.size(), 10u);
  EXPECT_EQ(ch[0], 0x90);
  EXPECT_EQ(t.st("I27"), 0);
  EXPECT_EQ(t.st("I26", {0, 5, 0, 0x84, 0, 0, 8}), st::kIcCommand);
}

Bytes value_block(std::int32_t v) {
  Bytes b(16);
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) {
    b[i] = static_cast<std::uint8_t>(u >> (8 * i));
    b[4 + i] = static_cast<std::uint8_t>(~u >> (8 * i));
    b[8 + i] = static_cast<std::uint8_t>(u >> (8 * i));
  }
  b[12] = 0xAA, b[13] = 0x55, b[14] = 0xAA, b[15] = 0x55;
  return b;
}

TEST(Classic, BlocksSectorsAndValues) {
  Term t;
  EXPECT_EQ(t.st("R61"), st::kNoRfCard);
  EXPECT_EQ(t.st("R31", {1, 1}), st::kNoCard);
  EXPECT_EQ(t.st("C31", {0, 1}), 0);
  EXPECT_EQ(t.st("R31", {1, 1}), st::kNoRfCard);  // not in the antenna field
  EXPECT_EQ(t.st("C32", {3}), 0);
  const Bytes uid = t.run("R61").data;
  ASSERT_EQ(uid.size(), 4u);
  EXPECT_EQ(t.run("R62").data, uid);
  // Block 0 carries the UID.
  const Bytes b0 = t.run("R31", {0, 0}).data;
  ASSERT_EQ(b0.size(), 18u);
  EXPECT_EQ(Bytes(b0.begin() + 2, b0.begin() + 6), uid);

  Bytes blk = text("0123456789ABCDEF");
  EXPECT_EQ(t.st("R32", cat({1, 2}, blk)), 0);
  EXPECT_EQ(t.run("R31", {1, 2}).data, cat({1, 2}, blk));
  EXPECT_EQ(t.run("R33", {1, 2}).data, cat({1, 2}, blk));
  EXPECT_EQ(t.st("R34", cat({35, 14}, blk)), 0);  // 16-block sector
  EXPECT_EQ(t.run("R31", {35, 14}).data, cat({35, 14}, blk));
  EXPECT_EQ(t.st("R31", {1, 4}), st::kRfRead);
  EXPECT_EQ(t.st("R32", cat({0, 0}, blk)), st::kRfWrite);  // manufacturer block

  // Sector image: sector, 0x00, blocks at 2, 19 and 36 with zero bytes between.
  const Bytes sec = t.run("R36", {1}).data;
  ASSERT_EQ(sec.size(), 52u);
  EXPECT_EQ(sec[0], 1);
  EXPECT_EQ(Bytes(sec.begin() + 36, sec.begin() + 52), blk);
  EXPECT_EQ(sec[18], 0);
  EXPECT_EQ(sec[35], 0);
  // A sector write takes the image a sector read gives, separators included.
  Bytes img{2};
  for (int b = 0; b < 3; ++b) {
    img.push_back(0);
    img.insert(img.end(), 16, static_cast<std::uint8_t>('a' + b));
  }
  EXPECT_EQ(t.st("R37", img), 0);
  EXPECT_EQ(t.run("R31", {2, 1}).data, cat({2, 1}, Bytes(16, 'b')));
  EXPECT_EQ(t.run("R36", {2}).data, img);
  Bytes big{33};
  for (int b = 0; b < 15; ++b) {
    big.push_back(0);
    big.insert(big.end(), 16, static_cast<std::uint8_t>(b));
  }
  ASSERT_EQ(big.size(), 256u);
  EXPECT_EQ(t.st("R37", big), 0);
  const Bytes bigsec = t.run("R36", {33}).data;
  EXPECT_EQ(bigsec, big);
  EXPECT_EQ(t.st("R37", Bytes(52, 33)), st::kBadFrame);  // wrong form for the sector

  // Values: increase, decrease, little-endian amounts; plain blocks refuse.
  EXPECT_EQ(t.st("R32", cat({1, 1}, value_block(100))), 0);
  EXPECT_EQ(t.st("R41", {1, 1, 0x2C, 0x01, 0, 0}), 0);  // +300
  EXPECT_EQ(t.st("R44", {1, 1, 50, 0, 0, 0}), 0);       // -50
  EXPECT_EQ(t.run("R31", {1, 1}).data, cat({1, 1}, value_block(350)));
  EXPECT_EQ(t.st("R42", {1, 1, 0x5E, 0x01, 0, 0}), 0);  // -350
  EXPECT_EQ(t.st("R42", {1, 1, 1, 0, 0, 0}), 0);
  EXPECT_EQ(t.run("R31", {1, 1}).data, cat({1, 1}, value_block(-1)));
  EXPECT_EQ(t.st("R41", {1, 2, 1, 0, 0, 0}), st::kRfValue);
  EXPECT_EQ(t.st("R41", {1, 3, 1, 0, 0, 0}), st::kRfValue);  // trailer
}

TEST(Classic, KeysOfTheCardAndOfTheTerminal) {
  Term t;
  EXPECT_EQ(t.st("C31", {0, 3}), 0);
  const Bytes ff(6, 0xFF);
  const Bytes newA{1, 2, 3, 4, 5, 6}, newB{7, 8, 9, 10, 11, 12};
  // Change the card's keys of sector 4 (12-byte form): the old terminal key fails.
  EXPECT_EQ(t.st("R54", cat({4}, cat(newA, newB))), 0);
  EXPECT_EQ(t.st("R31", {4, 0}), st::kRfAuth);
  EXPECT_EQ(t.st("R31", {5, 0}), 0);
  // The terminal learns key A for sector 4.
  EXPECT_EQ(t.st("R51", cat({4}, cat(newA, ff))), 0);
  EXPECT_EQ(t.st("R31", {4, 0}), 0);
  // Key B selected: the terminal's key B (FF..) does not match the card's.
  EXPECT_EQ(t.st("R53", {2}), 0);
  EXPECT_EQ(t.st("R31", {4, 0}), st::kRfAuth);
  EXPECT_EQ(t.st("R52", cat(newA, newB)), 0);
  // Key B matches now, but the transport trailer lets key B be read: the card refuses it.
  EXPECT_EQ(t.st("R31", {4, 0}), st::kRfAuth);
  EXPECT_EQ(t.st("R53", {1}), 0);
  const Bytes b_secret{0x7F, 0x07, 0x88, 0x69};  // data blocks 000, trailer 011
  EXPECT_EQ(t.st("R54", cat({4}, cat(newA, cat(b_secret, newB)))), 0);
  EXPECT_EQ(t.st("R53", {2}), 0);
  EXPECT_EQ(t.st("R31", {4, 0}), 0);
  EXPECT_EQ(t.st("R31", {5, 0}), st::kRfAuth);  // every sector now has the new keys
  EXPECT_EQ(t.st("R53", {3}), st::kBadFrame);

  // 16-byte form with access bits; broken access bits are refused.
  EXPECT_EQ(t.st("R53", {1}), 0);
  EXPECT_EQ(t.st("R51", cat({6}, cat(ff, ff))), 0);
  const Bytes good_access{0xFF, 0x07, 0x80, 0x69}, bad_access{0xFF, 0xFF, 0xFF, 0x69};
  EXPECT_EQ(t.st("R54", cat({6}, cat(ff, cat(bad_access, ff)))), st::kRfWrite);
  EXPECT_EQ(t.st("R54", cat({6}, cat(newA, cat(good_access, ff)))), 0);
  const Bytes trailer = t.run("R51", cat({6}, cat(newA, ff))).status == 0 ? t.run("R31", {6, 3}).data : Bytes{};
  ASSERT_EQ(trailer.size(), 18u);
  EXPECT_EQ(Bytes(trailer.begin() + 2, trailer.begin() + 8), Bytes(6, 0));  // key A reads as zeros
  EXPECT_EQ(Bytes(trailer.begin() + 8, trailer.begin() + 12), good_access);

  // Key download: in order it stores, out of order it is a sequence error.
  EXPECT_EQ(t.st("R72", cat({1, 7}, cat(newA, newB))), st::kKeySequence);
  EXPECT_EQ(t.st("R73"), st::kKeySequence);
  EXPECT_EQ(t.st("R51", cat({7}, cat(ff, ff))), 0);
  EXPECT_EQ(t.st("R54", cat({7}, cat(newA, newB))), 0);
  EXPECT_EQ(t.st("R31", {7, 0}), st::kRfAuth);
  EXPECT_EQ(t.st("R71"), 0);
  EXPECT_EQ(t.st("R72", cat({1, 7}, cat(newA, newB))), 0);
  EXPECT_EQ(t.st("R31", {7, 0}), st::kRfAuth);  // staged, not yet stored
  EXPECT_EQ(t.st("R73"), 0);
  EXPECT_EQ(t.st("R31", {7, 0}), 0);
  EXPECT_EQ(t.st("R73"), st::kKeySequence);
  // Key sets 2 and 3 are kept apart from the set used for authentication.
  EXPECT_EQ(t.st("R56", cat({2}, cat(ff, ff))), 0);
  EXPECT_EQ(t.st("R55", {3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0);
  EXPECT_EQ(t.st("R31", {7, 0}), 0);
}

TEST(OtherMedia, UltralightSl2AndPrinting) {
  Term t;
  EXPECT_EQ(t.st("U41"), st::kNoCard);
  EXPECT_EQ(t.st("C31", {0, 3}), 0);
  const Bytes uid = t.run("U41").data;
  ASSERT_EQ(uid.size(), 7u);
  EXPECT_EQ(t.st("U32", {5, 'a', 'b', 'c', 'd'}), 0);
  const Bytes pg = t.run("U31", {4}).data;
  ASSERT_EQ(pg.size(), 17u);
  EXPECT_EQ(pg[0], 4);
  EXPECT_EQ(Bytes(pg.begin() + 5, pg.begin() + 9), text("abcd"));
  EXPECT_EQ(t.st("U32", {0, 1, 2, 3, 4}), st::kRfWrite);
  EXPECT_EQ(t.st("U31", {48}), st::kRfRead);
  EXPECT_EQ(t.st("U33", text("BREAKMEIFYOUCAN!")), 0);
  EXPECT_EQ(t.st("U33", Bytes(16, 0)), st::kRfAuth);
  for (std::uint8_t p = 44; p < 48; ++p) EXPECT_EQ(t.st("U32", {p, 0, 0, 0, 0}), 0);
  EXPECT_EQ(t.st("U33", Bytes(16, 0)), 0);  // the new key

  EXPECT_EQ(t.run("S10").data.size(), 8u);
  EXPECT_EQ(t.st("S12", {3, 'W', 'X', 'Y', 'Z'}), 0);
  EXPECT_EQ(t.run("S11", {3}).data, (Bytes{3, 'W', 'X', 'Y', 'Z'}));
  EXPECT_EQ(t.st("S11", {28}), st::kRfRead);
  Bytes all(112);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(t.st("S17", all), 0);
  EXPECT_EQ(t.run("S16").data, all);
  EXPECT_EQ(t.st("S17", Bytes(111)), st::kBadFrame);
  EXPECT_EQ(t.run("S19", {0x20, 2}).data, (Bytes{0, 8, 9, 10, 11}));
  EXPECT_EQ(t.run("S19", {0x21, 2, 1, 1, 1, 1}).data, Bytes{0});
  EXPECT_EQ(t.run("S11", {2}).data, (Bytes{2, 1, 1, 1, 1}));

  EXPECT_EQ(t.st("P10", text("LINE ONE")), 0);
  EXPECT_EQ(t.st("P10", text("LINE TWO")), 0);
  EXPECT_EQ(t.run("Z01").data, cat({0, 2}, cat(text("LINE ONE/LINE TWO"), {0})));
  EXPECT_EQ(t.st("P20"), 0);
  EXPECT_EQ(t.run("Z01").data, (Bytes{0, 0, 0}));
  EXPECT_EQ(t.run("C16").data, Bytes{0x20});  // the card went to the printer

  // Each draw brings a fresh card: nothing written before is on it.
  EXPECT_EQ(t.st("C36"), 0);
  EXPECT_EQ(t.st("C31", {0, 3}), 0);
  EXPECT_NE(t.run("U41").data, uid);
  EXPECT_EQ(t.run("S11", {3}).data, (Bytes{3, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace tolvex::sim

namespace tolvex::sim {
namespace {

// Every command with random data of any length, with the card in every place: each
// answers with success or a terminal error code, and a reply that fits one frame.
TEST(Robustness, EveryCommandTakesAnyData) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int> byte(0, 255);
  TerminalOptions c;
  c.exit_take_ms = -1;
  Term t(c);
  const Bytes positions[] = {{}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}};
  for (int round = 0; round < 40; ++round) {
    for (const Bytes &pos : positions) {
      t.d.take_card(t.now);
      t.run("C36");
      t.d.set_stacker(0, 100, true);
      t.d.set_stacker(1, 100, true);
      if (!pos.empty()) {
        ASSERT_EQ(t.st("C31", pos), 0);
      }
      if (pos == Bytes{0, 2}) t.run("I21");
      t.run("I25");
      for (const CommandInfo &row : kCommands) {
        const std::string code(row.code);
        // Mostly short data (where the real layouts are), sometimes up to a full frame;
        // small values in the first bytes so sector, block and length fields hit home.
        const int kind = byte(rng);
        const std::size_t n = kind < 200 ? static_cast<std::size_t>(byte(rng) % 24)
                                         : static_cast<std::size_t>(byte(rng) * 4 % 1001);
        Bytes d(n);
        for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i < 3 && kind % 2 ? byte(rng) % 48 : byte(rng));
        if (n >= 2 && kind % 3 == 0) {  // a consistent APDU length
          d[0] = static_cast<std::uint8_t>((n - 2) >> 8);
          d[1] = static_cast<std::uint8_t>(n - 2);
        }
        const DeviceReply r = t.run(code, d);
        EXPECT_TRUE(r.status == 0 || (r.status >= 0x2001 && r.status <= 0x2400)) << code << " " << r.status;
        EXPECT_LE(r.data.size(), kResponseMax) << code;
        t.now += std::chrono::milliseconds(5);
      }
    }
  }
  // The terminal still works normally afterwards.
  t.d.take_card(t.now);
  t.run("C36");
  t.d.set_stacker(0, 50, true);
  EXPECT_EQ(t.st("C31", {1, 1}), 0);
  EXPECT_EQ(t.st("M33", {1, 'O', 'K'}), 0);
  EXPECT_EQ(t.run("M31", {1}).data, (Bytes{'O', 'K', 0}));
}

}  // namespace
}  // namespace tolvex::sim

namespace tolvex::sim {
namespace {

// Lasting states: what C13, C14 and C16 show, what a draw answers, and that clearing the
// conditions (and taking out a stuck card) brings the terminal back.
TEST(Conditions, ShowInTheStatusAndBlockWhatTheyShould) {
  struct Case {
    Condition condition;
    Bytes c13, c14;
    std::uint8_t stacker;  // drawn from
    std::uint16_t draw;
  };
  const Case cases[] = {
      {Condition::Jam, {1, 1}, {0x20, 0x04}, 1, st::kJam},
      {Condition::NoCartridge1, {5, 1}, {0x21, 0x13}, 1, st::kNoCartridge1},
      {Condition::NoCartridge2, {1, 5}, {0x21, 0x14}, 2, st::kNoCartridge2},
      {Condition::Stacker1Empty, {3, 1}, {0x21, 0x05}, 1, st::kStacker1Empty},
      {Condition::Stacker2Empty, {1, 3}, {0x21, 0x06}, 2, st::kStacker2Empty},
      {Condition::Stacker1Low, {2, 1}, {0x21, 0x07}, 1, 0},
      {Condition::Stacker2Low, {1, 2}, {0x21, 0x08}, 2, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.condition));
    Term t;
    t.d.set_conditions(condition_bit(c.condition), true);
    EXPECT_EQ(t.run("C13").data, c.c13);
    EXPECT_EQ(t.run("C14").data, c.c14);
    EXPECT_EQ(t.st("C31", {c.stacker, 1}), c.draw);
    t.d.clear_conditions();
    EXPECT_TRUE(t.run("C14").data.empty());
    EXPECT_EQ(t.run("C13").data, (Bytes{1, 1}));
  }
  // Both cartridges out, both stackers empty: the combined codes.
  Term t;
  t.d.set_conditions(condition_bit(Condition::NoCartridge1) | condition_bit(Condition::NoCartridge2), true);
  EXPECT_EQ(t.run("C14").data, (Bytes{0x21, 0x15}));
  EXPECT_EQ(t.st("C31", {0, 1}), st::kNoCartridgeBoth);
  t.d.clear_conditions();
  t.d.set_conditions(condition_bit(Condition::Stacker1Empty) | condition_bit(Condition::Stacker2Empty), true);
  EXPECT_EQ(t.st("C31", {0, 1}), st::kBothEmpty);
  t.d.set_conditions(condition_bit(Condition::Stacker1Empty), false);
  EXPECT_EQ(t.st("C31", {0, 1}), 0);  // the sensor reads right again; the cards were there
}

TEST(Conditions, AJammedTransportHoldsItsCardUntilTheOperatorTakesItOut) {
  Term t;
  EXPECT_EQ(t.st("C31", {0, 3}), 0);
  t.d.set_conditions(condition_bit(Condition::Jam), true);
  const std::pair<const char *, Bytes> moves[] = {{"C31", {0, 1}}, {"C32", {1}}, {"C33", {}}, {"C34", {}},
                                                  {"C36", {}},     {"C39", {1}}, {"M31", {1}}, {"P10", {'X'}}};
  for (const auto &[code, data] : moves) EXPECT_EQ(t.st(code, data), st::kJam) << code;
  EXPECT_EQ(t.run("C16").data, Bytes{0x08});  // still at the antenna
  EXPECT_EQ(t.st("R61"), 0);                  // the RF unit reads a card that does not move
  t.d.clear_transport();
  EXPECT_EQ(t.run("C16").data, Bytes{0x00});
  EXPECT_TRUE(t.run("C14").data.empty());
}

// A card left at the exit longer than the capture time is pulled in and captured, unless
// the customer takes it first or the capture box has no room.
TEST(Transport, CaptureTimeTakesACardLeftAtTheExit) {
  struct Case {
    const char *what;
    int exit_take_ms;
    int capture_count;
    bool captured;
  };
  const Case cases[] = {
      {"left for good", -1, 0, true},
      {"taken after 5 s", 5000, 0, false},
      {"taken after 15 s", 15000, 0, true},
      {"capture box full", -1, 100, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TerminalOptions cfg;
    cfg.exit_take_ms = c.exit_take_ms;
    cfg.capture_count = c.capture_count;
    Term t(cfg);
    EXPECT_EQ(t.st("C23", {1, 1}), 0);  // 10 s
    EXPECT_EQ(t.st("C31", {0, 1}), 0);
    EXPECT_EQ(t.st("C33"), 0);
    t.now += 9900ms;
    EXPECT_EQ(t.d.card_at_exit(t.now), c.exit_take_ms == -1 || c.exit_take_ms > 9900);
    t.now += 200ms;
    t.d.card_at_exit(t.now);
    EXPECT_EQ(t.d.capture_count(), c.capture_count + (c.captured ? 1 : 0));
    t.now += 10s;
    EXPECT_EQ(t.d.card_at_exit(t.now), c.exit_take_ms == -1 && !c.captured);
  }
  TerminalOptions keep;
  keep.exit_take_ms = -1;
  Term off(keep);  // capture time 0: no capture however long the card waits
  EXPECT_EQ(off.st("C31", {0, 1}), 0);
  EXPECT_EQ(off.st("C33"), 0);
  off.now += 1h;
  EXPECT_TRUE(off.d.card_at_exit(off.now));
}

TEST(Magnetic, TracksHoldWhatTheirEncodingAllows) {
  struct Case {
    std::uint8_t track;
    std::string text;
    bool fits;
  };
  const Case cases[] = {
      {1, std::string(76, 'A'), true},   {1, std::string(77, 'A'), false}, {1, " !%^_?Z09", true},
      {1, "lower", false},               {1, "`", false},                  {1, "\x1F", false},
      {2, std::string(37, '5'), true},   {2, std::string(38, '5'), false}, {2, ";0123456789:<=>?", true},
      {2, "12A", false},                 {2, "1 2", false},                {3, std::string(104, '9'), true},
      {3, std::string(105, '9'), false}, {3, "/", false},                  {3, "@", false},
  };
  Term t;
  ASSERT_EQ(t.st("C31", {0, 1}), 0);
  for (const Case &c : cases) {
    SCOPED_TRACE("track " + std::to_string(c.track) + " '" + c.text + "'");
    EXPECT_EQ(t.st("M33", cat({c.track}, text(c.text))), c.fits ? 0 : st::kMsWrite);
    // The same text in its place in an all-tracks write.
    Bytes all;
    for (std::uint8_t k = 1; k <= 3; ++k) {
      if (k > 1) all.push_back(0);
      if (k == c.track) all = cat(all, text(c.text));
    }
    EXPECT_EQ(t.st("M36", all), c.fits ? 0 : st::kMsWrite);
  }
}

// A card without one of its media answers as such a card would; the others still work.
TEST(Media, ACardWithoutAMediumAnswersLikeOne) {
  struct Case {
    CardMedia media;
    std::uint8_t at;  // "C32" place
    const char *code;
    Bytes data;
    std::uint16_t without;
  };
  const Case cases[] = {
      {{false, true, true}, 1, "M33", {1, 'A'}, st::kMsWrite},
      {{false, true, true}, 1, "M35", {}, st::kMsBlank},
      {{true, false, true}, 2, "I21", {}, st::kIcContact},
      {{true, true, false}, 3, "R31", {1, 0}, st::kNoRfCard},
      {{true, true, false}, 3, "S10", {}, st::kNoRfCard},
  };

  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    TerminalOptions cfg;
    cfg.card_media = c.media;
    Term t(cfg);
    ASSERT_EQ(t.st("C31", {0, c.at}), 0);
    EXPECT_EQ(t.st(c.code, c.data), c.without);
    // The media the card has still answer.
    if (c.media.ms) {
      EXPECT_EQ(t.st("M33", {1, 'A'}), 0);
    }
    if (c.media.ic) {
      EXPECT_EQ(t.st("C32", {2}), 0);
      EXPECT_EQ(t.st("I21"), 0);
    }
    if (c.media.rf) {
      EXPECT_EQ(t.st("C32", {3}), 0);
      EXPECT_EQ(t.st("R61"), 0);
    }
  }
}

// Each timed command, paced, is busy for what its row of the times table says: the
// movement (the card starts elsewhere) and the work. The same rows are what check_times
// holds against the reply windows.
TEST(Times, EachCommandIsBusyForWhatItsRowSays) {
  struct Setup {
    std::string code;
    Bytes data;
  };
  struct Case {
    const char *code;
    int card_inside;  // "C32" place at start, 0 none
    std::vector<Setup> before;
    Bytes data;
  };
  const Bytes apdu{0x00, 0x04, 0x00, 0x84, 0x00, 0x00};           // GET CHALLENGE, wrapped
  const Bytes value0{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x00, 0xFF, 0x00, 0xFF};  // value block 0
  const Bytes block_1_0{1, 0};
  const Bytes write_1_0 = cat(block_1_0, Bytes(16, 0));
  const Bytes add_1{1, 0, 1, 0, 0, 0};
  const std::vector<Setup> value_block{{"R32", cat(block_1_0, value0)}};
  const Case cases[] = {
      {"C31", 0, {}, {0, 1}},          {"C32", 4, {}, {3}},
      {"C33", 4, {}, {}},              {"T33", 4, {}, {}},
      {"C37", 4, {}, {}},              {"C34", 4, {}, {}},
      {"C36", 4, {}, {}},              {"C39", 4, {}, {1}},
      {"C42", 4, {}, {}},              {"M31", 4, {{"M33", {1, 'A'}}, {"C32", {4}}}, {1}},
      {"M33", 4, {}, {1, 'A'}},        {"M34", 0, {}, {0, 1, 'A'}},
      {"M35", 4, {{"M33", {1, 'A'}}, {"C32", {4}}}, {}},
      {"M36", 4, {}, {'A'}},           {"M37", 0, {}, {0, 'A'}},
      {"M51", 4, {}, {}},              {"I21", 2, {}, {}},
      {"I22", 2, {{"I21", {}}}, apdu}, {"I25", 0, {}, {}},
      {"I26", 0, {{"I25", {}}}, apdu}, {"R31", 3, {}, block_1_0},
      {"R32", 3, {}, write_1_0},       {"R33", 3, {}, block_1_0},
      {"R34", 3, {}, write_1_0},       {"R36", 3, {}, {33}},  // a large sector: 15 blocks
      {"R37", 3, {}, cat({33}, Bytes(15 * 17, 0))},
      {"R41", 3, value_block, add_1},  {"R42", 3, value_block, add_1},
      {"R43", 3, value_block, add_1},  {"R44", 3, value_block, add_1},
      {"R54", 3, {}, cat({1}, Bytes(12, 0xFF))},
      {"R61", 3, {}, {}},              {"R62", 3, {}, {}},
      {"U31", 3, {}, {4}},             {"U32", 3, {}, {4, 1, 2, 3, 4}},
      {"U33", 3, {}, text("BREAKMEIFYOUCAN!")},
      {"U41", 3, {}, {}},              {"S10", 3, {}, {}},
      {"S11", 3, {}, {1}},             {"S12", 3, {}, {1, 1, 2, 3, 4}},
      {"S16", 3, {}, {}},              {"S17", 3, {}, Bytes(112, 0)},
      {"S19", 3, {}, {0x2B}},          {"P10", 4, {}, text("HI")},
      {"P20", 4, {}, {}},              {"Z01", 4, {}, {}},
  };
  // Times apart from one another, so that a step taken from the wrong time shows.
  MechanicalTimes times{901, 401, 601, 903, 907, 701, 151, 41, 1501};
  for (const CommandTime &row : kCommandTimes) {
    SCOPED_TRACE(std::string(row.code));
    const auto c = std::find_if(std::begin(cases), std::end(cases), [&](const Case &k) { return k.code == row.code; });
    if (c == std::end(cases)) {
      ADD_FAILURE() << "no case for a timed command";
      continue;
    }
    TerminalOptions o;
    o.instant = false;
    o.times = times;
    o.card_inside = c->card_inside;
    o.exit_take_ms = -1;
    Term t(o);
    for (const Setup &s : c->before) ASSERT_EQ(t.st(s.code, s.data), 0) << s.code;
    const DeviceReply r = t.run(std::string(row.code), c->data);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.busy_ms, row.moving.ms(times) + row.working.ms(times));
  }
}

// Mechanical times are checked against the reply windows, movements added up.
TEST(Times, ATimeThatPushesACommandPastItsWindowIsNamed) {
  EXPECT_EQ(check_times(MechanicalTimes{}), "");
  struct Case {
    int MechanicalTimes::*time;
    int ms;
    const char *named;  // empty: fits
  };
  const Case cases[] = {
      {&MechanicalTimes::draw, 12000, ""},      {&MechanicalTimes::draw, 13000, "M34"},
      {&MechanicalTimes::draw, 14000, "C31"},   {&MechanicalTimes::ms, 6800, "M51"},      {&MechanicalTimes::rf, 1700, "R36"},
      {&MechanicalTimes::rf, 800, ""},          {&MechanicalTimes::print, 13200, "P10"},
      {&MechanicalTimes::capture, 14000, "C34"}, {&MechanicalTimes::move, 6800, "Z01"},
  };
  for (const Case &c : cases) {
    MechanicalTimes t;
    t.*(c.time) = c.ms;
    const std::string msg = check_times(t);
    SCOPED_TRACE(msg);
    if (*c.named == '\0') {
      EXPECT_EQ(msg, "");
    } else {
      EXPECT_EQ(msg.rfind(c.named, 0), 0u);
    }
  }
  MechanicalTimes fast_rf;
  fast_rf.rf = 1800;  // a short-reply read without the sensor has 2000 ms
  EXPECT_EQ(check_times(fast_rf).rfind("R", 0), 0u);
}

}  // namespace
}  // namespace tolvex::sim

namespace tolvex::sim {
namespace {

// Access bytes for one condition (C1 C2 C3 as a number 0-7) of each block group.
Bytes access_bytes(int g0, int g1, int g2, int trailer) {
  const int c[4] = {g0, g1, g2, trailer};
  int c1 = 0, c2 = 0, c3 = 0;
  for (int g = 0; g < 4; ++g) {
    c1 |= (c[g] >> 2 & 1) << g;
    c2 |= (c[g] >> 1 & 1) << g;
    c3 |= (c[g] & 1) << g;
  }
  return {static_cast<std::uint8_t>((~c2 & 0xF) << 4 | (~c1 & 0xF)), static_cast<std::uint8_t>(c1 << 4 | (~c3 & 0xF)),
          static_cast<std::uint8_t>(c3 << 4 | c2), 0x69};
}

// The access conditions a trailer carries decide what each key may do with each block;
// what they forbid answers the authentication error. Trailer condition 3 keeps key B
// secret, so both keys may be used.
TEST(Classic, AccessConditionsDecideWhatEachKeyMayDo) {
  EXPECT_EQ(access_bytes(0, 0, 0, 1), (Bytes{0xFF, 0x07, 0x80, 0x69}));  // as delivered
  struct Case {
    int condition;       // of block 0
    std::uint8_t key;    // 1 A, 2 B
    const char *code;
    std::uint16_t want;
  };
  const Case cases[] = {
      {2, 1, "R31", 0},           {2, 1, "R32", st::kRfAuth}, {1, 1, "R42", 0},           {1, 1, "R41", st::kRfAuth},
      {6, 1, "R41", st::kRfAuth}, {6, 2, "R41", 0},           {6, 1, "R32", st::kRfAuth}, {3, 1, "R31", st::kRfAuth},
      {3, 2, "R31", 0},           {7, 2, "R31", st::kRfAuth},
  };

  const Bytes ff(6, 0xFF);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.code) + " condition " + std::to_string(c.condition) + " key " + std::to_string(c.key));
    Term t;
    ASSERT_EQ(t.st("C31", {0, 3}), 0);
    ASSERT_EQ(t.st("R32", cat({8, 0}, value_block(50))), 0);
    ASSERT_EQ(t.st("R54", cat({8}, cat(ff, cat(access_bytes(c.condition, 0, 0, 3), ff)))), 0);
    ASSERT_EQ(t.st("R53", {c.key}), 0);
    Bytes data{8, 0};
    if (c.code == std::string("R32")) data = cat(data, value_block(7));
    if (c.code[1] == '4') data = cat(data, {1, 0, 0, 0});
    EXPECT_EQ(t.st(c.code, data), c.want);
    EXPECT_EQ(t.st("R31", {8, 1}), 0);  // block 1 keeps the open condition
  }
}

TEST(Classic, TheTrailerGuardsItsOwnParts) {
  Term t;
  ASSERT_EQ(t.st("C31", {0, 3}), 0);
  const Bytes ff(6, 0xFF), a2{1, 1, 1, 1, 1, 1};
  // Trailer condition 3: key B changes keys and access bits, key A only reads them.
  ASSERT_EQ(t.st("R54", cat({9}, cat(ff, cat(access_bytes(0, 0, 0, 3), ff)))), 0);
  EXPECT_EQ(t.st("R54", cat({9}, cat(a2, ff))), st::kRfAuth);  // key A may not write key A
  const Bytes trailer_a = t.run("R31", {9, 3}).data;
  ASSERT_EQ(trailer_a.size(), 18u);
  EXPECT_EQ(Bytes(trailer_a.begin() + 12, trailer_a.end()), Bytes(6, 0));  // key B stays secret
  ASSERT_EQ(t.st("R53", {2}), 0);
  EXPECT_EQ(t.st("R54", cat({9}, cat(a2, ff))), 0);
  // Condition 6 (110): nobody changes anything any more; the access bits still read.
  EXPECT_EQ(t.st("R54", cat({9}, cat(a2, cat(access_bytes(0, 0, 0, 6), ff)))), 0);
  EXPECT_EQ(t.st("R54", cat({9}, cat(a2, cat(access_bytes(0, 0, 0, 3), ff)))), st::kRfAuth);
  EXPECT_EQ(t.st("R32", cat({9, 3}, cat(a2, cat(access_bytes(0, 0, 0, 6), ff)))), 0);  // nothing changes
  EXPECT_EQ(t.run("R31", {9, 3}).status, 0);
  // A forbidden block makes the whole sector read or write fail.
  ASSERT_EQ(t.st("R53", {1}), 0);
  ASSERT_EQ(t.st("R51", cat({10}, cat(ff, ff))), 0);
  ASSERT_EQ(t.st("R54", cat({10}, cat(ff, cat(access_bytes(0, 0, 5, 1), ff)))), 0);
  EXPECT_EQ(t.st("R36", {10}), st::kRfAuth);
  EXPECT_EQ(t.st("R37", Bytes(52, 10)), st::kRfAuth);
}

}  // namespace
}  // namespace tolvex::sim

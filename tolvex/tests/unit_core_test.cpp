// Building blocks of the library: receive ring, block check, command frames, reply
// windows, timers and port-name mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "byte_queue.hpp"
#include "comm_port.hpp"
#include "frame.hpp"
#include "timers.hpp"

namespace tolvex {
namespace {

TEST(ByteQueue, EmptyFullAndCountsAcrossTheWrap) {
  CByteQueue q;
  std::uint8_t b = 0xAA;
  EXPECT_EQ(q.count(), 0);
  EXPECT_EQ(q.pop(b), 0);
  EXPECT_EQ(b, 0xAA);  // a failed pop leaves the caller's byte alone

  for (int i = 0; i < 999; ++i) ASSERT_EQ(q.push(static_cast<std::uint8_t>(i)), 1) << i;
  EXPECT_EQ(q.count(), 999);
  EXPECT_EQ(q.push(0x55), 0);  // the 1000th push is refused
  EXPECT_EQ(q.count(), 999);
  for (int i = 0; i < 999; ++i) {
    ASSERT_EQ(q.pop(b), 1);
    ASSERT_EQ(b, static_cast<std::uint8_t>(i));  // order kept, the refused byte never stored
  }
  EXPECT_EQ(q.count(), 0);

  // Head now sits at 999: push past the end of the storage and keep counting right.
  for (int i = 0; i < 10; ++i) ASSERT_EQ(q.push(static_cast<std::uint8_t>(100 + i)), 1);
  EXPECT_EQ(q.count(), 10);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(q.pop(b), 1);
  EXPECT_EQ(b, 103);
  EXPECT_EQ(q.count(), 6);
  for (int i = 0; i < 993; ++i) ASSERT_EQ(q.push(1), 1);
  EXPECT_EQ(q.count(), 999);
  EXPECT_EQ(q.push(1), 0);
}

TEST(ByteQueue, OneProducerOneConsumerKeepOrder) {
  CByteQueue q;
  constexpr int kTotal = 200000;
  std::thread producer([&] {
    for (int i = 0; i < kTotal;) {
      if (q.push(static_cast<std::uint8_t>(i * 7)) == 1) ++i;
    }
  });
  int received = 0;
  bool in_order = true;
  while (received < kTotal) {
    std::uint8_t b = 0;
    if (q.pop(b) == 1) {
      in_order = in_order && b == static_cast<std::uint8_t>(received * 7);
      ++received;
    }
  }
  producer.join();
  EXPECT_TRUE(in_order);
  EXPECT_EQ(q.count(), 0);
}

TEST(Frame, BlockCheckAndCommandFrames) {
  EXPECT_EQ(bcc(nullptr, 0), 0);
  const std::uint8_t bytes[] = {0x00, 0x00, 0x03, 0x02, 0x43, 0x31, 0x31, 0x03};
  EXPECT_EQ(bcc(bytes, sizeof bytes), 0x41);

  std::uint8_t frame[kFrameBufferSize] = {};
  ASSERT_EQ(build_frame(frame, "C11", nullptr, 0), 10u);
  const std::uint8_t model[] = {0x01, 0x00, 0x00, 0x03, 0x02, 0x43, 0x31, 0x31, 0x03, 0x41};
  EXPECT_EQ(0, std::memcmp(frame, model, sizeof model));

  const std::uint8_t move[] = {0x03, 0x03};
  ASSERT_EQ(build_frame(frame, "C31", move, 2), 12u);
  EXPECT_EQ(frame[3], 5);
  EXPECT_EQ(frame[8], 0x03);
  EXPECT_EQ(frame[9], 0x03);
  EXPECT_EQ(frame[10], 0x03);  // ETX after the data
  EXPECT_EQ(frame[11], bcc(frame + 1, 10));
}

TEST(Frame, LargestCommandFitsTheFrameBuffer) {
  std::uint8_t data[kDataMax];
  for (std::size_t i = 0; i < kDataMax; ++i) data[i] = static_cast<std::uint8_t>(i);
  // Guard bytes after the buffer catch any overrun.
  struct {
    std::uint8_t frame[kFrameBufferSize];
    std::uint8_t guard[16];
  } out{};
  std::memset(out.guard, 0xEE, sizeof out.guard);
  ASSERT_EQ(build_frame(out.frame, "M33", data, kDataMax), kDataMax + 10);
  EXPECT_EQ(out.frame[2], (kDataMax + 3) >> 8);
  EXPECT_EQ(out.frame[3], (kDataMax + 3) & 0xFF);
  EXPECT_EQ(out.frame[8 + kDataMax - 1], data[kDataMax - 1]);
  EXPECT_EQ(out.frame[8 + kDataMax], kEtx);
  EXPECT_EQ(out.frame[9 + kDataMax], bcc(out.frame + 1, 8 + kDataMax));
  for (std::uint8_t g : out.guard) EXPECT_EQ(g, 0xEE);
}

TEST(Frame, ReplyWindowByCode) {
  for (const char *code : {"C11", "C17", "C21", "C28", "C40", "R33", "R44", "R53", "R62", "R71", "R73"}) {
    EXPECT_TRUE(is_short_reply(code)) << code;
  }
  for (const char *code : {"C31", "C33", "C29", "C41", "M31", "R31", "R61", "R74", "T33", "c11"}) {
    EXPECT_FALSE(is_short_reply(code)) << code;
  }
}

TEST(Timers, SlotsExpireAfterTheirDuration) {
  timer_start(7, 0);
  EXPECT_TRUE(timer_expired(7));
  timer_start(8, 60000);
  EXPECT_FALSE(timer_expired(8));
  EXPECT_GT(timer_deadline(8), Clock::now() + std::chrono::seconds(59));
  timer_start(9, 20);
  EXPECT_FALSE(timer_expired(9));
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_TRUE(timer_expired(9));
  timer_start(9, 60000);  // a restart replaces the old stamp
  EXPECT_FALSE(timer_expired(9));
  EXPECT_FALSE(timer_expired(8));  // other slots untouched
}

TEST(Timers, SlotsOutsideTheTableAlwaysCountAsExpired) {
  for (int s : {50, 51, 1000, -1}) {
    timer_start(s, 60000);
    EXPECT_TRUE(timer_expired(s)) << s;
  }
  timer_start(49, 60000);
  EXPECT_FALSE(timer_expired(49));
}

TEST(PortNames, PathsComNamesAndRejects) {
  EXPECT_EQ(device_path_for("/dev/ttyUSB0"), "/dev/ttyUSB0");
  const std::string long_path = "/dev/serial/by-id/usb-some-adapter-with-a-very-long-name-if00-port0";
  EXPECT_EQ(device_path_for(long_path.c_str()), long_path);

  ::unsetenv("TOLVEX_COM1");
  ::unsetenv("TOLVEX_COM12");
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");
  EXPECT_EQ(device_path_for("COM12"), "/dev/ttyS11");
  ::setenv("TOLVEX_COM1", "/dev/ttyUSB3", 1);
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyUSB3");
  EXPECT_EQ(device_path_for("COM12"), "/dev/ttyS11");  // only its own variable counts
  ::setenv("TOLVEX_COM1", "", 1);
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");  // empty value: not set
  ::unsetenv("TOLVEX_COM1");

  for (const char *bad : {"", "COM", "COM0", "COM01", "COMX", "COM1x", "com1", "ttyS0", "LPT1", "COM-1"}) {
    EXPECT_FALSE(device_path_for(bad).has_value()) << '"' << bad << '"';
  }
  EXPECT_FALSE(device_path_for(nullptr).has_value());
}

}  // namespace
}  // namespace tolvex

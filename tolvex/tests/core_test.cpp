// Building blocks of the library: block check, command frames, reply windows and
// port-name mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "frame.hpp"

namespace tolvex {
namespace {

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
  // Every row's window, whatever follows the code.
  for (const CommandInfo &c : kCommands) {
    const bool short_row = c.reply == Reply::short_window;
    EXPECT_EQ(is_short_reply(c.code), short_row) << c.code;
    EXPECT_EQ(is_short_reply(std::string(c.code) + "xyz"), short_row) << c.code;
    EXPECT_EQ(reply_window_ms(c.code), short_row ? kShortReplyMs : kLongReplyMs) << c.code;
  }
  // Known rows, and codes with no row wait the long window.
  EXPECT_TRUE(is_short_reply("C11"));
  EXPECT_TRUE(is_short_reply("R53"));
  EXPECT_FALSE(is_short_reply("C31"));
  for (const char *code : {"C29", "C41", "R74", "c11", "C1", ""}) {
    EXPECT_FALSE(is_short_reply(code)) << code;
    EXPECT_EQ(reply_window_ms(code), kLongReplyMs) << code;
  }
}

}  // namespace
}  // namespace tolvex

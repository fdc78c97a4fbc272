#include "setting.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tolvex::bench {
namespace {

TEST(SettingRates, TableAndBaudTexts) {
  const char *texts[] = {"9600", "19200", "38400", "57600"};
  const std::uint32_t bauds[] = {9600, 19200, 38400, 57600};
  for (int i = 0; i < 4; ++i) {
    const auto rate = rate_for_index(i);
    ASSERT_TRUE(rate.has_value()) << i;
    EXPECT_EQ(rate->number, i + 1);
    EXPECT_STREQ(rate->text, texts[i]);
    EXPECT_EQ(baud_from_text(rate->text), bauds[i]);
  }
  EXPECT_FALSE(rate_for_index(-1).has_value());
  EXPECT_FALSE(rate_for_index(4).has_value());
  // Only the four listed texts are line speeds.
  EXPECT_EQ(baud_from_text("115200"), 0u);
  EXPECT_EQ(baud_from_text(" 9600"), 0u);
  EXPECT_EQ(baud_from_text(""), 0u);
}

TEST(SettingPorts, Names) {
  EXPECT_EQ(port_name_for_index(0), "COM1");
  EXPECT_EQ(port_name_for_index(3), "COM4");
  EXPECT_EQ(port_name_for_index(4), "");
  EXPECT_EQ(port_name_for_index(-1), "");
}

TEST(SettingClock, RecordFromListTexts) {
  EXPECT_EQ(rtc_record(L"2024", L"12", L"31", L"23", L"59"),
            (DateTimeRecord{0x20, 0x24, 0x12, 0x31, 0x23, 0x59, 0x00}));
  // Midnight can be set from the "00" entries.
  EXPECT_EQ(rtc_record(L"2013", L"01", L"01", L"00", L"00"),
            (DateTimeRecord{0x20, 0x13, 0x01, 0x01, 0x00, 0x00, 0x00}));
  // Empty or short texts follow the byte rule: a missing second character makes the byte 0.
  EXPECT_EQ(rtc_record(L"20", L"", L"5", L"1X", L"x9"), (DateTimeRecord{0x20, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00}));
}

TEST(SettingClock, ClockText) {
  const std::uint8_t read[] = {0x20, 0x13, 0x05, 0x30, 0x14, 0x25, 0x07};
  EXPECT_EQ(clock_text(read), L" 2013년 05월 30일 14시 25분 07초 ");
  const std::uint8_t odd[] = {0xAB, 0x00, 0xFF, 0x0C, 0x00, 0x00, 0x99};
  EXPECT_EQ(clock_text(odd), L" AB00년 FF월 0C일 00시 00분 99초 ");
}

TEST(SettingTexts, RetryAndCapture) {
  EXPECT_EQ(retry_text(3), L" 03");
  EXPECT_EQ(retry_text(0), L" 00");
  EXPECT_EQ(retry_text(0xAF), L" AF");

  EXPECT_EQ(capture_text(0), std::optional<std::wstring>(L"NONE"));
  EXPECT_EQ(capture_text(1), std::optional<std::wstring>(L"10 Sec"));
  EXPECT_EQ(capture_text(3), std::optional<std::wstring>(L"30 Sec"));
  EXPECT_EQ(capture_text(6), std::optional<std::wstring>(L"60 Sec"));
  EXPECT_FALSE(capture_text(7).has_value());
  EXPECT_FALSE(capture_text(0xFF).has_value());
}

}  // namespace
}  // namespace tolvex::bench

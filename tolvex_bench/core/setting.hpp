// Widget-free logic of the Setting page: the rate table, the clock record and the
// texts the page shows for what the terminal reports back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvex::bench {

// One row of the rate table: the list index r gives the rate number r + 1 that the
// terminal is sent and the rate text the port is opened with.
struct RateEntry {
  std::uint8_t number;
  const char *text;
};

inline constexpr int kRateCount = 4;

// Row of the "BaudRate:" list's index 0 to 3; nothing for any other index.
std::optional<RateEntry> rate_for_index(int index) noexcept;

// The line speed a rate text stands for: "9600", "19200", "38400", "57600"; 0 for any
// other text.
std::uint32_t baud_from_text(std::string_view text) noexcept;

// Port name of the "Port:" list's index: 0 to 3 give "COM1" to "COM4", any other
// index an empty name.
std::string port_name_for_index(int index);

// Seven bytes of packed BCD: century, year, month, day, hour, minute, second.
using DateTimeRecord = std::array<std::uint8_t, 7>;

// The record from the texts of the five clock lists: the four year characters give
// bytes 0 and 1, the first two characters of month, day, hour and minute bytes 2 to 5,
// each pair by the hexadecimal byte rule; byte 6 (seconds) is 0.
DateTimeRecord rtc_record(std::wstring_view year, std::wstring_view month, std::wstring_view day,
                          std::wstring_view hour, std::wstring_view minute);

// " 2013년 05월 30일 14시 25분 07초 " from the first seven bytes of a clock read, each
// byte as two upper-case hexadecimal digits.
std::wstring clock_text(const std::uint8_t *bytes7);

// " 03" for a retry count of 3: a blank and the byte as two upper-case hex digits.
std::wstring retry_text(std::uint8_t count);

// "NONE" for 0, "10 Sec" to "60 Sec" for 1 to 6; nothing for any other byte (the
// capture box then keeps its text).
std::optional<std::wstring> capture_text(std::uint8_t value);

}  // namespace tolvex::bench

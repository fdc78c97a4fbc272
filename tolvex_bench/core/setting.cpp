#include "setting.hpp"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "hex.hpp"

namespace tolvex::bench {

namespace {

constexpr RateEntry kRates[kRateCount] = {
    {1, "9600"}, {2, "19200"}, {3, "38400"}, {4, "57600"}};

// Character i of a text, or 0 when the text is shorter (a missing character).
wchar_t char_at(std::wstring_view text, std::size_t i) noexcept { return i < text.size() ? text[i] : 0; }

std::uint8_t pair_at(std::wstring_view text, std::size_t first) noexcept {
  return hex_pair(char_at(text, first), char_at(text, first + 1));
}

}  // namespace

std::optional<RateEntry> rate_for_index(int index) noexcept {
  if (index < 0 || index >= kRateCount) return std::nullopt;
  return kRates[index];
}

std::uint32_t baud_from_text(std::string_view text) noexcept {
  for (const RateEntry &rate : kRates) {
    if (text == rate.text) return static_cast<std::uint32_t>(std::strtoul(rate.text, nullptr, 10));
  }
  return 0;
}

std::string port_name_for_index(int index) {
  if (index < 0 || index > 3) return {};
  return "COM" + std::to_string(index + 1);
}

DateTimeRecord rtc_record(std::wstring_view year, std::wstring_view month, std::wstring_view day,
                          std::wstring_view hour, std::wstring_view minute) {
  return DateTimeRecord{pair_at(year, 0), pair_at(year, 2), pair_at(month, 0), pair_at(day, 0),
                        pair_at(hour, 0), pair_at(minute, 0), 0x00};
}

std::wstring clock_text(const std::uint8_t *b) {
  wchar_t buffer[128];
  const int n = std::swprintf(buffer, 128, L" %02X%02X년 %02X월 %02X일 %02X시 %02X분 %02X초 ",
                              unsigned{b[0]}, unsigned{b[1]}, unsigned{b[2]}, unsigned{b[3]}, unsigned{b[4]},
                              unsigned{b[5]}, unsigned{b[6]});
  return n > 0 ? std::wstring(buffer, static_cast<std::size_t>(n)) : std::wstring();
}

std::wstring retry_text(std::uint8_t count) {
  wchar_t buffer[8];
  const int n = std::swprintf(buffer, 8, L" %02X", unsigned{count});
  return n > 0 ? std::wstring(buffer, static_cast<std::size_t>(n)) : std::wstring();
}

std::optional<std::wstring> capture_text(std::uint8_t value) {
  if (value == 0) return L"NONE";
  if (value <= 6) return std::to_wstring(value * 10) + L" Sec";
  return std::nullopt;
}

}  // namespace tolvex::bench

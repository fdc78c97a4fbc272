#include "hex.hpp"

namespace tolvex::bench {

int hex_digit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9') return static_cast<int>(c - L'0');
  if (c >= L'A' && c <= L'F') return static_cast<int>(c - L'A') + 10;
  return -1;
}

std::uint8_t hex_pair(wchar_t high, wchar_t low) noexcept {
  const int lo = hex_digit(low);
  if (lo < 0) return 0;
  const int hi = hex_digit(high);
  return static_cast<std::uint8_t>(((hi < 0 ? 0 : hi) << 4) | lo);
}

namespace {

template <typename Char>
std::vector<std::uint8_t> to_bytes(std::basic_string_view<Char> text) {
  std::vector<std::uint8_t> out;
  out.reserve((text.size() + 1) / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto high = static_cast<wchar_t>(text[i]);
    const wchar_t low = i + 1 < text.size() ? static_cast<wchar_t>(text[i + 1]) : L'\0';
    out.push_back(hex_pair(high, low));
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> hex_to_bytes(std::wstring_view text) { return to_bytes(text); }

std::vector<std::uint8_t> hex_to_bytes(std::string_view text) {
  // Only ASCII can be a digit; cast through unsigned char so bytes >= 0x80 stay invalid.
  std::vector<std::uint8_t> out;
  out.reserve((text.size() + 1) / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto high = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    const wchar_t low = i + 1 < text.size() ? static_cast<wchar_t>(static_cast<unsigned char>(text[i + 1])) : L'\0';
    out.push_back(hex_pair(high, low));
  }
  return out;
}

std::vector<std::uint8_t> hex_to_bytes_fixed(std::string_view text, std::size_t count) {
  const std::size_t chars = count < text.size() / 2 + 1 ? count * 2 : text.size();
  std::vector<std::uint8_t> out = hex_to_bytes(text.substr(0, chars));
  out.resize(count, 0);
  return out;
}

bool parse_hex_strict(std::string_view text, std::vector<std::uint8_t> &out, std::string *error) {
  out.clear();
  if (text.size() % 2 != 0) {
    if (error) *error = "odd number of hex digits (" + std::to_string(text.size()) + ")";
    return false;
  }
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!ok) {
      if (error) {
        *error = "invalid hex digit '";
        *error += (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) ? std::string(1, c) : "?";
        *error += "' at position " + std::to_string(i + 1);
      }
      out.clear();
      return false;
    }
  }
  for (std::size_t i = 0; i < text.size(); i += 2) {
    auto nibble = [](char c) {
      if (c >= 'a') return c - 'a' + 10;
      if (c >= 'A') return c - 'A' + 10;
      return c - '0';
    };
    out.push_back(static_cast<std::uint8_t>((nibble(text[i]) << 4) | nibble(text[i + 1])));
  }
  return true;
}

std::wstring bracketed_hex(const std::uint8_t *bytes, std::size_t count) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  out.reserve(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    out += L'[';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    out += L']';
  }
  return out;
}

std::string plain_hex(const std::uint8_t *bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::wstring spaced_hex(const std::uint8_t *bytes, std::size_t count) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  out.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out += L' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::wstring fold_lines(std::wstring_view text, std::size_t width) {
  if (width == 0 || text.size() <= width) return std::wstring(text);
  std::wstring out;
  out.reserve(text.size() + (text.size() / width) * 3);
  for (std::size_t pos = 0; pos < text.size(); pos += width) {
    if (pos != 0) out += L"\n  ";
    out += text.substr(pos, width);
  }
  return out;
}

}  // namespace tolvex::bench

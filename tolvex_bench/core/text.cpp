#include "text.hpp"

namespace tolvex::bench {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_scalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Appends the UTF-8 form of c (a scalar value) to out.
void append_utf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::size_t utf8_length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

}  // namespace

std::wstring to_wide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size() < kWideBufferChars ? utf8.size() : kWideBufferChars);
  const auto *s = reinterpret_cast<const unsigned char *>(utf8.data());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n && out.size() < kWideBufferChars - 1) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    std::size_t need;
    char32_t c;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1, c = b & 0x1Fu, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, c = b & 0x0Fu, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, c = b & 0x07u, min = 0x10000;
    } else {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= need && i + j < n && (s[i + j] & 0xC0) == 0x80; ++j) c = (c << 6) | (s[i + j] & 0x3Fu);
    if (j <= need || c < min || !is_scalar(c)) {
      // Malformed: one replacement for the lead byte and the continuation bytes it took.
      out += static_cast<wchar_t>(kReplacement);
      i += j;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += j;
  }
  return out;
}

namespace {

std::string encode(std::wstring_view wide, std::size_t limit) {
  std::string out;
  out.reserve(wide.size() < limit ? wide.size() : limit);
  for (const wchar_t w : wide) {
    char32_t c = static_cast<char32_t>(w);
    if (!is_scalar(c)) c = kReplacement;
    if (out.size() + utf8_length(c) > limit) break;
    append_utf8(out, c);
  }
  return out;
}

}  // namespace

std::string to_narrow(std::wstring_view wide) { return encode(wide, kNarrowBufferBytes - 1); }

std::string to_utf8(std::wstring_view wide) { return encode(wide, static_cast<std::size_t>(-1)); }

std::string_view response_bytes(const std::uint8_t *buffer, std::size_t capacity, std::size_t offset) {
  if (buffer == nullptr || offset >= capacity) return {};
  std::size_t end = offset;
  while (end < capacity && buffer[end] != 0) ++end;
  return {reinterpret_cast<const char *>(buffer + offset), end - offset};
}

std::wstring response_text(const std::uint8_t *buffer, std::size_t capacity, std::size_t offset) {
  return to_wide(response_bytes(buffer, capacity, offset));
}

}  // namespace tolvex::bench

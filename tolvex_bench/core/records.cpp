#include "records.hpp"

#include <algorithm>

#include "hex.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

constexpr std::size_t kWorkBuffer = kWorkBufferBytes;

template <std::size_t N>
std::array<std::uint8_t, N> to_array(const std::vector<std::uint8_t> &bytes) {
  std::array<std::uint8_t, N> out{};
  std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
  return out;
}

// A header box gives one byte from its first two bytes.
std::uint8_t box_byte(std::string_view box) { return hex_to_bytes_fixed(box, 1)[0]; }

// Exactly `digits` hexadecimal digits, or why not.
std::wstring exact_hex_problem(std::wstring_view box, std::string_view text, std::size_t digits,
                               std::wstring_view what) {
  const std::wstring head = std::wstring(box) + L": ";
  // Every byte before the first invalid one is an ASCII digit: its place is the same
  // counted in bytes or in characters.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (hex_digit(static_cast<wchar_t>(static_cast<unsigned char>(text[i]))) < 0) {
      return head + L"CHARACTER " + std::to_wstring(i + 1) + L" IS NOT A HEXADECIMAL DIGIT. NOTHING SENT.";
    }
  }
  if (text.size() == digits) return {};
  return head + std::to_wstring(text.size()) + L" DIGITS; " + std::wstring(what) + L" IS EXACTLY " +
         std::to_wstring(digits) + L" HEXADECIMAL DIGITS. NOTHING SENT.";
}

// At most `limit` bytes of 8-bit text, or why not.
std::wstring byte_limit_problem(std::wstring_view box, std::string_view text, std::size_t limit,
                                std::wstring_view what) {
  const std::size_t bytes = text.size();
  if (bytes <= limit) return {};
  return std::wstring(box) + L": " + std::to_wstring(bytes) + L" BYTES; " + std::wstring(what) + L" IS AT MOST " +
         std::to_wstring(limit) + L" BYTES. NOTHING SENT.";
}

}  // namespace

std::string work_text(std::wstring_view text) {
  std::string out = to_narrow(text);
  if (out.size() > kWorkBuffer - 1) out.resize(kWorkBuffer - 1);
  return out;
}

std::string rotate_text(std::string_view text) {
  if (text.empty()) return {};
  std::string out(text.substr(1));
  out += text.front();
  return out;
}

std::wstring rotate_text(std::wstring_view text) {
  if (text.empty()) return {};
  std::wstring out(text.substr(1));
  out += text.front();
  return out;
}

std::optional<std::vector<std::uint8_t>> all_write_block(std::string_view track1, std::string_view track2,
                                                         std::string_view track3) {
  const std::size_t length = track1.size() + track2.size() + track3.size() + 2;
  if (length + 1 > kWorkBuffer) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(length);
  out.insert(out.end(), track1.begin(), track1.end());
  out.push_back(0);
  out.insert(out.end(), track2.begin(), track2.end());
  out.push_back(0);
  out.insert(out.end(), track3.begin(), track3.end());
  return out;
}

std::wstring AllReadTracks::message() const {
  if (frame_error == 0) return {};
  return L"RX Packet Frame Error " + std::to_wstring(frame_error);
}

AllReadTracks split_all_read(const std::uint8_t *data, std::size_t size) {
  AllReadTracks out;
  if (data == nullptr) size = 0;
  std::size_t pos = 1;
  for (int part = 0; part < 3; ++part) {
    // The first two parts must end within 300 bytes; the third ends at the buffer's end.
    const std::size_t limit = part < 2 ? std::min(size, pos + kWorkBuffer) : size;
    std::size_t end = pos;
    while (end < limit && data[end] != 0) ++end;
    if (part < 2 && end >= limit) {
      out.frame_error = part + 2;
      return out;
    }
    if (pos < size) out.tracks[part].assign(reinterpret_cast<const char *>(data + pos), end - pos);
    out.filled = part + 1;
    pos = end + 1;
  }
  return out;
}

Apdu assemble_apdu(const ApduBoxes &b) {
  Apdu apdu;
  const struct {
    const std::string *box;
    const wchar_t *name;
  } header[] = {{&b.cla, L"CLA"}, {&b.ins, L"INS"}, {&b.p1, L"P1"}, {&b.p2, L"P2"}};
  for (const auto &h : header) {
    if (h.box->empty()) {
      apdu.problem = std::wstring(h.name) + L" is empty";
      return apdu;
    }
  }
  if (b.data.size() % 2 != 0) {
    apdu.problem = L"[Lc Data] has an odd number of digits";
    return apdu;
  }
  const std::size_t length = 5 + b.data.size() / 2 + (b.le.empty() ? 0 : 1);
  if (length + 2 > kWorkBuffer) {
    // Only the data field can make it this long.
    apdu.problem = L"[Lc Data]: an APDU of " + std::to_wstring(length) + L" bytes, at most " +
                   std::to_wstring(kWorkBuffer - 2) + L" fit with its two length bytes.";
    return apdu;
  }
  apdu.buffer.reserve(length + 2);
  apdu.buffer.push_back(static_cast<std::uint8_t>(length >> 8));
  apdu.buffer.push_back(static_cast<std::uint8_t>(length & 0xFF));
  for (const auto &h : header) apdu.buffer.push_back(box_byte(*h.box));
  apdu.buffer.push_back(b.lc.empty() ? 0 : box_byte(b.lc));
  const std::vector<std::uint8_t> data = hex_to_bytes(std::string_view(b.data));
  apdu.buffer.insert(apdu.buffer.end(), data.begin(), data.end());
  if (!b.le.empty()) apdu.buffer.push_back(box_byte(b.le));
  return apdu;
}

std::array<std::uint8_t, 16> value_block(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  const std::uint32_t words[3] = {v, ~v, v};
  std::array<std::uint8_t, 16> out{};
  for (std::size_t w = 0; w < 3; ++w) {
    for (std::size_t i = 0; i < 4; ++i) out[w * 4 + i] = static_cast<std::uint8_t>(words[w] >> (8 * i));
  }
  out[12] = 0xAA;
  out[13] = 0x55;
  out[14] = 0xAA;
  out[15] = 0x55;
  return out;
}

std::vector<std::uint8_t> key_record(std::string_view key_a, std::string_view key_b, bool ascii,
                                     std::optional<std::string_view> access_hex) {
  auto key = [ascii](std::string_view text) {
    if (!ascii) return hex_to_bytes_fixed(text, 6);
    std::vector<std::uint8_t> out(6, 0);
    std::copy_n(text.begin(), std::min<std::size_t>(6, text.size()), out.begin());
    return out;
  };
  std::vector<std::uint8_t> out = key(key_a);
  if (access_hex) {
    const std::vector<std::uint8_t> access = hex_to_bytes_fixed(*access_hex, 4);
    out.insert(out.end(), access.begin(), access.end());
  }
  const std::vector<std::uint8_t> b = key(key_b);
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::wstring key_text_problem(std::wstring_view box, std::string_view text, bool ascii) {
  if (ascii) return byte_limit_problem(box, text, 6, L"AN ASCII KEY");
  return exact_hex_problem(box, text, 12, L"A HEX KEY");
}

std::wstring trailer_text_problem(std::string_view text, bool ascii) {
  if (ascii) return byte_limit_problem(L"INPUT", text, 16, L"A SECTOR TRAILER IN ASCII");
  return exact_hex_problem(L"INPUT", text, 32, L"A SECTOR TRAILER (KEY A, ACCESS BYTES, KEY B)");
}

std::array<std::uint8_t, 16> block_from_hex(std::string_view text) { return to_array<16>(hex_to_bytes_fixed(text, 16)); }

std::array<std::uint8_t, 16> block_from_ascii(std::string_view text) {
  return to_array<16>(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> sector_data(std::uint8_t sector, std::string_view hex_text) {
  if (sector < 32) return hex_to_bytes_fixed(hex_text, 51);
  std::vector<std::uint8_t> out{sector};
  const std::vector<std::uint8_t> rest = hex_to_bytes_fixed(hex_text, 255);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

std::array<std::uint8_t, 4> ultralight_page(std::string_view text) { return to_array<4>(hex_to_bytes_fixed(text, 4)); }

std::wstring auth_text_problem(std::string_view text) {
  return byte_limit_problem(L"INPUT", text, kWorkBuffer - 1, L"THE TEXT OF \"AUTH\"");
}

std::optional<std::vector<std::uint8_t>> auth_bytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  return hex_to_bytes(text);
}

}  // namespace tolvex::bench

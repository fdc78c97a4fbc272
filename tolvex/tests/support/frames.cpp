#include "frames.hpp"

namespace tolvex::test {

std::uint8_t xor_of(const std::uint8_t *begin, const std::uint8_t *end) {
  std::uint8_t x = 0;
  for (const std::uint8_t *p = begin; p < end; ++p) x ^= *p;
  return x;
}

Bytes command_frame(const std::string &code, const Bytes &data) {
  const std::size_t len = data.size() + 3;
  Bytes f{0x01, 0x00, static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len & 0xFF), 0x02};
  f.insert(f.end(), code.begin(), code.begin() + 3);
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(0x03);
  f.push_back(xor_of(f.data() + 1, f.data() + f.size()));
  return f;
}

Bytes reply_frame(const std::string &code, std::uint16_t status, const Bytes &data) {
  Bytes body(code.begin(), code.begin() + 3);
  body.push_back(static_cast<std::uint8_t>(status >> 8));
  body.push_back(static_cast<std::uint8_t>(status & 0xFF));
  body.push_back(0x00);
  body.insert(body.end(), data.begin(), data.end());
  const std::size_t len = body.size();
  Bytes f{0x01, 0x00, static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len & 0xFF), 0x02};
  f.insert(f.end(), body.begin(), body.end());
  f.push_back(0x03);
  f.push_back(xor_of(f.data() + 1, f.data() + f.size()));
  return f;
}

}  // namespace tolvex::test

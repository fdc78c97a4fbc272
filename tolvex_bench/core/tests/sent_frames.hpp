// The frames a terminal received, read back from its bytes: start byte, 00, the body's
// length in two bytes, STX, the body (code and data), ETX, block check. The
// acknowledgements between frames are skipped.
#pragma once

#include <string>
#include <vector>

namespace tolvex::bench::testing {

// Each frame's body: its three-letter code followed by its data.
inline std::vector<std::string> frame_bodies(const std::string &bytes) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i + 9 <= bytes.size(); ++i) {
    if (bytes[i] != '\x01' || bytes[i + 1] != '\0' || bytes[i + 4] != '\x02') continue;
    const std::size_t length =
        static_cast<unsigned char>(bytes[i + 2]) * 256u + static_cast<unsigned char>(bytes[i + 3]);
    if (length < 3 || i + 5 + length + 2 > bytes.size() || bytes[i + 5 + length] != '\x03') continue;
    out.push_back(bytes.substr(i + 5, length));
    i += 5 + length + 1;
  }
  return out;
}

// The frames' codes in order.
inline std::vector<std::string> frame_codes(const std::string &bytes) {
  std::vector<std::string> codes;
  for (const std::string &body : frame_bodies(bytes)) codes.push_back(body.substr(0, 3));
  return codes;
}

}  // namespace tolvex::bench::testing

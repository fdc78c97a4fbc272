// The receive side of the rfc2217:// Telnet codec fed arbitrary server bytes, in reads
// whose sizes the input chooses: the first byte seeds the read sizes, the rest is what
// the server sends. Checked: no read gives more data than bytes came in; every reply is
// a three-byte refusal or agreement (IAC, WILL/WONT/DO/DONT, option); the data decoded
// in pieces equals the data decoded at once; and data encoded again decodes to itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telnet_codec.hpp"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size) {
  if (size == 0) return 0;
  using tolvex::TelnetCodec;
  namespace t = tolvex::telnet;
  std::uint32_t seed = input[0] | 1u;
  const std::uint8_t *bytes = input + 1;
  const std::size_t n = size - 1;

  TelnetCodec whole;
  std::vector<std::uint8_t> opening, data_whole, replies_whole;
  whole.start(opening);
  whole.receive(bytes, n, data_whole, replies_whole);
  require(data_whole.size() <= n);

  TelnetCodec pieces;
  pieces.start(opening);
  std::vector<std::uint8_t> data, replies;
  for (std::size_t at = 0; at < n;) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t chunk = std::min<std::size_t>(n - at, 1 + (seed >> 16) % 17);
    const std::size_t before = data.size();
    pieces.receive(bytes + at, chunk, data, replies);
    require(data.size() - before <= chunk);
    at += chunk;
  }
  require(data == data_whole);
  require(replies == replies_whole);
  require(replies.size() % 3 == 0);
  for (std::size_t i = 0; i < replies.size(); i += 3) {
    require(replies[i] == t::kIac);
    require(replies[i + 1] >= t::kWill && replies[i + 1] <= t::kDont);
  }

  std::vector<std::uint8_t> encoded, again, ignored;
  TelnetCodec::encode(data.data(), data.size(), encoded);
  TelnetCodec round;
  round.receive(encoded.data(), encoded.size(), again, ignored);
  require(again == data);
  require(ignored.empty());
  return 0;
}

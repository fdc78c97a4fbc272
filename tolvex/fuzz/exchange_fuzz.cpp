// The exchange engine fed arbitrary terminal bytes at arbitrary times. The input is a
// list of events: the first byte picks the command, then each event byte says what
// happens next (bytes arrive, time passes, a write is refused or drained, a stop, a
// hang-up). Checked: every command ends with a result the library defines, after at
// most kSendsMax sends; one that ends past the command limit says TIMEOUT unless it
// was stopped or the line went; and the engine never writes or reports past its buffers.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exchange_engine.hpp"
#include "frame.hpp"

namespace {

using tolvex::Clock;
using tolvex::ExchangeEngine;
using tolvex::Result;

void require(bool ok) {
  if (!ok) std::abort();
}

bool defined(Result r) {
  switch (r) {
    case Result::ok:
#define TOLVEX_RESULT_CASE(name, code, text) case Result::name:
      TOLVEX_RESULT_CODES(TOLVEX_RESULT_CASE)
#undef TOLVEX_RESULT_CASE
      return true;
  }
  return false;
}

class Input {
 public:
  Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  const std::uint8_t *take(std::size_t &n) {
    n = std::min(n, size_ - pos_);
    const std::uint8_t *p = data_ + pos_;
    pos_ += n;
    return p;
  }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

const char *const kCodes[] = {"C11", "C31", "R31", "M33", "C21", "I22"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Input in(data, size);
  ExchangeEngine engine;
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
  const std::uint8_t pick = in.byte();
  engine.set_char_time(std::chrono::microseconds(pick & 0x10 ? 1042 : 0));
  std::uint8_t payload[tolvex::kDataMax];
  for (std::size_t i = 0; i < sizeof payload; ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  const std::size_t n = (pick & 0x20) ? tolvex::kDataMax : (pick >> 6);
  const Clock::time_point started = now;
  engine.start(kCodes[pick % 6], payload, n, now);
  bool hung_up = false;
  Clock::time_point ended = now;
  auto note_end = [&] {
    if (!engine.busy()) ended = std::min(ended, now);
  };
  ended = Clock::time_point::max();
  while (!in.empty() && engine.busy()) {
    const std::uint8_t op = in.byte();
    switch (op % 8) {
      case 0:
      case 1: {  // bytes from the terminal
        std::size_t count = static_cast<std::size_t>(op >> 3) + 1;
        const std::uint8_t *bytes = in.take(count);
        engine.receive(bytes, count, now);
        break;
      }
      case 2: {  // a flood of one byte value, up to twice what any buffer holds
        std::uint8_t flood[2048];
        const std::size_t count = (static_cast<std::size_t>(op >> 3) + 1) * 64;
        std::memset(flood, in.byte(), count);
        engine.receive(flood, count, now);
        break;
      }
      case 3: {  // a handshake byte alone
        static const std::uint8_t kBytes[] = {0x06, 0x15, 0x05, 0x03};
        engine.receive(&kBytes[op >> 6], 1, now);
        break;
      }
      case 4:  // time passes, from a microsecond to seconds
        now += std::chrono::microseconds(static_cast<long long>(op >> 3) * (op & 0x80 ? 250000 : 37));
        engine.tick(now);
        break;
      case 5:  // the line takes some of the output, or refuses it
        if ((op >> 3) == 31) {
          engine.write_failed(now);
        } else {
          const auto out = engine.output();
          require(out.size() <= tolvex::kFrameBufferSize);
          engine.accepted(static_cast<std::size_t>(op >> 3) * 40 + 1);
          if ((op & 0x80) == 0) engine.drained(now);  // else the bytes have not left yet
        }
        break;
      case 6:
        engine.stop(now);
        break;
      case 7:
        if (op == 0xFF) {
          engine.hang_up(now);
          hung_up = true;
        } else if (engine.next_deadline() != Clock::time_point::max()) {
          now = std::max(now, engine.next_deadline());  // straight to the next deadline
        }
        engine.tick(now);
        break;
    }
    note_end();
  }
  // Whatever the line did, the command ends by its deadlines once time runs on and
  // nothing else happens: at most kSendsMax sends, each bounded by its windows.
  for (int i = 0; i < 64 && engine.busy(); ++i) {
    const Clock::time_point next = engine.next_deadline();
    require(next != Clock::time_point::max());
    now = std::max(now, next);
    engine.tick(now);
    note_end();
  }
  require(!engine.busy());
  require(engine.sends() >= 1 && engine.sends() <= tolvex::kSendsMax);
  const auto outcome = engine.outcome();
  require(defined(outcome.result));
  require(outcome.data.size() <= tolvex::kResponseMax);
  if (outcome.result == Result::negative) require(outcome.data.size() == 2);
  // Reading every byte of the outcome catches a span past the buffer under the sanitizer.
  volatile std::uint8_t sink = 0;
  for (std::uint8_t b : outcome.data) sink = sink ^ b;
  if (ended - started >= std::chrono::milliseconds(tolvex::kCommandLimitMs) && !hung_up) {
    require(outcome.result == Result::timeout || outcome.result == Result::stopped);
  }
  return 0;
}

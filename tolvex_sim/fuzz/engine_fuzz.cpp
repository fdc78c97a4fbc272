// The simulated terminal's frame parser and protocol engine fed arbitrary host bytes.
//
// Input: fault rules as text lines (the --fault syntax), up to the first zero byte; then
// records of [gap, count, count bytes]: the bytes arrive gap x 4 ms after the previous
// record, so frames left unfinished are also abandoned now and then.
//
// Checked after every record: whatever the engine schedules is a handshake byte, noise
// or a whole reply frame that fits the host's 1000-byte buffer with a correct layout
// (and a correct block check unless a badbcc rule is in force); a second parser on the
// same bytes finds exactly the frames the engine answered, each of which survives being
// framed and parsed again unchanged.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device.hpp"
#include "engine.hpp"
#include "faults.hpp"
#include "frame.hpp"

namespace {

using namespace tolvex;
using namespace tolvex::sim;

constexpr std::size_t kHostBuffer = 1000;  // the host's receive buffer
constexpr int kSplitGapMs = 20;            // between the pieces of a split reply

[[noreturn]] void violated(const char *what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

void check(bool ok, const char *what) {
  if (!ok) violated(what);
}

bool is_control(std::uint8_t b) { return b == kStart || b == kEnq || b == kAck || b == kNak; }

void check_reply_frame(const Bytes &f, bool bad_bcc_allowed) {
  check(f.size() >= 13, "reply frame shorter than header, status and trailer");
  check(f.size() <= kHostBuffer, "reply frame larger than the host's receive buffer");
  check(f[0] == kStart && f[1] == 0x00 && f[4] == kStx, "reply frame header");
  const std::size_t len = (static_cast<std::size_t>(f[2]) << 8) | f[3];
  check(len + 7 == f.size(), "reply length field does not match the frame");
  check(f[5 + len] == kEtx, "reply frame without ETX in place");
  const std::uint8_t check_byte = bcc(f.data() + 1, 5 + len);
  check(f.back() == check_byte || (bad_bcc_allowed && f.back() == (check_byte ^ 0x5A)), "reply block check");
}

// Walks one batch of scheduled output: a split reply's later pieces follow its first
// piece directly, with the split gap.
void check_output(const std::vector<OutChunk> &out, bool bad_bcc_allowed) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const OutChunk &c = out[i];
    if (c.drop_queued || c.new_baud > 0) {
      check(c.bytes.empty(), "a control chunk carries bytes");
      continue;
    }
    check(!c.bytes.empty(), "an empty chunk");
    if (c.bytes.front() == kStart) {
      Bytes frame = c.bytes;
      while (i + 1 < out.size() && out[i + 1].gap_ms == kSplitGapMs && !out[i + 1].drop_queued &&
             out[i + 1].new_baud == 0) {
        frame.insert(frame.end(), out[i + 1].bytes.begin(), out[i + 1].bytes.end());
        ++i;
      }
      check_reply_frame(frame, bad_bcc_allowed);
      continue;
    }
    // ACK (after noise), NAK, or noise before a reply.
    const std::uint8_t last = c.bytes.back();
    const std::size_t plain = (last == kAck || last == kNak) ? c.bytes.size() - 1 : c.bytes.size();
    for (std::size_t k = 0; k < plain; ++k) check(!is_control(c.bytes[k]), "noise holds a control byte");
    check(last != kNak || c.bytes.size() == 1, "NAK after noise");
  }
}

void check_round_trip(const LineEvent &ev) {
  check(ev.code.size() == 3, "frame code is not three bytes");
  check(ev.data.size() <= kDataMax, "frame data longer than a command may carry");
  const Bytes again = command_frame(ev.code, ev.data);
  FrameParser p;
  std::vector<LineEvent> events;
  p.feed(again.data(), again.size(), Clock::time_point{}, events);
  check(events.size() == 1 && events[0].kind == LineEvent::Frame && events[0].code == ev.code &&
            events[0].data == ev.data,
        "a parsed frame does not survive framing and parsing again");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::uint8_t *end = data + size;
  const std::uint8_t *p = data;

  FaultPlan faults(7);
  bool bad_bcc_allowed = false;
  std::string line;
  for (; p != end && *p != 0; ++p) {
    if (*p != '\n') {
      line += static_cast<char>(*p);
      if (line.size() > 64) return -1;  // not a rule; keep such inputs out of the corpus
      continue;
    }
    FaultRule rule;
    if (parse_fault_rule(line, rule, nullptr)) {
      faults.add(rule);
      bad_bcc_allowed = bad_bcc_allowed || rule.kind == FaultRule::BadBcc;
    }
    line.clear();
  }
  if (p != end) ++p;  // the zero byte

  Device device;
  Engine engine(device, faults);
  FrameParser shadow;
  std::uint64_t frames_seen = 0;
  Clock::time_point now = Clock::time_point(std::chrono::hours(1000));
  std::vector<OutChunk> out;
  std::vector<LineEvent> events;

  while (end - p >= 2) {
    now += std::chrono::milliseconds(4 * p[0]);
    const std::size_t n = std::min<std::size_t>(p[1], static_cast<std::size_t>(end - p - 2));
    const std::uint8_t *bytes = p + 2;
    p += 2 + n;

    out.clear();
    engine.receive(bytes, n, now, out);
    check_output(out, bad_bcc_allowed);

    events.clear();
    shadow.feed(bytes, n, now, events);
    for (const LineEvent &ev : events) {
      if (ev.kind != LineEvent::Frame) continue;
      ++frames_seen;
      check_round_trip(ev);
    }
    check(engine.frames() == frames_seen, "the engine answered a different number of frames than were sent");
  }
  return 0;
}

#include "frame.hpp"

#include <algorithm>

namespace tolvex::sim {

namespace {
Bytes framed(const Bytes &body) {
  Bytes f(body.size() + kFrameOverhead);
  std::copy(body.begin(), body.end(), f.begin() + kBodyOffset);
  close_frame(f.data(), body.size());
  return f;
}
}  // namespace

Bytes reply_frame(const std::string &code, std::uint16_t status, const Bytes &data) {
  Bytes body;
  body.reserve(data.size() + kBodyHeader);
  for (std::size_t i = 0; i < kCodeSize; ++i) body.push_back(i < code.size() ? static_cast<std::uint8_t>(code[i]) : ' ');
  body.push_back(static_cast<std::uint8_t>(status >> 8));  // at kStatusOffset
  body.push_back(static_cast<std::uint8_t>(status & 0xFF));
  body.push_back(0x00);
  body.insert(body.end(), data.begin(), data.end());
  return framed(body);
}

Bytes command_frame(const std::string &code, const Bytes &data) {
  Bytes body;
  for (std::size_t i = 0; i < kCodeSize; ++i) body.push_back(i < code.size() ? static_cast<std::uint8_t>(code[i]) : ' ');
  body.insert(body.end(), data.begin(), data.end());
  return framed(body);
}

void FrameParser::feed(const std::uint8_t *bytes, std::size_t n, Clock::time_point now,
                       std::vector<LineEvent> &out) {
  if (n == 0) return;
  if (!buf_.empty() && now - last_ > gap_limit_) reset();  // abandoned frame
  last_ = now;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    if (buf_.empty()) {
      switch (b) {
        case kStart: buf_.push_back(b); break;
        case kEnq: out.push_back({LineEvent::Enq, {}, {}}); break;
        case kAck: out.push_back({LineEvent::Ack, {}, {}}); break;
        case kNak: out.push_back({LineEvent::Nak, {}, {}}); break;
        default: break;  // noise between frames
      }
      continue;
    }
    buf_.push_back(b);
    scan(out);
  }
}

// Examines the buffered bytes (buf_[0] is SOH) and completes or refuses the frame.
void FrameParser::scan(std::vector<LineEvent> &out) {
  for (;;) {
    if (buf_.empty()) return;
    bool bad = false;
    std::size_t len = 0;
    if (buf_.size() >= 2 && buf_[1] != 0x00) bad = true;
    if (!bad && buf_.size() >= 4) {
      len = frame_body_length(buf_.data());
      if (len < kCodeSize || len > kDataMax + kCodeSize) bad = true;
    }
    if (!bad && buf_.size() >= 5 && buf_[4] != kStx) bad = true;
    if (!bad && buf_.size() >= 4 && buf_.size() == len + kFrameOverhead) {
      // The whole frame is here: it is answered once, as a frame or as a refusal.
      if (buf_[kBodyOffset + len] != kEtx || bcc(buf_.data() + 1, kBodyOffset + len) != buf_[kBodyOffset + len + 1]) {
        out.push_back({LineEvent::BadFrame, {}, {}});
      } else {
        LineEvent ev;
        ev.kind = LineEvent::Frame;
        const auto body = buf_.begin() + kBodyOffset;
        ev.code.assign(body, body + kCodeSize);
        ev.data.assign(body + kCodeSize, body + static_cast<std::ptrdiff_t>(len));
        out.push_back(std::move(ev));
      }
      reset();
      return;
    }
    if (!bad) return;  // need more bytes
    // Refused at the header. A frame that began among bytes already refused is not answered.
    if (!quiet_) out.push_back({LineEvent::BadFrame, {}, {}});
    const std::size_t refused = buf_.size();
    std::size_t k = 1;
    while (k < refused && buf_[k] != kStart) ++k;
    if (k == refused) {
      reset();
      return;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k));
    quiet_ = true;
  }
}

}  // namespace tolvex::sim

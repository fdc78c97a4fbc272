// Magnetic stripe commands. Every one passes the card under the head: it needs the card
// inside (not at the exit) and a transport that moves.
#include "media_stripe.hpp"

#include <algorithm>

#include "device.hpp"

namespace tolvex::sim {

namespace {

// What each track can hold: track 1 up to 76 characters from 0x20-0x5F, tracks 2 and
// 3 up to 37 and 104 characters from 0x30-0x3F.
bool track_fits(std::size_t track, const std::string &text) {
  static constexpr std::size_t longest[] = {76, 37, 104};
  const char lo = track == 0 ? 0x20 : 0x30, hi = track == 0 ? 0x5F : 0x3F;
  return text.size() <= longest[track] &&
         std::all_of(text.begin(), text.end(), [lo, hi](char c) { return c >= lo && c <= hi; });
}

}  // namespace

std::uint16_t StripeMedium::to_head(Device &d, Step pass, int &busy) const {
  if (!d.inside()) return st::kNoCard;
  if (d.jammed()) return st::kJam;
  busy = d.move_to(Place::Ms) + d.busy(pass);
  return st::kOk;
}

DeviceReply StripeMedium::read_track(Device &d, const Bytes &data) {
  if (data.size() != 1 || data[0] < 1 || data[0] > 3) return fail(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(d, work_of("M31"), busy)) return fail(e);
  const Card &c = *d.card();
  const std::string &track = c.tracks.text[data[0] - 1];
  if (track.empty() || !c.media.ms) return after(busy, fail(st::kMsBlank));
  Bytes out(track.begin(), track.end());
  out.push_back(0x00);
  return after(busy, ok(out));
}

DeviceReply StripeMedium::write_track(Device &d, const Bytes &data) {
  if (data.size() < 1 || data[0] < 1 || data[0] > 3) return fail(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(d, work_of("M33"), busy)) return fail(e);
  Card &c = *d.card();
  const std::size_t k = data[0] - 1u;
  std::string text(data.begin() + 1, std::find(data.begin() + 1, data.end(), 0x00));
  if (!c.media.ms || !track_fits(k, text)) return after(busy, fail(st::kMsWrite));
  c.tracks.text[k] = text;
  return after(busy, ok());
}

// Stacker byte 0 ("4" on the host side) draws by priority.
DeviceReply StripeMedium::write_track_from_stacker(Device &d, const Bytes &data) {
  if (data.size() < 2 || data[1] < 1 || data[1] > 3) return fail(st::kBadFrame);
  DeviceReply r = d.draw(data[0], Place::Ms);
  if (r.status != 0) return r;
  DeviceReply w = write_track(d, Bytes(data.begin() + 1, data.end()));
  w.busy_ms += r.busy_ms;
  return w;
}

// Track 1, 0x00, track 2, 0x00, track 3 (a trailing zero byte is allowed). Tracks left
// out at the end keep what they hold.
DeviceReply StripeMedium::write_all(Device &d, const std::uint8_t *p, std::size_t n, int busy) const {
  Card &c = *d.card();
  std::array<std::string, 3> parts;
  std::size_t count = 0;
  std::size_t i = 0;
  while (count < 3 && i <= n) {
    const std::uint8_t *end = std::find(p + i, p + n, 0x00);
    parts[count++] = std::string(p + i, end);
    i = static_cast<std::size_t>(end - p) + 1;
    if (end == p + n) break;
  }
  for (std::size_t k = 0; k < count; ++k)
    if (!c.media.ms || !track_fits(k, parts[k])) return after(busy, fail(st::kMsWrite));
  for (std::size_t k = 0; k < count; ++k) c.tracks.text[k] = parts[k];
  return after(busy, ok());
}

DeviceReply StripeMedium::write_tracks(Device &d, const Bytes &data) {
  int busy = 0;
  if (const auto e = to_head(d, work_of("M36"), busy)) return fail(e);
  return write_all(d, data.data(), data.size(), busy);
}

DeviceReply StripeMedium::write_tracks_from_stacker(Device &d, const Bytes &data) {
  if (data.empty()) return fail(st::kBadFrame);
  DeviceReply r = d.draw(data[0] == 4 ? 0 : data[0], Place::Ms);
  if (r.status != 0) return r;
  return write_all(d, data.data() + 1, data.size() - 1, r.busy_ms + d.busy(work_of("M37")));
}

// Byte 0 says which tracks hold data (bit 0 track 1 ... bit 2 track 3), then each
// track's text followed by a zero byte.
DeviceReply StripeMedium::read_all_tracks(Device &d, const Bytes &data) {
  if (!data.empty()) return fail(st::kBadFrame);
  int busy = 0;
  if (const auto e = to_head(d, work_of("M35"), busy)) return fail(e);
  const auto &tracks = d.card()->tracks.text;
  if (!d.card()->media.ms || (tracks[0].empty() && tracks[1].empty() && tracks[2].empty()))
    return after(busy, fail(st::kMsBlank));
  Bytes out{0x00};
  for (std::size_t k = 0; k < 3; ++k)
    if (!tracks[k].empty()) out[0] = static_cast<std::uint8_t>(out[0] | (1u << k));
  for (const std::string &track : tracks) {
    out.insert(out.end(), track.begin(), track.end());
    out.push_back(0x00);
  }
  return after(busy, ok(out));
}

DeviceReply StripeMedium::clean_head(Device &d, const Bytes &) { return after(d.busy(work_of("M51")), ok()); }

DeviceReply StripeMedium::set_coercivity(Device &, const Bytes &data) {
  if (data.size() != 1 || (data[0] != '0' && data[0] != '3')) return fail(st::kBadFrame);
  coercivity_ = data[0];
  return ok();
}

DeviceReply StripeMedium::set_insert_mode(Device &, const Bytes &data) {
  if (data.size() != 1) return fail(st::kBadFrame);
  insert_mode_ = data[0];
  return ok();
}

}  // namespace tolvex::sim

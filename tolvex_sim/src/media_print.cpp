// Printing commands: each takes the card inside to the printer.
#include "media_print.hpp"

#include <algorithm>

#include "device.hpp"

namespace tolvex::sim {

namespace {

std::uint16_t to_printer(const Device &d) {
  if (!d.inside()) return st::kNoCard;
  return d.jammed() ? st::kJam : st::kOk;
}

}  // namespace

DeviceReply PrintMedium::print(Device &d, const Bytes &data) {
  if (const auto e = to_printer(d)) return fail(e);
  const int busy = d.move_to(Place::Print) + d.busy(work_of("P10"));
  d.card()->printed.lines.emplace_back(data.begin(), std::find(data.begin(), data.end(), 0x00));
  return after(busy, ok());
}

DeviceReply PrintMedium::erase(Device &d, const Bytes &) {
  if (const auto e = to_printer(d)) return fail(e);
  const int busy = d.move_to(Place::Print) + d.busy(work_of("P20"));
  d.card()->printed.lines.clear();
  return after(busy, ok());
}

DeviceReply PrintMedium::read_printed(Device &d, const Bytes &) {
  if (const auto e = to_printer(d)) return fail(e);
  const int busy = d.move_to(Place::Print) + d.busy(work_of("Z01"));
  const auto &lines = d.card()->printed.lines;
  const auto n = lines.size();
  Bytes out{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)};
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.push_back('/');
    out.insert(out.end(), lines[i].begin(), lines[i].end());
  }
  out.push_back(0x00);
  if (out.size() > 900) {  // keep within one reply frame
    out.resize(899);
    out.push_back(0x00);
  }
  return after(busy, ok(out));
}

}  // namespace tolvex::sim

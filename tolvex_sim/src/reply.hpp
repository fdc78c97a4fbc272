// A command's reply as the device model builds it, and the named ways to build one.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "frame.hpp"

namespace tolvex::sim {

namespace st = ::tolvex::terminal_status;

struct DeviceReply {
  std::uint16_t status = 0;
  Bytes data;
  int busy_ms = 0;   // mechanical time before the reply is ready
  int new_baud = 0;  // > 0: switch the line to this speed after the reply
};

// Done, with these reply bytes.
inline DeviceReply ok(Bytes data = {}) { return DeviceReply{st::kOk, std::move(data), 0, 0}; }
// Refused or failed with this status word, nothing else.
inline DeviceReply fail(std::uint16_t status) { return DeviceReply{status, {}, 0, 0}; }
// The reply after `busy_ms` of mechanical work.
inline DeviceReply after(int busy_ms, DeviceReply r) {
  r.busy_ms = busy_ms;
  return r;
}

class Device;

// One command code and the member of a unit (a card medium) that runs it.
template <class Unit>
struct UnitCommand {
  std::string_view code;
  DeviceReply (Unit::*run)(Device &, const Bytes &);
};

}  // namespace tolvex::sim

// Printing: P10 prints one line (text up to a zero byte), P20 erases the card, Z01 reads
// back the line count (2 bytes, high first) and the lines separated by '/'.
#pragma once

#include <string>
#include <vector>

#include "reply.hpp"

namespace tolvex::sim {

struct PrintedLines {
  std::vector<std::string> lines;
};

class PrintMedium {
 public:
  DeviceReply print(Device &d, const Bytes &data);        // P10
  DeviceReply erase(Device &d, const Bytes &data);        // P20
  DeviceReply read_printed(Device &d, const Bytes &data); // Z01
};

inline constexpr UnitCommand<PrintMedium> kPrintCommands[] = {
    {"P10", &PrintMedium::print},
    {"P20", &PrintMedium::erase},
    {"Z01", &PrintMedium::read_printed},
};

}  // namespace tolvex::sim

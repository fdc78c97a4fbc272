#include "ports.hpp"

#include <algorithm>
#include <fstream>
#include <set>
#include <vector>

#include "serial_ports.hpp"
#include "session.hpp"

namespace tolvex::cli {

namespace {

// The bench's port list offers COM1 to COM4.
constexpr unsigned kComEntries = 4;

std::string padded(const std::string &text, std::size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text + " ";
}

bool is_network_name(const std::string &device) {
  return device.rfind("socket://", 0) == 0 || device.rfind("rfc2217://", 0) == 0;
}

// The COMn above the bench's list that ports.conf sends to a network port, in order.
std::set<unsigned> network_entries_beyond(const std::string &config, unsigned last) {
  std::set<unsigned> numbers;
  std::ifstream in(config);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 3, "COM") != 0) continue;
    std::size_t end = start + 3;
    unsigned n = 0;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9' && n < 1000) n = n * 10 + unsigned(line[end++] - '0');
    if (n > last && n < 1000) numbers.insert(n);
  }
  return numbers;
}

}  // namespace

int list_ports(std::ostream &out, const std::string &root) {
  const std::vector<bench::SerialDevice> devices = bench::detect_serial_devices(root);
  std::size_t width = 0;
  for (const bench::SerialDevice &d : devices) width = std::max(width, d.path.size() + 2);

  if (devices.empty()) {
    out << "No serial devices found.\n";
  } else {
    out << "Serial devices:\n";
    for (const bench::SerialDevice &d : devices) {
      out << "  " << padded(d.path, width) << d.description();
      if (!d.usb_id.empty()) out << ", driver " << d.driver;
      const std::vector<unsigned> numbers = bench::com_numbers_for(d, kComEntries, root);
      for (std::size_t i = 0; i < numbers.size(); ++i) out << (i == 0 ? "; is " : ", ") << "COM" << numbers[i];
      out << "\n";
      for (const std::string &link : d.by_id) out << "    " << link << " -> " << d.path << "\n";
    }
  }

  out << "\nPort names:\n";
  for (unsigned n = 1; n <= kComEntries; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const bench::PortMapping m = bench::resolve_port_name(name);
    out << "  " << name << "  " << m.device << "  (" << bench::mapping_source_text(name, m.source) << ")\n";
  }
  const std::string config = bench::ports_config_file();
  // Terminals on the network may sit on any COMn: those beyond the list are named too.
  if (!config.empty()) {
    for (const unsigned n : network_entries_beyond(config, kComEntries)) {
      const std::string name = "COM" + std::to_string(n);
      const bench::PortMapping m = bench::resolve_port_name(name);
      if (!is_network_name(m.device)) continue;
      out << "  " << name << "  " << m.device << "  (" << bench::mapping_source_text(name, m.source) << ")\n";
    }
  }
  if (!config.empty()) out << "\nCOMn=DEVICE lines are read from " << config << "\n";
  return kExitOk;
}

}  // namespace tolvex::cli

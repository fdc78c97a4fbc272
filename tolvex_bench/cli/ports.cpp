#include "ports.hpp"

#include <algorithm>
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
  if (!config.empty()) out << "\nCOMn=DEVICE lines are read from " << config << "\n";
  return kExitOk;
}

}  // namespace tolvex::cli

// Serial adapters on this machine and the "COMn" names that reach them: what the
// library resolves a name to, the devices sysfs shows, the ports.conf lines the
// bench writes, and what to do when a device refuses access.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolvex::bench {

// The device the library opens for a port name, and where that came from (one of
// TOLVEX_PORT_PATH, _ENVIRONMENT, _CONFIG, _FALLBACK; 0 for a name that is no port).
struct PortMapping {
  std::string device;
  int source = 0;
};

PortMapping resolve_port_name(const std::string &name);

// Words for a mapping's source: "TOLVEX_COM1", "ports.conf", "default", "path".
std::string mapping_source_text(const std::string &name, int source);

// The file the library reads COMn=DEVICE lines from (empty when there is no home).
std::string ports_config_file();

// ports.conf text with the line of COMn replaced by "COMn=DEVICE" (appended when there
// is none); an empty device removes the line. Comments and other lines stay as they are.
std::string with_port_assignment(std::string_view text, unsigned n, std::string_view device);

struct SerialDevice {
  std::string name;                // "ttyUSB0"
  std::string path;                // "/dev/ttyUSB0"
  std::vector<std::string> by_id;  // "/dev/serial/by-id/usb-..."
  std::string driver;              // "ftdi_sio", "serial8250"
  std::string usb_id;              // "0403:6001"; empty for a port that is not on USB
  std::string manufacturer;
  std::string product;

  // "FTDI FT232R USB UART (0403:6001)", or "built-in port (serial8250)".
  std::string description() const;
  // The name that survives replugging: the first by-id link, else the path.
  const std::string &stable_path() const { return by_id.empty() ? path : by_id.front(); }
};

// Serial devices present: every tty of <root>/sys/class/tty with a driver behind its
// device whose port type, where the driver states one, is not 0 (unknown), with the
// <root>/dev/serial/by-id links that point at it and, for USB adapters, the vendor and
// product of the USB device. Paths in the result are without the root. Sorted by name.
std::vector<SerialDevice> detect_serial_devices(const std::string &root);

// Root of the sysfs and /dev trees that are read: $TOLVEX_DEVICE_ROOT (a prepared tree
// for tests), else empty, the machine's own.
std::string device_root_from_environment();

// The n of every COMn, 1 to max_com, that resolves to this device (directly, through
// one of its by-id links, or, without a root, through any other link to it).
std::vector<unsigned> com_numbers_for(const SerialDevice &device, unsigned max_com, const std::string &root);

// For a device that refused access: which group owns it and that membership needs a
// new login. Empty when the device cannot be examined.
std::string permission_hint(const std::string &device);

}  // namespace tolvex::bench

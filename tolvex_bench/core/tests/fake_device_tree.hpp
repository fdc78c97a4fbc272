// A made-up sysfs and /dev tree for the adapter listing: two USB adapters with by-id
// links, one built-in port with hardware, and ttys that must not be listed (a port slot
// of unknown type, a device without a driver, a virtual console). Removed on destruction.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tolvex::bench::testing {

class FakeDeviceTree {
 public:
  FakeDeviceTree() {
    char dir_template[] = "/tmp/tolvex_devices_XXXXXX";
    const char *made = ::mkdtemp(dir_template);
    root_ = made != nullptr ? made : "";
    if (root_.empty()) return;
    namespace fs = std::filesystem;
    const fs::path sys = fs::path(root_) / "sys";
    const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1";
    usb_device(usb / "1-2", "0403", "6001", "FTDI", "FT232R USB UART");
    usb_device(usb / "1-3", "2341", "0043", "Arduino (www.arduino.cc)", "");
    tty("ttyUSB0", usb / "1-2/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio", nullptr);
    tty("ttyACM0", usb / "1-3/1-3:1.0", "usb/drivers/cdc_acm", nullptr);
    // A built-in port as newer kernels show it: serial-base port and controller, then the hardware.
    tty("ttyS0", sys / "devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base/drivers/port", "4");
    driver(sys / "devices/pnp0/00:01/00:01:0", "serial-base/drivers/ctrl");
    driver(sys / "devices/pnp0/00:01", "pnp/drivers/serial");
    tty("ttyS1", sys / "devices/platform/serial8250", "platform/drivers/serial8250", "0");
    tty("ttyS2", sys / "devices/platform/nodriver", nullptr, nullptr);
    fs::create_directories(sys / "class/tty/tty1");
    const fs::path by_id = fs::path(root_) / "dev/serial/by-id";
    fs::create_directories(by_id);
    fs::create_symlink("../../ttyUSB0", by_id / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    fs::create_symlink("../../ttyACM0", by_id / "usb-Arduino__www.arduino.cc__0043_7563-if00");
  }
  ~FakeDeviceTree() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  FakeDeviceTree(const FakeDeviceTree &) = delete;
  FakeDeviceTree &operator=(const FakeDeviceTree &) = delete;

  const std::string &root() const { return root_; }

 private:
  static void write(const std::filesystem::path &file, const std::string &text) { std::ofstream(file) << text << "\n"; }

  static void usb_device(const std::filesystem::path &dir, const char *vendor, const char *product_id,
                         const char *manufacturer, const char *product) {
    std::filesystem::create_directories(dir);
    write(dir / "idVendor", vendor);
    write(dir / "idProduct", product_id);
    write(dir / "manufacturer", manufacturer);
    if (product[0] != '\0') write(dir / "product", product);
  }

  void driver(const std::filesystem::path &device, const char *driver) {
    const std::filesystem::path bus = std::filesystem::path(root_) / "sys/bus" / driver;
    std::filesystem::create_directories(bus);
    std::filesystem::create_directory_symlink(bus, device / "driver");
  }

  void tty(const char *name, const std::filesystem::path &device, const char *driver, const char *type) {
    namespace fs = std::filesystem;
    const fs::path sys = fs::path(root_) / "sys";
    fs::create_directories(device);
    if (driver != nullptr) this->driver(device, driver);
    const fs::path cls = sys / "class/tty" / name;
    fs::create_directories(cls);
    fs::create_directory_symlink(device, cls / "device");
    if (type != nullptr) write(cls / "type", type);
  }

  std::string root_;
};

}  // namespace tolvex::bench::testing

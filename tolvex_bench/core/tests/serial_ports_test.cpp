#include "serial_ports.hpp"

#include <gtest/gtest.h>
#include <grp.h>
#include <unistd.h>

#include "fake_device_tree.hpp"

namespace tolvex::bench {
namespace {

TEST(SerialPorts, DetectsAdaptersAndSkipsTtysWithoutHardware) {
  testing::FakeDeviceTree tree;
  ASSERT_FALSE(tree.root().empty());
  const std::vector<SerialDevice> devices = detect_serial_devices(tree.root());
  ASSERT_EQ(devices.size(), 3u);  // not ttyS1 (type unknown), ttyS2 (no driver), tty1 (no device)

  EXPECT_EQ(devices[0].path, "/dev/ttyACM0");
  EXPECT_EQ(devices[0].usb_id, "2341:0043");
  EXPECT_EQ(devices[0].description(), "Arduino (www.arduino.cc) (2341:0043)");
  EXPECT_EQ(devices[0].stable_path(), "/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_7563-if00");

  EXPECT_EQ(devices[1].path, "/dev/ttyS0");
  EXPECT_EQ(devices[1].description(), "built-in port (serial)");
  EXPECT_EQ(devices[1].stable_path(), "/dev/ttyS0");  // no by-id link

  EXPECT_EQ(devices[2].name, "ttyUSB0");
  EXPECT_EQ(devices[2].driver, "ftdi_sio");
  EXPECT_EQ(devices[2].description(), "FTDI FT232R USB UART (0403:6001)");
  EXPECT_EQ(devices[2].by_id,
            std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"});

  EXPECT_TRUE(detect_serial_devices(tree.root() + "/nothing-here").empty());
}

TEST(SerialPorts, AssignmentReplacesAppendsAndRemovesOneLine) {
  struct Case {
    const char *text;
    unsigned n;
    const char *device;
    const char *expected;
  } cases[] = {
      {"", 1, "/dev/ttyUSB0", "COM1=/dev/ttyUSB0\n"},
      {"# mine\nCOM2=/dev/ttyS1", 1, "/dev/ttyUSB0", "# mine\nCOM2=/dev/ttyS1\nCOM1=/dev/ttyUSB0\n"},
      {"# mine\n COM1 = /dev/old\nCOM10=/dev/x\n", 1, "/dev/new", "# mine\nCOM1=/dev/new\nCOM10=/dev/x\n"},
      {"COM1=/dev/a\nbad line\nCOM1=/dev/b\n", 1, "/dev/c", "COM1=/dev/c\nbad line\n"},
      {"#COM1=/dev/kept\nCOM1=/dev/a\n", 1, "", "#COM1=/dev/kept\n"},
  };
  for (const Case &c : cases) EXPECT_EQ(with_port_assignment(c.text, c.n, c.device), c.expected) << c.text;
}

TEST(SerialPorts, PermissionHintNamesTheOwningGroup) {
  char path[] = "/tmp/tolvex_perm_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const group *g = ::getgrgid(::getegid());
  ASSERT_NE(g, nullptr);
  const std::string hint = permission_hint(path);
  EXPECT_NE(hint.find(std::string("group \"") + g->gr_name + "\""), std::string::npos) << hint;
  EXPECT_NE(hint.find("new login"), std::string::npos) << hint;
  ::unlink(path);
  EXPECT_EQ(permission_hint(path), "");
}

}  // namespace
}  // namespace tolvex::bench

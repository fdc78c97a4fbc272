// Port names on Windows: the system's own COMn names, reached through \\.\COMn.
#include <gtest/gtest.h>

#include <string>

#include "port_names.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

TEST(PortNamesWin32, ComNamesOpenThroughTheDeviceNamespace) {
  struct Case {
    const char *name;
    const char *device;  // nullptr: refused
  };
  const Case cases[] = {
      {"COM1", "\\\\.\\COM1"},       {"COM7", "\\\\.\\COM7"},   {"COM10", "\\\\.\\COM10"},
      {"COM256", "\\\\.\\COM256"},   {"\\\\.\\COM12", "\\\\.\\COM12"},
      {"rfc2217://10.0.0.7:4001", "rfc2217://10.0.0.7:4001"},
      {"COM0", nullptr},             {"COM07", nullptr},        {"com3", nullptr},
      {"COM", nullptr},              {"/dev/ttyS0", nullptr},   {"", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> device = device_path_for(c.name);
    if (c.device == nullptr) {
      EXPECT_FALSE(device.has_value());
    } else {
      ASSERT_TRUE(device.has_value());
      EXPECT_EQ(*device, c.device);
    }
  }
  // The C export hands over the same device.
  char buffer[32];
  EXPECT_EQ(tolvex_resolve_port("COM10", buffer, sizeof buffer), TOLVEX_PORT_FALLBACK);
  EXPECT_STREQ(buffer, "\\\\.\\COM10");
  EXPECT_EQ(tolvex_resolve_port("LPT1", buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace tolvex

// `tolvex_cli ports` against a made-up sysfs and /dev tree.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_device_tree.hpp"
#include "ports.hpp"

namespace {

namespace fs = std::filesystem;

class CliPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tree_.root().empty());
    config_ = fs::path(tree_.root()) / "config";
    fs::create_directories(config_ / "tolvex");
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    for (const char *v : {"TOLVEX_COM1", "TOLVEX_COM2", "TOLVEX_COM3", "TOLVEX_COM4"}) ::unsetenv(v);
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  tolvex::bench::testing::FakeDeviceTree tree_;
  fs::path config_;
};

TEST_F(CliPorts, ListsAdaptersTheirLinksAndComNames) {
  std::ofstream(config_ / "tolvex/ports.conf")
      << "COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\nCOM3=/dev/ttyUSB0\n";
  ::setenv("TOLVEX_COM2", "/dev/ttyACM0", 1);
  std::ostringstream out;
  EXPECT_EQ(tolvex::cli::list_ports(out, tree_.root()), 0);
  ::unsetenv("TOLVEX_COM2");
  EXPECT_EQ(out.str(),
            "Serial devices:\n"
            "  /dev/ttyACM0  Arduino (www.arduino.cc) (2341:0043), driver cdc_acm; is COM2\n"
            "    /dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_7563-if00 -> /dev/ttyACM0\n"
            "  /dev/ttyS0    built-in port (serial)\n"
            "  /dev/ttyUSB0  FTDI FT232R USB UART (0403:6001), driver ftdi_sio; is COM1, COM3\n"
            "    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 -> /dev/ttyUSB0\n"
            "\n"
            "Port names:\n"
            "  COM1  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  (ports.conf)\n"
            "  COM2  /dev/ttyACM0  (TOLVEX_COM2)\n"
            "  COM3  /dev/ttyUSB0  (ports.conf)\n"
            "  COM4  /dev/ttyS3  (default)\n"
            "\n"
            "COMn=DEVICE lines are read from " +
                (config_ / "tolvex/ports.conf").string() + "\n");
}

// Network ports of ports.conf are listed, those beyond COM4 too; devices beyond are not.
TEST_F(CliPorts, ListsNetworkEntriesOfPortsConf) {
  std::ofstream(config_ / "tolvex/ports.conf") << "COM2=rfc2217://10.0.0.7:4001\nCOM7=/dev/ttyUSB4\n"
                                                  "COM12 = socket://[::1]:4000\nCOM9=socket://bad\n";
  std::ostringstream out;
  EXPECT_EQ(tolvex::cli::list_ports(out, tree_.root() + "/empty"), 0);
  EXPECT_NE(out.str().find("Port names:\n"
                           "  COM1  /dev/ttyS0  (default)\n"
                           "  COM2  rfc2217://10.0.0.7:4001  (ports.conf)\n"
                           "  COM3  /dev/ttyS2  (default)\n"
                           "  COM4  /dev/ttyS3  (default)\n"
                           "  COM12  socket://[::1]:4000  (ports.conf)\n"
                           "\nCOMn=DEVICE"),
            std::string::npos)
      << out.str();
}

// The program reads the tree named by TOLVEX_DEVICE_ROOT; no devices is no failure, and
// a bad ports.conf line is named once on standard error.
TEST_F(CliPorts, ProgramSaysWhenThereAreNoneAndExitsZero) {
  std::ofstream(config_ / "tolvex/ports.conf") << "COM1=/dev/ttyUSB0\nCOM2 /dev/ttyUSB1\n";
  const std::string command = "TOLVEX_DEVICE_ROOT='" + tree_.root() + "/empty' " TOLVEX_CLI_PATH " ports 2>&1";
  FILE *p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int raw = pclose(p);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << out;
  EXPECT_NE(out.find("No serial devices found.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  COM1  /dev/ttyUSB0  (ports.conf)\n  COM2  /dev/ttyS1  (default)\n"), std::string::npos) << out;
  const std::size_t first = out.find("line 2: ");
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find("line 2: ", first + 1), std::string::npos) << out;  // once, not per lookup
}

}  // namespace

// Port-name resolution: the order environment, ports.conf, /dev/ttyS<n-1>, and how
// ports.conf is read, against a configuration folder of the test's own.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "port_names.hpp"
#include "tolvex/tolvex.h"

namespace tolvex {
namespace {

namespace fs = std::filesystem;

// Each test sees a configuration folder of its own, never the user's ports.conf.
class PortResolver : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir_template[] = "/tmp/tolvex_ports_XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    dir_ = dir_template;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    for (const char *v : {"TOLVEX_COM1", "TOLVEX_COM2", "TOLVEX_COM3"}) ::unsetenv(v);
    tolvex_set_message_handler(
        [](const char *text, void *ctx) { static_cast<std::vector<std::string> *>(ctx)->push_back(text); },
        &messages_);
  }
  void TearDown() override {
    tolvex_set_message_handler(nullptr, nullptr);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }
  void write_config(const std::string &text) {
    fs::create_directories(fs::path(dir_) / "tolvex");
    std::ofstream(fs::path(dir_) / "tolvex" / "ports.conf", std::ios::binary) << text;
  }

  std::string dir_;
  std::vector<std::string> messages_;
};

TEST_F(PortResolver, PathsComNamesAndRejects) {
  EXPECT_EQ(device_path_for("/dev/ttyUSB0"), "/dev/ttyUSB0");
  const std::string long_path = "/dev/serial/by-id/usb-some-adapter-with-a-very-long-name-if00-port0";
  EXPECT_EQ(device_path_for(long_path.c_str()), long_path);

  ::unsetenv("TOLVEX_COM1");
  ::unsetenv("TOLVEX_COM12");
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");
  EXPECT_EQ(device_path_for("COM12"), "/dev/ttyS11");
  ::setenv("TOLVEX_COM1", "/dev/ttyUSB3", 1);
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyUSB3");
  EXPECT_EQ(device_path_for("COM12"), "/dev/ttyS11");  // only its own variable counts
  ::setenv("TOLVEX_COM1", "", 1);
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");  // empty value: not set
  ::unsetenv("TOLVEX_COM1");

  for (const char *bad : {"", "COM", "COM0", "COM01", "COMX", "COM1x", "com1", "ttyS0", "LPT1", "COM-1"}) {
    EXPECT_FALSE(device_path_for(bad).has_value()) << '"' << bad << '"';
  }
  EXPECT_FALSE(device_path_for(nullptr).has_value());
}

TEST_F(PortResolver, ConfigLinesCommentsAndProblems) {
  const PortsConfig c = parse_ports_config(
      "# bench 3\n"
      "\n"
      "COM1=/dev/serial/by-id/usb-Adapter_A1-if00-port0\n"
      "  COM2 = /dev/ttyUSB1 \r\n"
      "COM3\n"
      "com4=/dev/ttyUSB2\n"
      "COM5=ttyUSB3\n"
      "COM1=/dev/ttyUSB9\n"
      "COM6=\n"
      "COM07=/dev/ttyUSB4\n"
      "COM12=/dev/ttyACM0");  // no line break after the last line
  EXPECT_EQ(c.devices, (std::map<unsigned, std::string>{{1, "/dev/serial/by-id/usb-Adapter_A1-if00-port0"},
                                                          {2, "/dev/ttyUSB1"},
                                                          {12, "/dev/ttyACM0"}}));
  ASSERT_EQ(c.problems.size(), 6u);
  const char *lines[] = {"line 5: ", "line 6: ", "line 7: ", "line 8: ", "line 9: ", "line 10: "};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(c.problems[i].rfind(lines[i], 0), 0u) << c.problems[i];

  EXPECT_TRUE(parse_ports_config("").devices.empty());
  EXPECT_TRUE(parse_ports_config("\n\n# only comments\n").problems.empty());
}

TEST_F(PortResolver, NetworkPortsAsNamesAndConfigLines) {
  const PortsConfig c = parse_ports_config(
      "COM2=rfc2217://10.0.0.7:4001\n"
      "COM3 = socket://[::1]:7000\n"
      "COM4=socket://kiosk-4\n"
      "COM5=telnet://10.0.0.7:23\n"
      "COM2=socket://10.0.0.8:1\n");
  EXPECT_EQ(c.devices, (std::map<unsigned, std::string>{{2, "rfc2217://10.0.0.7:4001"}, {3, "socket://[::1]:7000"}}));
  ASSERT_EQ(c.problems.size(), 3u);
  EXPECT_NE(c.problems[0].find("line 3: "), std::string::npos) << c.problems[0];
  EXPECT_NE(c.problems[1].find("line 4: "), std::string::npos) << c.problems[1];
  EXPECT_NE(c.problems[2].find("already assigned"), std::string::npos) << c.problems[2];

  write_config("COM2=rfc2217://10.0.0.7:4001\n");
  EXPECT_EQ(device_path_for("COM2"), "rfc2217://10.0.0.7:4001");
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");  // no entry: nothing changes
  EXPECT_EQ(device_path_for("socket://127.0.0.1:4001"), "socket://127.0.0.1:4001");
}

TEST_F(PortResolver, EnvironmentThenConfigThenTtyS) {
  // No file at all: every COMn is its ttyS.
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyS0");
  write_config("COM1=/dev/ttyUSB0\nCOM2=/dev/ttyUSB1\n");
  ::setenv("TOLVEX_COM2", "/dev/ttyACM5", 1);
  struct Case {
    const char *name;
    const char *device;
    PortSource source;
  } cases[] = {
      {"COM1", "/dev/ttyUSB0", PortSource::config},
      {"COM2", "/dev/ttyACM5", PortSource::environment},
      {"COM3", "/dev/ttyS2", PortSource::fallback},
      {"/dev/ttyUSB7", "/dev/ttyUSB7", PortSource::path},
  };
  for (const Case &c : cases) {
    const auto r = resolve_port(c.name);
    ASSERT_TRUE(r.has_value()) << c.name;
    EXPECT_EQ(r->device, c.device) << c.name;
    EXPECT_EQ(r->source, c.source) << c.name;
  }
  ::setenv("TOLVEX_COM2", "", 1);  // empty: not set, the file counts again
  EXPECT_EQ(device_path_for("COM2"), "/dev/ttyUSB1");
  for (const char *bad : {"", "COM", "COM0", "COM01", "COM1x", "com1", "ttyUSB0"}) {
    EXPECT_FALSE(resolve_port(bad).has_value()) << bad;
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PortResolver, ConfigPathFollowsXdgElseHome) {
  EXPECT_EQ(ports_config_path(), dir_ + "/tolvex/ports.conf");
  const char *home = std::getenv("HOME");
  const std::string saved_home = home != nullptr ? home : "";
  ::setenv("HOME", "/home/bench", 1);
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
  EXPECT_EQ(ports_config_path(), "/home/bench/.config/tolvex/ports.conf");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ports_config_path(), "/home/bench/.config/tolvex/ports.conf");
  ::setenv("HOME", saved_home.c_str(), 1);
}

TEST_F(PortResolver, BadLinesAreReportedOnceAndIgnored) {
  write_config("COM1=/dev/ttyUSB0\nCOM2 /dev/ttyUSB1\n");
  EXPECT_EQ(device_path_for("COM2"), "/dev/ttyS1");
  EXPECT_EQ(device_path_for("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(device_path_for("COM2"), "/dev/ttyS1");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("ports.conf: line 2: "), std::string::npos) << messages_[0];
}

TEST_F(PortResolver, CExportFillsTheBufferAndSaysWhereFrom) {
  write_config("COM3=/dev/ttyUSB3\n");
  char buffer[64];
  EXPECT_EQ(tolvex_resolve_port("COM3", buffer, sizeof buffer), TOLVEX_PORT_CONFIG);
  EXPECT_STREQ(buffer, "/dev/ttyUSB3");
  EXPECT_EQ(tolvex_resolve_port("COM4", buffer, sizeof buffer), TOLVEX_PORT_FALLBACK);
  EXPECT_STREQ(buffer, "/dev/ttyS3");
  EXPECT_EQ(tolvex_resolve_port(nullptr, buffer, sizeof buffer), TOLVEX_PORT_CONFIG_FILE);
  EXPECT_EQ(std::string(buffer), dir_ + "/tolvex/ports.conf");
  EXPECT_EQ(tolvex_resolve_port("LPT1", buffer, sizeof buffer), 0);

  // Exactly the text and its terminator fit; one byte less is refused with an empty text.
  char exact[sizeof "/dev/ttyUSB3"];
  EXPECT_EQ(tolvex_resolve_port("COM3", exact, sizeof exact), TOLVEX_PORT_CONFIG);
  EXPECT_EQ(tolvex_resolve_port("COM3", exact, sizeof exact - 1), -1);
  EXPECT_STREQ(exact, "");
  EXPECT_EQ(tolvex_resolve_port("COM3", nullptr, 0), -1);
}

}  // namespace
}  // namespace tolvex

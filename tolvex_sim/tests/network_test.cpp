// The library reaching the terminal over the network: socket:// against the simulator
// serving TCP (in process, and the program with --listen), rfc2217:// through ser2net
// serving the simulator's pseudo-terminal, and the failures of opening such a port.
#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outcome.hpp"
#include "tolvex_sim/simulator.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

using tolvex::sim::test::Outcome;
using tolvex::sim::test::run;
using tolvex::sim::test::wait_outcome;

// A TCP port nobody listens on now (the kernel's choice, released again).
int free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// A plain client: true once the far side has closed the connection within the limit.
bool closed_by_peer(int port, std::chrono::milliseconds limit) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  bool closed = false;
  if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
    pollfd p{s, POLLIN, 0};
    char c = 0;
    closed = ::poll(&p, 1, static_cast<int>(limit.count())) == 1 && ::recv(s, &c, 1, 0) <= 0;
  }
  ::close(s);
  return closed;
}

// A program of the test's own, ended with SIGKILL unless it ended before.
struct Child {
  pid_t pid = -1;
  int out = -1;

  explicit Child(const std::vector<std::string> &argv) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 1);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, 2);
      ::close(fds[0]);
      std::vector<char *> args;
      for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out = fds[0];
  }
  ~Child() {
    kill();
    if (out >= 0) ::close(out);
  }
  void kill() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  // The first `lines` lines of standard output, or what came within 5 s.
  std::vector<std::string> read_lines(std::size_t lines) {
    std::string text;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) < lines &&
           std::chrono::steady_clock::now() < until) {
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[512];
      const ssize_t n = ::read(out, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    std::vector<std::string> result;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t nl = text.find('\n', at);
      if (nl == std::string::npos) break;
      result.push_back(text.substr(at, nl - at));
      at = nl + 1;
    }
    return result;
  }
};

// The in-process simulator serving TCP on a free loopback port.
class NetworkPort : public ::testing::Test {
 protected:
  void SetUp() override {
    tolvex::sim::Options o;
    o.listen = "127.0.0.1:0";
    sim_ = std::make_unique<tolvex::sim::Simulator>(std::move(o));
    std::string err;
    ASSERT_TRUE(sim_->start(&err)) << err;
    name_ = sim_->path();
    ASSERT_EQ(name_.rfind("socket://127.0.0.1:", 0), 0u) << name_;
    port_ = std::stoi(name_.substr(name_.rfind(':') + 1));
  }
  void TearDown() override {
    DisablePort();
    sim_.reset();
  }
  std::unique_ptr<tolvex::sim::Simulator> sim_;
  std::string name_;
  int port_ = 0;
};

TEST_F(NetworkPort, CommandsNegativeAnswersAndStopOverRawTcp) {
  ASSERT_EQ(EnablePort(name_.c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  Outcome o = run([] { return model(); });
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(std::string(o.data.begin(), std::find(o.data.begin(), o.data.end(), 0)), "TOLVEX-SIM TVX-100");

  ASSERT_TRUE(sim_->add_fault("C11:status=0x2004"));
  o = run([] { return model(); });
  EXPECT_EQ(o.result, 2000);
  EXPECT_EQ(o.data, (Bytes{0x20, 0x04}));
  sim_->clear_faults();

  // A reply held back is given up with exe_stop.
  ASSERT_TRUE(sim_->add_fault("C11:late=1500"));
  const int prc = model();
  std::this_thread::sleep_for(200ms);
  exe_stop();
  EXPECT_EQ(wait_outcome(prc).result, 102);
  sim_->clear_faults();
  std::this_thread::sleep_for(1500ms);  // the late reply arrives and is dropped
  EXPECT_EQ(run([] { return model(); }).result, 0);
}

TEST_F(NetworkPort, OneClientAtATimeAndTheTerminalOutlivesIt) {
  ASSERT_EQ(EnablePort(name_.c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  ASSERT_EQ(run([] { return card_stk_mov(0, 3); }).result, 0);
  // A second client is turned away while the first is connected.
  EXPECT_TRUE(closed_by_peer(port_, 2000ms));
  EXPECT_EQ(run([] { return model(); }).result, 0);

  // The client goes away and a new one comes: the card drawn before is still there.
  DisablePort();
  ASSERT_EQ(EnablePort(name_.c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  EXPECT_TRUE(sim_->card_inside());
  EXPECT_EQ(run([] { return model(); }).result, 0);
}

TEST(NetworkPortOpen, RefusedUnknownAndMalformedNamesFailWithTheReason) {
  struct Case {
    std::string name;
    std::vector<std::string> words;  // all in tolvex_port_error()
  };
  const std::string port = std::to_string(free_port());
  const Case cases[] = {
      {"socket://127.0.0.1:" + port, {"127.0.0.1:" + port, "refused"}},
      {"rfc2217://127.0.0.1:" + port, {"127.0.0.1:" + port, "refused"}},
      {"socket://no-such-host.invalid:4001", {"no-such-host.invalid", "4001", "unknown host"}},
      {"socket://127.0.0.1", {"HOST:PORT"}},
      {"rfc2217://[::1:4001", {"[ADDRESS]:PORT"}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(EnablePort(c.name.c_str(), 8, 0, 0, 9600, 0), 0) << c.name;
    const std::string error = tolvex_port_error();
    for (const std::string &w : c.words) EXPECT_NE(error.find(w), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(run([] { return model(); }).result, TOLVEX_TX_ERROR) << c.name;
  }
}

// A COM port server of the test's own that answers every setting with the value it
// was given in its table, or refuses the option outright.
TEST(NetworkPortOpen, SettingsTheServerRefusesFailTheOpen) {
  struct Case {
    Bytes answer;  // sent once the client's first bytes are in
    std::vector<std::string> words;
  };
  const std::uint8_t IAC = 255, SB = 250, SE = 240;
  const Bytes settings = {IAC, 253, 44,                                       // DO COM-PORT-OPTION
                          IAC, SB, 44, 101, 0, 0, 0x25, 0x80, IAC, SE,        // 9600
                          IAC, SB, 44, 102, 8, IAC, SE, IAC, SB, 44, 103, 1, IAC, SE,
                          IAC, SB, 44, 104, 1, IAC, SE};
  const Case cases[] = {
      {settings, {"baud rate 19200 refused", "9600"}},
      {{IAC, 254, 44}, {"refuses the COM port option"}},
  };
  for (const Case &c : cases) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    std::thread server([&] {
      const int s = ::accept(listener, nullptr, nullptr);
      char buf[256];
      (void)::recv(s, buf, sizeof buf, 0);
      (void)::send(s, c.answer.data(), c.answer.size(), MSG_NOSIGNAL);
      pollfd p{s, POLLIN, 0};
      while (::poll(&p, 1, 3000) == 1 && ::recv(s, buf, sizeof buf, 0) > 0) {
      }
      ::close(s);
    });
    const std::string name = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    EXPECT_EQ(EnablePort(name.c_str(), 8, 0, 0, 19200, 0), 0);
    const std::string error = tolvex_port_error();
    for (const std::string &w : c.words) EXPECT_NE(error.find(w), std::string::npos) << error;
    server.join();
    ::close(listener);
  }
}

#ifdef TOLVEX_SIM_PROGRAM
TEST(NetworkProgram, ListensAndAKilledSimulatorEndsTheCommandAtOnce) {
  Child sim({TOLVEX_SIM_PROGRAM, "--instant", "--listen", "127.0.0.1:0", "--fault", "C11:late=5000#2"});
  const std::vector<std::string> lines = sim.read_lines(1);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].rfind("socket://127.0.0.1:", 0), 0u) << lines[0];
  ASSERT_EQ(EnablePort(lines[0].c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  EXPECT_EQ(run([] { return model(); }).result, 0);
  // The second "C11" waits 5 s for its reply; the program killed meanwhile is a hang-up,
  // not a time-out.
  const int prc = model();
  std::this_thread::sleep_for(300ms);
  sim.kill();
  EXPECT_EQ(wait_outcome(prc).result, TOLVEX_TX_ERROR);
  DisablePort();
}
#endif

// ser2net on the simulator's pseudo-terminal, speaking the COM port option on a free port.
class Rfc2217 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/usr/sbin/ser2net", X_OK) != 0 && ::access("/usr/bin/ser2net", X_OK) != 0) {
      GTEST_SKIP() << "ser2net is not installed";
    }
    tolvex::sim::Options o;
    o.on_bytes = [this](bool from_host, const std::uint8_t *b, std::size_t n) {
      if (!from_host) return;
      std::lock_guard<std::mutex> guard(lock_);
      received_.insert(received_.end(), b, b + n);
    };
    sim_ = std::make_unique<tolvex::sim::Simulator>(std::move(o));
    std::string err;
    ASSERT_TRUE(sim_->start(&err)) << err;
    port_ = free_port();
    server_ = std::make_unique<Child>(std::vector<std::string>{
        "ser2net", "-n", "-u", "-Y", "connection: &c0",
        "-Y", "  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(port_),
        "-Y", "  connector: serialdev," + sim_->path() + ",9600n81,local"});
    name_ = "rfc2217://127.0.0.1:" + std::to_string(port_);
    // Listening once a connection is taken: try for a while.
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (EnablePort(name_.c_str(), 8, 0, 0, 38400, 0) != 1) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << tolvex_port_error();
      std::this_thread::sleep_for(50ms);
    }
  }
  void TearDown() override {
    DisablePort();
    server_.reset();
    sim_.reset();
  }
  Bytes received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
  }

  std::unique_ptr<tolvex::sim::Simulator> sim_;
  std::unique_ptr<Child> server_;
  int port_ = 0;
  std::string name_;
  std::mutex lock_;
  Bytes received_;
};

TEST_F(Rfc2217, LineSettingsReachTheFarPort) {
  struct Case {
    std::uint8_t size, parity, stop;
    std::uint32_t baud;
    speed_t speed;
  };
  const Case cases[] = {
      {7, 2, 2, 19200, B19200},
      {8, 1, 0, 57600, B57600},
      {8, 0, 0, 9600, B9600},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(EnablePort(name_.c_str(), c.size, c.parity, c.stop, c.baud, 0), 1) << tolvex_port_error();
    const int fd = ::open(sim_->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    // A pseudo-terminal keeps 8 bits without parity whatever it is told; the server's
    // answers for those were checked by EnablePort.
    EXPECT_EQ(::cfgetospeed(&tio), c.speed) << c.baud;
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.stop == 2) << c.baud;
  }
  // The simulated terminal answers whatever the pseudo-terminal's settings.
  EXPECT_EQ(run([] { return model(); }).result, 0);
}

TEST_F(Rfc2217, KeysWithFfBytesArriveWhole) {
  const std::uint8_t keys[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0xFF, 0xFF, 0x34, 0xFF, 0xFF};
  EXPECT_EQ(run([&] { return mi_cng_tm_key(1, keys); }).result, 0);
  const Bytes got = received();
  const Bytes want(keys, keys + 12);
  EXPECT_NE(std::search(got.begin(), got.end(), want.begin(), want.end()), got.end());
  // No doubled byte reached the terminal: the frame holds the keys exactly once.
  const Bytes doubled = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x12};
  EXPECT_EQ(std::search(got.begin(), got.end(), doubled.begin(), doubled.end()), got.end());
}

TEST_F(Rfc2217, ServerEndedMidCommandGivesTransmissionError) {
  ASSERT_TRUE(sim_->add_fault("C11:late=5000"));
  const int prc = model();
  std::this_thread::sleep_for(300ms);
  server_->kill();
  EXPECT_EQ(wait_outcome(prc).result, TOLVEX_TX_ERROR);
}

}  // namespace

// Opening, refusing, losing and closing the serial port.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "pty_peer.hpp"

namespace tolvex::test {
namespace {

TEST(Port, FailuresSayWhy) {
  struct Case {
    const char *name;
    std::uint32_t baud;
    std::uint8_t byte_size, parity, stop_bits;
    const char *text;
  };
  const Case cases[] = {
      {"LPT1", 9600, 8, 0, 0, "unknown port name"},
      {"", 9600, 8, 0, 0, "unknown port name"},
      {"/dev/tolvex-no-such-device", 9600, 8, 0, 0, "/dev/tolvex-no-such-device: No such file or directory"},
      {"/dev/null", 9600, 8, 0, 0, "/dev/null: "},
      {"/dev/ttyS0", 0, 8, 0, 0, "baud rate 0 not supported"},
      {"/dev/ttyS0", 12345, 8, 0, 0, "baud rate 12345 not supported"},
      {"/dev/ttyS0", 9600, 9, 0, 0, "byte size 9"},
      {"/dev/ttyS0", 9600, 8, 5, 0, "parity 5"},
      {"/dev/ttyS0", 9600, 8, 0, 3, "stop bits"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(EnablePort(c.name, c.byte_size, c.parity, c.stop_bits, c.baud, 0), 0) << c.name;
    EXPECT_NE(std::string(tolvex_port_error()).find(c.text), std::string::npos)
        << c.name << ": " << tolvex_port_error();
  }
  EXPECT_EQ(EnablePort(nullptr, 8, 0, 0, 9600, 0), 0);

  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  EXPECT_STREQ(tolvex_port_error(), "");
  EXPECT_EQ(DisablePort(), 1);
  EXPECT_EQ(DisablePort(), 1);
}

// The text one thread holds is not rewritten by another thread's failing EnablePort.
TEST(Port, ErrorTextIsStablePerThread) {
  ASSERT_EQ(EnablePort("LPT1", 8, 0, 0, 9600, 0), 0);
  const char *mine = tolvex_port_error();
  const std::string expected = mine;
  std::atomic<bool> done{false};
  std::thread other([&] {
    for (int i = 0; i < 2000; ++i) EnablePort("/dev/ttyS0", 8, 0, 0, 12345, 0);
    done = true;
  });
  bool stable = true;
  while (!done) stable = stable && expected == mine;
  other.join();
  EXPECT_TRUE(stable);
  EXPECT_NE(expected.find("unknown port name"), std::string::npos);
  EXPECT_NE(std::string(tolvex_port_error()).find("baud rate 12345"), std::string::npos);
}

TEST(Port, EveryLineSettingOpens) {
  PtyPeer peer;
  for (std::uint8_t parity = 0; parity <= 4; ++parity) {
    for (std::uint8_t flow = 0; flow <= 4; ++flow) {
      EXPECT_EQ(EnablePort(peer.slave_path().c_str(), 8, parity, 2, 57600, flow), 1)
          << int(parity) << "/" << int(flow) << ": " << tolvex_port_error();
    }
  }
  EXPECT_EQ(EnablePort(peer.slave_path().c_str(), 5, 0, 1, 1200, 0), 1) << tolvex_port_error();
  EXPECT_EQ(EnablePort(peer.slave_path().c_str(), 7, 2, 0, 115200, 0), 1) << tolvex_port_error();
  DisablePort();
}

// What the arguments make of the line. A pseudo-terminal keeps 8 data bits and clears
// PARENB by itself, so parity shows in PARODD, CMSPAR and input parity checking. Each
// EnablePort here reopens the open port, which must take the new settings.
TEST(Port, LineSettingsFollowTheArguments) {
  PtyPeer peer;
  const char *path = peer.slave_path().c_str();
  termios t{};

  const struct {
    std::uint8_t code;
    bool odd, sticky, checked;
  } parities[] = {{0, false, false, false}, {1, true, false, true}, {2, false, false, true},
                  {3, true, true, true},    {4, false, true, true}};
  for (const auto &p : parities) {
    SCOPED_TRACE(testing::Message() << "parity " << int(p.code));
    ASSERT_EQ(EnablePort(path, 8, p.code, 0, 9600, 0), 1) << tolvex_port_error();
    ASSERT_TRUE(peer.line_settings(t));
    EXPECT_EQ((t.c_cflag & PARODD) != 0, p.odd);
    EXPECT_EQ((t.c_cflag & CMSPAR) != 0, p.sticky);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, p.checked);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u) << "one stop bit";
    // Raw: no line editing, echo, signals or byte translation either way.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY), 0u);
  }

  ASSERT_EQ(EnablePort(path, 8, 0, 2, 9600, 0), 1) << tolvex_port_error();
  ASSERT_TRUE(peer.line_settings(t));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "two stop bits";
  ASSERT_EQ(EnablePort(path, 5, 0, 1, 9600, 0), 1) << tolvex_port_error();
  ASSERT_TRUE(peer.line_settings(t));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "one and a half stop bits with 5 data bits";

  const struct {
    std::uint8_t mode;
    bool software, hardware;
  } flows[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}, {4, false, false}, {255, false, false}};
  for (const auto &f : flows) {
    SCOPED_TRACE(testing::Message() << "flow " << int(f.mode));
    ASSERT_EQ(EnablePort(path, 8, 0, 0, 9600, f.mode), 1) << tolvex_port_error();
    ASSERT_TRUE(peer.line_settings(t));
    EXPECT_EQ((t.c_iflag & IXON) != 0, f.software);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, f.software);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, f.hardware);
    if (f.software) {
      EXPECT_EQ(t.c_cc[VSTART], 0x11);
      EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    }
  }

  const struct {
    std::uint32_t baud;
    speed_t speed;
  } speeds[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
  for (const auto &s : speeds) {
    ASSERT_EQ(EnablePort(path, 8, 0, 0, s.baud, 0), 1) << tolvex_port_error();
    ASSERT_TRUE(peer.line_settings(t));
    EXPECT_EQ(cfgetospeed(&t), s.speed) << s.baud;
    EXPECT_EQ(cfgetispeed(&t), s.speed) << s.baud;
  }

  // A refused setting leaves the port closed, not open with the old settings.
  EXPECT_EQ(EnablePort(path, 8, 0, 0, 0, 0), 0);
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  EXPECT_EQ(wait_outcome(3000ms).result, TOLVEX_TX_ERROR);
  EXPECT_TRUE(peer.drain(100ms).empty());
  DisablePort();
}

TEST(Port, OpenIsExclusiveAndReleasedOnClose) {
  PtyPeer peer;
  const char *path = peer.slave_path().c_str();
  ASSERT_EQ(EnablePort(path, 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  // Another opener is refused: by TIOCEXCL, or (as root, who passes it) by the lock.
  const int other = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }
  DisablePort();

  // Closed: another program may take the device, and then the library is refused.
  const int holder = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0) << "the exclusive mode was not cleared on close";
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(EnablePort(path, 8, 0, 0, 9600, 0), 0);
  EXPECT_NE(std::string(tolvex_port_error()).find("in use"), std::string::npos) << tolvex_port_error();
  ::close(holder);

  // Reopening (also over an open port) works and the port still carries commands.
  ASSERT_EQ(EnablePort(path, 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  ASSERT_EQ(EnablePort(path, 8, 0, 0, 19200, 0), 1) << tolvex_port_error();
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'m'});
  EXPECT_EQ(wait_outcome().result, TOLVEX_OK);
  DisablePort();
}

TEST(Port, HangUpEndsInTransmissionErrorWithoutSpinning) {
  {
    PtyPeer peer;
    ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
    ASSERT_GE(exe_cmd("C31", nullptr, 0), 1);
    ASSERT_TRUE(peer.read_frame());
    peer.write_byte(ACK);
    ASSERT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ENQ));
    peer.hang_up();  // the adapter is unplugged while the reply is awaited
    // At once, not when the 15 s reply window of the move runs out.
    Outcome o = wait_outcome(1000ms);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.result, TOLVEX_TX_ERROR);

    // Nothing in the library may keep a core busy on the dead port.
    const double cpu_before = process_cpu_seconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(process_cpu_seconds() - cpu_before, 0.1);

    ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
    EXPECT_EQ(wait_outcome(2000ms).result, TOLVEX_TX_ERROR);
  }
  // A new adapter: the port opens again and works.
  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'m'});
  EXPECT_EQ(wait_outcome().result, TOLVEX_OK);
  DisablePort();
}

TEST(Port, ClosingWhileACommandRunsEndsIt) {
  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  ASSERT_GE(exe_cmd("C31", nullptr, 0), 1);
  ASSERT_TRUE(peer.read_frame());
  peer.write_byte(ACK);
  ASSERT_EQ(peer.read_byte(), std::optional<std::uint8_t>(ENQ));
  EXPECT_EQ(DisablePort(), 1);
  exe_stop();
  Outcome o = wait_outcome(3000ms);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.result, TOLVEX_STOPPED);
}

TEST(Port, OutputHeldByFlowControlEndsInTransmissionError) {
  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 1), 1) << tolvex_port_error();
  peer.write_byte(0x13);  // XOFF: the terminal holds the line and never releases it
  std::this_thread::sleep_for(50ms);
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  Outcome o = wait_outcome(5000ms);
  ASSERT_TRUE(o.finished) << "the write was not bounded";
  EXPECT_EQ(o.result, TOLVEX_TX_ERROR);

  peer.write_byte(0x11);  // XON: the line flows again
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'f'});
  EXPECT_EQ(wait_outcome().result, TOLVEX_OK);
  DisablePort();
}

TEST(Port, MessageHandlerMayCloseThePort) {
  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  static std::atomic<int> closes{0};
  closes = 0;
  // The overflow message is shown on the receive thread; closing from there must not deadlock.
  tolvex_set_message_handler(
      [](const char *text, void *) {
        if (std::string(text) == "m_QueueRead FULL!") {
          DisablePort();
          closes++;
        }
      },
      nullptr);
  peer.write(Bytes(1000, 0x44));
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (closes == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  tolvex_set_message_handler(nullptr, nullptr);
  EXPECT_GE(closes.load(), 1);

  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0), 1) << tolvex_port_error();
  peer.drain(50ms);
  ASSERT_GE(exe_cmd("C11", nullptr, 0), 1);
  peer.serve(0, Bytes{'r'});
  EXPECT_EQ(wait_outcome().result, TOLVEX_OK);
  DisablePort();
}

// The receive thread's message handler closes the port while the caller's thread is
// itself closing it (and so waits for the receive thread): neither may wait for the other.
// Run in a child with an alarm, so a deadlock fails the test instead of hanging it.
void concurrent_close_from_handler() {
  ::alarm(10);
  PtyPeer peer;
  if (EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0) != 1) std::_Exit(2);
  static std::atomic<bool> in_handler{false};
  static std::atomic<int> handler_close{-1};
  tolvex_set_message_handler(
      [](const char *text, void *) {
        if (std::string(text) != "m_QueueRead FULL!") return;
        in_handler = true;
        std::this_thread::sleep_for(300ms);  // the caller's thread is closing meanwhile
        handler_close = DisablePort();
      },
      nullptr);
  peer.write(Bytes(1000, 0x44));
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!in_handler && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  if (!in_handler) std::_Exit(3);
  DisablePort();
  // The caller's close does not wait for the handler; the handler's own close must end too.
  const auto handler_deadline = std::chrono::steady_clock::now() + 3s;
  while (handler_close != 1 && std::chrono::steady_clock::now() < handler_deadline) std::this_thread::sleep_for(1ms);
  if (handler_close != 1) std::_Exit(4);
  // The port opens and works again afterwards.
  tolvex_set_message_handler(nullptr, nullptr);
  if (EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0) != 1) std::_Exit(5);
  std::_Exit(0);
}

TEST(PortUnload, HandlerClosingWhileTheCallerClosesDoesNotDeadlock) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(concurrent_close_from_handler(), ::testing::ExitedWithCode(0), "");
}

// With no room left for a thread stack the receive thread cannot start: the library says
// so, EnablePort returns 0 and the device is released again for whoever comes next.
bool receive_thread_failure_is_reported() {
  PtyPeer peer;
  static std::atomic<bool> told{false};
  tolvex_set_message_handler(
      [](const char *text, void *) {
        if (std::string(text) == "CreateThread ERROR") told = true;
      },
      nullptr);
  if (!leave_no_room_for_threads()) return false;
  const int opened = EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0);
  const bool why = std::string(tolvex_port_error()) == "CreateThread ERROR";
  const int holder = ::open(peer.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  const bool released = holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0;
  return opened == 0 && told && why && released;
}

TEST(PortUnload, ReceiveThreadThatCannotStartFailsTheOpen) {
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(receive_thread_failure_is_reported() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// The program ends while a command waits for its reply: unloading stops the worker and
// closes the port, and the process leaves normally.
void exit_during_a_command() {
  PtyPeer peer;
  if (EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0) != 1) std::_Exit(2);
  if (exe_cmd("C31", nullptr, 0) == 0) std::_Exit(3);
  if (!peer.read_frame()) std::_Exit(4);
  peer.write_byte(ACK);
  if (peer.read_byte() != std::optional<std::uint8_t>(ENQ)) std::_Exit(5);
  std::exit(0);
}

TEST(PortUnload, EndingTheProgramDuringACommandNeitherHangsNorCrashes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exit_during_a_command(), ::testing::ExitedWithCode(0), "");
}


// Makes epoll_pwait2 fail with ENOSYS for every thread of this process, as on a kernel (or
// in a sandbox) without it. False when the filter cannot be installed.
bool refuse_nanosecond_waits() {
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_epoll_pwait2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

// Without nanosecond waits the I/O thread falls back to millisecond ones: the exchange
// still runs, and a deadline (the ACK window, after which the frame is sent again) is
// kept, never passed early.
void exchange_without_nanosecond_waits() {
  if (!refuse_nanosecond_waits()) std::_Exit(2);
  PtyPeer peer;
  if (EnablePort(peer.slave_path().c_str(), 8, 0, 0, 9600, 0) != 1) std::_Exit(3);
  if (exe_cmd("C11", nullptr, 0) == 0) std::_Exit(4);
  if (!peer.serve(0, Bytes{'m'}) || wait_outcome(3000ms).result != TOLVEX_OK) std::_Exit(5);

  // Taken before the command starts, so a late read of the first frame cannot make the
  // window look shorter than it was.
  const auto sent = std::chrono::steady_clock::now();
  if (exe_cmd("C11", nullptr, 0) == 0) std::_Exit(7);
  if (!peer.read_frame()) std::_Exit(8);
  if (!peer.read_frame()) std::_Exit(9);  // no ACK: the frame again when the window ends
  if (std::chrono::steady_clock::now() - sent < 1000ms) std::_Exit(10);
  peer.write_byte(ACK);
  if (peer.read_byte() != std::optional<std::uint8_t>(ENQ)) std::_Exit(11);
  peer.write(reply_frame("C11", 0, Bytes{'m'}));
  const Outcome o = wait_outcome(3000ms);
  std::_Exit(o.finished && o.result == TOLVEX_OK ? 0 : 12);
}

TEST(PortWait, WithoutNanosecondWaitsDeadlinesAreStillKept) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exchange_without_nanosecond_waits(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tolvex::test

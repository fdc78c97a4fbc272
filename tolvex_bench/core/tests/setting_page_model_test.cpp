// The Setting page model against the simulated terminal: the port-open step and its
// Port.cfg record, the clock, retry count and capture time.
#include "setting_page_model.hpp"

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "page_harness.hpp"
#include "port_open.hpp"
#include "received_frames.hpp"

namespace tolvex::bench::testing {
namespace {

namespace fs = std::filesystem;
using S = SettingPageModel;

std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<none>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::wstring> numbered(int first, int last, int step, int width) {
  std::vector<std::wstring> out;
  for (int v = first; v <= last; v += step) {
    std::wstring text = std::to_wstring(v);
    while (static_cast<int>(text.size()) < width) text.insert(0, 1, L'0');
    out.push_back(text);
  }
  return out;
}

#ifdef _WIN32
int process_id() { return ::_getpid(); }
void set_env(const char *name, const std::string &value) { ::_putenv_s(name, value.c_str()); }
void unset_env(const char *name) { ::_putenv_s(name, ""); }
#else
int process_id() { return ::getpid(); }
void set_env(const char *name, const std::string &value) { ::setenv(name, value.c_str(), 1); }
void unset_env(const char *name) { ::unsetenv(name); }
#endif

constexpr char kCfg0[] = "PORT: 0\nBAUDRATE: 38400\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0";
constexpr std::wstring_view kSetupError = L"Serial port setup error!\n\n확인후 재시도 하십시요.";

// Each test in a scratch folder of its own (Port.cfg lands there), " COM 1" on the
// terminal and " COM 2" nowhere.
class SettingPageModelTest : public SimulatedTerminal {
 protected:
  void SetUp() override {
    SimulatedTerminal::SetUp();
    home_ = fs::current_path();
    scratch_ = fs::temp_directory_path() / ("tolvex-setting-" + std::to_string(process_id()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
    fs::current_path(scratch_);
    set_env("XDG_CONFIG_HOME", (scratch_ / "config").string());
    set_env("TOLVEX_COM1", sim_->path());
    set_env("TOLVEX_COM2", "/nonexistent/tolvex-tty");
    model_.init();
  }
  void TearDown() override {
    while (!library_done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SimulatedTerminal::TearDown();
    fs::current_path(home_);
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }

  void choose(int off, int on) {
    view_.set_checked(off, false);
    view_.set_checked(on, true);
  }
  void leave_unchosen(int a, int b) {
    view_.set_checked(a, false);
    view_.set_checked(b, false);
  }
  void occupy_library() {
    ASSERT_TRUE(sim_->add_fault("C11:late=500"));
    ASSERT_NE(model(), 0);
  }
  std::vector<Frame> sent(std::string_view code = {}) { return frames_in(received(), code); }
  Bytes last(std::string_view code) {
    const auto frames = sent(code);
    return frames.empty() ? Bytes{0xEE} : frames.back().data;
  }

  fs::path home_, scratch_;
  SettingPageModel model_{view_, commands_};
};

TEST_F(SettingPageModelTest, InitialState) {
  const struct {
    int list;
    std::vector<std::wstring> items;
    int selected;
  } lists[] = {
      {S::Port, {L" COM 1", L" COM 2", L" COM 3", L" COM 4"}, 0},
      {S::Baud, {L" 9600  BPS", L" 19200 BPS", L" 38400 BPS", L" 57600 BPS"}, 2},
      {S::Year, numbered(2013, 2024, 1, 4), 0},
      {S::Month, numbered(1, 12, 1, 2), 0},
      {S::Day, numbered(1, 31, 1, 2), 0},
      {S::Hour, numbered(0, 23, 1, 2), 1},
      {S::Minute, numbered(0, 59, 1, 2), 1},
      {S::Retry, numbered(0, 3, 1, 1), 0},
      {S::Capture, numbered(0, 60, 10, 1), 0},
  };
  for (const auto &l : lists) {
    EXPECT_EQ(view_.items[l.list], l.items) << l.list;
    EXPECT_EQ(view_.selection(l.list), l.selected) << l.list;
  }
  for (const int on : {S::Demo, S::RtcCheck, S::RetryCheck, S::CaptureCheck}) EXPECT_TRUE(view_.checked(on));
  for (const int off : {S::RtcSetup, S::RetrySetting, S::CaptureSetting}) EXPECT_FALSE(view_.checked(off));
  EXPECT_TRUE(received().empty());
}

TEST_F(SettingPageModelTest, DemoPortOpenSendsNothingAndRecordsPortCfg) {
  model_.port_open();
  EXPECT_EQ(commands_.report_text, L"Result: Port Open Success!!");
  EXPECT_EQ(read_file("Port.cfg"), kCfg0);
  EXPECT_TRUE(sent().empty());
  EXPECT_TRUE(view_.messages.empty());

  // A port that does not open: its warning only, no success text, the record untouched.
  commands_.report_text.clear();
  view_.set_selection(S::Port, 1);
  model_.port_open();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{std::wstring(kSetupError)});
  EXPECT_TRUE(commands_.report_text.empty());
  EXPECT_EQ(read_file("Port.cfg"), kCfg0);
}

TEST_F(SettingPageModelTest, PortOpenTellsTheTerminalFirst) {
  view_.set_checked(S::Demo, false);
  view_.set_selection(S::Baud, 3);
  model_.port_open();
  EXPECT_EQ(last("C26"), Bytes{4});
  EXPECT_EQ(sim_->line_baud(), 57600);
  EXPECT_EQ(commands_.report_text.rfind(L" COMMAND: Set Baud Rate\n RESULT   : Success!", 0), 0u);
  EXPECT_EQ(read_file("Port.cfg").substr(0, 25), "PORT: 0\nBAUDRATE: 57600\nD");

  // The port followed: the next command goes through at the new rate.
  view_.set_selection(S::Baud, 2);
  model_.port_open();
  EXPECT_EQ(sim_->line_baud(), 38400);
  EXPECT_EQ(read_file("Port.cfg"), kCfg0);
  EXPECT_TRUE(view_.messages.empty());

  // Refused by the library (a command is in flight): "Frame Error", no reopening.
  occupy_library();
  fs::remove("Port.cfg");
  view_.set_selection(S::Baud, 0);
  model_.port_open();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"Frame Error"});
  EXPECT_FALSE(fs::exists("Port.cfg"));
  while (!library_done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(sim_->line_baud(), 38400);
}

TEST_F(SettingPageModelTest, PortOpenStepOpensTheIndexedPort) {
  set_env("TOLVEX_COM4", sim_->path());
  set_env("TOLVEX_COM1", "/nonexistent/tolvex-tty");
  EXPECT_EQ(open_port(view_, 3, 0, 0, 8, 0, "57600"), 1);
  unset_env("TOLVEX_COM4");
  EXPECT_EQ(read_file("Port.cfg"), "PORT: 3\nBAUDRATE: 57600\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0");
  EXPECT_TRUE(view_.messages.empty());
  const std::string before = read_file("Port.cfg");
  // A closed name, a rate text outside the four, an index outside 0 to 3.
  const std::pair<int, const char *> refused[] = {{0, "38400"}, {1, "115200"}, {4, "9600"}};
  for (const auto &[index, rate] : refused) EXPECT_EQ(open_port(view_, index, 0, 0, 8, 0, rate), 0);
  EXPECT_EQ(view_.messages, std::vector<std::wstring>(3, std::wstring(kSetupError)));
  EXPECT_EQ(read_file("Port.cfg"), before);
  EXPECT_EQ(port_cfg_text(2, "9600", 7, 2, 1, 3),
            "PORT: 2\nBAUDRATE: 9600\nDATA_BIT: 7\nSTOP_BIT: 2\nPARITY_BIT: 1\nCONTROL: 3");
}

// The record is replaced as a whole or not at all, and no temporary file stays behind.
TEST_F(SettingPageModelTest, PortCfgIsReplacedWholeOrKept) {
  { std::ofstream("Port.cfg") << "old content that is longer than the new record by quite a few bytes\n"; }
  // The file's own permissions stay (on Windows only owner_write and the read bits exist).
  fs::permissions("Port.cfg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::perms kept = fs::status("Port.cfg").permissions();
  model_.port_open();
  EXPECT_EQ(read_file("Port.cfg"), kCfg0);
  EXPECT_EQ(fs::status("Port.cfg").permissions(), kept);

  // A folder stands where the record goes: the port stays open, one warning says why.
  fs::remove("Port.cfg");
  fs::create_directory("Port.cfg");
  model_.port_open();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].rfind(L"Port.cfg: ", 0), 0u);
  EXPECT_GT(view_.messages[0].size(), 10u);
  EXPECT_EQ(commands_.report_text, L"Result: Port Open Success!!");
  EXPECT_TRUE(fs::is_directory("Port.cfg"));
  fs::remove("Port.cfg");

  EXPECT_NE(replace_file(scratch_ / "no-such-folder" / "Port.cfg", "x"), "");
  EXPECT_FALSE(fs::exists(scratch_ / "no-such-folder"));
  std::vector<std::string> left;
  for (const auto &entry : fs::directory_iterator(scratch_)) left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(SettingPageModelTest, ClockSetAndRead) {
  choose(S::RtcCheck, S::RtcSetup);
  const std::pair<int, int> late_evening[] = {{S::Year, 11}, {S::Month, 11}, {S::Day, 30}, {S::Hour, 23}, {S::Minute, 59}};
  for (const auto &[list, index] : late_evening) view_.set_selection(list, index);
  model_.rtc_execute();
  EXPECT_EQ(last("C21"), (Bytes{1, 0x20, 0x24, 0x12, 0x31, 0x23, 0x59, 0x00}));
  EXPECT_TRUE(view_.text(S::Clock).empty());

  // Reading it back: the terminal's clock runs on from 23:59:00.
  choose(S::RtcSetup, S::RtcCheck);
  model_.rtc_execute();
  EXPECT_EQ(last("C21"), Bytes{2});
  EXPECT_EQ(view_.text(S::Clock).rfind(L" 2024년 12월 31일 23시 59분 0", 0), 0u);

  // Midnight from the "00" entries.
  choose(S::RtcCheck, S::RtcSetup);
  view_.set_selection(S::Hour, 0);
  view_.set_selection(S::Minute, 0);
  model_.rtc_execute();
  EXPECT_EQ(last("C21"), (Bytes{1, 0x20, 0x24, 0x12, 0x31, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(SettingPageModelTest, ClockTextFailedReadAndNoChoice) {
  commands_.step().set_collector(answering({0x20, 0x13, 0x05, 0x30, 0x14, 0x25, 0x07}));
  model_.rtc_execute();
  EXPECT_EQ(view_.text(S::Clock), L" 2013년 05월 30일 14시 25분 07초 ");

  ASSERT_TRUE(sim_->add_fault("C21:status=0x2008"));
  commands_.step().set_collector(chk_res);
  model_.rtc_execute();
  EXPECT_TRUE(view_.text(S::Clock).empty());
  EXPECT_EQ(commands_.report_text.rfind(L" COMMAND: Set RTC IC\n RESULT   : False!\n ERROR : Unavailable Real Time Clock IC.", 0),
            0u);

  forget_received();
  leave_unchosen(S::RtcSetup, S::RtcCheck);
  model_.rtc_execute();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L" 항목을 선택해주세요! "});
  EXPECT_TRUE(sent().empty());
}

// Retry count and capture time: the setting sent, the check read back and shown, a
// failed check, and no choice in the group doing nothing.
TEST_F(SettingPageModelTest, RetryCountAndCaptureTime) {
  const struct {
    const char *code;
    int list, setting, check, text;
    void (SettingPageModel::*apply)();
    int index;
    Bytes set_bytes;
    std::wstring shown;
    const char *fault;
  } groups[] = {
      {"C24", S::Retry, S::RetrySetting, S::RetryCheck, S::RetryText, &SettingPageModel::retry_apply, 3, {1, 3}, L" 03",
       "C24:status=0x2007"},
      {"C23", S::Capture, S::CaptureSetting, S::CaptureCheck, S::CaptureText, &SettingPageModel::capture_apply, 3,
       {1, 3}, L"30 Sec", "C23:status=0x2007"},
  };
  for (const auto &g : groups) {
    SCOPED_TRACE(g.code);
    choose(g.check, g.setting);
    view_.set_selection(g.list, g.index);
    (model_.*g.apply)();
    EXPECT_EQ(last(g.code), g.set_bytes);
    EXPECT_TRUE(view_.text(g.text).empty());

    choose(g.setting, g.check);
    (model_.*g.apply)();
    EXPECT_EQ(last(g.code), Bytes{2});
    EXPECT_EQ(view_.text(g.text), g.shown);

    forget_received();
    leave_unchosen(g.setting, g.check);
    (model_.*g.apply)();
    EXPECT_TRUE(sent().empty());
    choose(g.setting, g.check);
  }

  // A failed read: the retry box empties, the capture box keeps its text.
  for (const auto &g : groups) ASSERT_TRUE(sim_->add_fault(g.fault));
  model_.retry_apply();
  EXPECT_TRUE(view_.text(S::RetryText).empty());
  model_.capture_apply();
  EXPECT_EQ(view_.text(S::CaptureText), L"30 Sec");
  EXPECT_EQ(commands_.state().result, 0x2007);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(SettingPageModelTest, CaptureTextOutsideTheTableKeepsTheBox) {
  const std::pair<std::uint8_t, std::wstring> answers[] = {{6, L"60 Sec"}, {7, L"60 Sec"}, {0, L"NONE"}, {9, L"NONE"}};
  for (const auto &[byte, shown] : answers) {
    commands_.step().set_collector(answering({byte}));
    model_.capture_apply();
    EXPECT_EQ(view_.text(S::CaptureText), shown) << int{byte};
  }
}

TEST_F(SettingPageModelTest, RefusedCommandsLeaveTheBoxes) {
  model_.rtc_execute();
  model_.retry_apply();
  model_.capture_apply();
  const std::wstring clock = view_.text(S::Clock), retry = view_.text(S::RetryText),
                     capture = view_.text(S::CaptureText), report = commands_.report_text;
  ASSERT_FALSE(clock.empty());
  ASSERT_FALSE(capture.empty());
  occupy_library();
  forget_received();
  model_.rtc_execute();
  model_.retry_apply();
  model_.capture_apply();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>(3, L"Frame Error"));
  EXPECT_EQ(view_.text(S::Clock), clock);
  EXPECT_EQ(view_.text(S::RetryText), retry);
  EXPECT_EQ(view_.text(S::CaptureText), capture);
  EXPECT_EQ(commands_.report_text, report);
  EXPECT_TRUE(sent("C21").empty() && sent("C24").empty() && sent("C23").empty());
}

}  // namespace
}  // namespace tolvex::bench::testing

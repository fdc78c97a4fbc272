// The command road of the Win32 bench: the one command step, a wait that sleeps on the
// library's completion event while dispatching the window messages that arrive, the
// report window, and the program's closing.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "command_step.hpp"
#include "page_view.hpp"

namespace tolvex::bench::win32 {

// A WM_QUIT met inside a wait: kept, and posted again once the outermost wait is over.
struct HeldQuit {
  bool seen = false;
  WPARAM code = 0;
  void post_again();
};

// The program's one way of waiting with a live window: sleeps on `event` (none when
// null) and on the message queue until `done()` holds or `deadline` passes, dispatching
// each message as it arrives (those of `dialog` through IsDialogMessage), so a handler
// run from here may start a wait of its own that nests inside this one.
void pump_messages(HWND dialog, HANDLE event, const std::function<bool()> &done,
                   std::optional<std::chrono::steady_clock::time_point> deadline, HeldQuit &quit);

class Win32Commands final : public PageCommands {
 public:
  // `main_dialog` gets IsDialogMessage for the messages dispatched during a wait;
  // `report_edit` shows the reports.
  Win32Commands(HWND main_dialog, HWND report_edit);
  ~Win32Commands() override;
  Win32Commands(const Win32Commands &) = delete;
  Win32Commands &operator=(const Win32Commands &) = delete;

  bool run(std::string_view code, const CommandStep::Starter &start,
           std::wstring_view failure_text = L"Frame Error") override;
  CommandState &state() override { return step_.state(); }
  CommandStep &step() override { return step_; }
  void set_report_text(std::wstring_view text) override;
  bool shutting_down() const override { return shutting_down_; }

  // Where the view mode is read at the start of each wait (0 "String", else "HEX").
  void set_view_mode_source(std::function<int()> source) { view_mode_ = std::move(source); }

  // The window is closing: no new command starts, one in flight is abandoned
  // (exe_stop) and the waits return once the library has reported it. While a wait
  // runs the window is closed again (WM_CLOSE) after the last one.
  void shut_down() override;
  // Whether the window may go now: shut down and no wait running.
  bool may_close() const { return shutting_down_ && step_.wait_depth() == 0; }

  int wait_depth() const { return step_.wait_depth(); }

 private:
  class Host;
  bool wait(const std::function<bool()> &collected);
  void after_wait();

  HWND main_dialog_;
  HWND report_edit_;
  HANDLE completed_;  // auto-reset; set by the library's completion handler
  std::unique_ptr<Host> host_;
  CommandStep step_;
  std::function<int()> view_mode_;
  bool shutting_down_ = false;
  bool close_after_wait_ = false;
  HeldQuit quit_;
};

// The library's own messages (any thread) shown in a message box on the UI thread:
// `window` receives them as kLibraryMessage with a heap std::wstring* in LPARAM, which
// take_library_message() turns back into text.
constexpr UINT kLibraryMessage = WM_APP + 1;
void install_library_messages(HWND window);
void remove_library_messages();
std::wstring take_library_message(LPARAM lparam);

}  // namespace tolvex::bench::win32

#include "win32_commands.hpp"

#include <algorithm>
#include <mutex>

#include "text.hpp"
#include "win32_page_view.hpp"

namespace tolvex::bench::win32 {

namespace {

// A completion notice that never arrives must not leave a wait hanging: the outcome is
// looked at again this often as well.
constexpr DWORD kRecheckMs = 1000;

void TOLVEX_CALL completion_event(std::uint8_t /*prc_no*/, void *ctx) { SetEvent(static_cast<HANDLE>(ctx)); }

std::mutex g_message_mutex;
HWND g_message_window = nullptr;

void TOLVEX_CALL relay_library_message(const char *text, void * /*ctx*/) {
  std::lock_guard<std::mutex> lock(g_message_mutex);
  if (g_message_window == nullptr || text == nullptr) return;
  auto *message = new std::wstring(to_wide(text));
  if (!PostMessageW(g_message_window, kLibraryMessage, 0, reinterpret_cast<LPARAM>(message))) delete message;
}

}  // namespace

void HeldQuit::post_again() {
  if (!seen) return;
  seen = false;
  PostQuitMessage(static_cast<int>(code));
}

void pump_messages(HWND dialog, HANDLE event, const std::function<bool()> &done,
                   std::optional<std::chrono::steady_clock::time_point> deadline, HeldQuit &quit) {
  // Sleep until the event is set, a deadline passes or a window message is there; each
  // message found is dispatched here. Input already looked at but not yet taken wakes
  // the wait as well (MWMO_INPUTAVAILABLE), so none is left behind for a recheck.
  const DWORD count = event != nullptr ? 1 : 0;
  while (!done()) {
    DWORD timeout = kRecheckMs;
    if (deadline) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= *deadline) return;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
      timeout = static_cast<DWORD>(std::min<long long>(left, kRecheckMs));
    }
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(count, event != nullptr ? &event : nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke != WAIT_OBJECT_0 + count) continue;
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
    if (msg.message == WM_QUIT) {
      quit.seen = true;
      quit.code = msg.wParam;
      continue;
    }
    if (dialog == nullptr || !IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

class Win32Commands::Host final : public StepHost {
 public:
  explicit Host(Win32Commands &owner) : owner_(owner) {}
  bool wait(const std::function<bool()> &collected) override { return owner_.wait(collected); }
  void message(std::wstring_view text) override { bench_message_box(owner_.main_dialog_, text, MB_OK); }
  void report(const std::wstring &text) override { owner_.set_report_text(text + L"   "); }
  int view_mode() override { return owner_.view_mode_ ? owner_.view_mode_() : 0; }

 private:
  Win32Commands &owner_;
};

Win32Commands::Win32Commands(HWND main_dialog, HWND report_edit)
    : main_dialog_(main_dialog),
      report_edit_(report_edit),
      completed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      host_(std::make_unique<Host>(*this)),
      step_(*host_) {
  tolvex_set_completion_handler(&completion_event, completed_);
}

Win32Commands::~Win32Commands() {
  tolvex_set_completion_handler(nullptr, nullptr);
  CloseHandle(completed_);
}

bool Win32Commands::run(std::string_view code, const CommandStep::Starter &start, std::wstring_view failure_text) {
  if (shutting_down_) return false;
  const StepResult result = step_.run(code, start, failure_text);
  after_wait();
  return result != StepResult::NotStarted;
}

bool Win32Commands::wait(const std::function<bool()> &collected) {
  pump_messages(main_dialog_, completed_, collected, std::nullopt, quit_);
  return true;
}

void Win32Commands::after_wait() {
  if (step_.wait_depth() > 0) return;
  quit_.post_again();
  if (close_after_wait_) {
    close_after_wait_ = false;
    PostMessageW(main_dialog_, WM_CLOSE, 0, 0);
  }
}

void Win32Commands::set_report_text(std::wstring_view text) {
  SetWindowTextW(report_edit_, to_edit_lines(text).c_str());
}

void Win32Commands::shut_down() {
  if (!shutting_down_) {
    shutting_down_ = true;
    if (step_.wait_depth() > 0) exe_stop();
  }
  if (step_.wait_depth() > 0) close_after_wait_ = true;
}

void install_library_messages(HWND window) {
  {
    std::lock_guard<std::mutex> lock(g_message_mutex);
    g_message_window = window;
  }
  tolvex_set_message_handler(&relay_library_message, nullptr);
}

void remove_library_messages() {
  tolvex_set_message_handler(nullptr, nullptr);
  std::lock_guard<std::mutex> lock(g_message_mutex);
  g_message_window = nullptr;
}

std::wstring take_library_message(LPARAM lparam) {
  std::unique_ptr<std::wstring> message(reinterpret_cast<std::wstring *>(lparam));
  return message ? *message : std::wstring();
}

}  // namespace tolvex::bench::win32

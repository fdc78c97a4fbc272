#include "command_runner.hpp"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <string_view>

#include "message_service.hpp"

namespace tolvex::bench::ui {

using tolvex::bench::StepHost;
using tolvex::bench::StepResult;

namespace {

// The library calls the completion handler on its worker thread. The handler only
// posts a wake-up to the runner's thread; the mutex keeps a runner that is being
// destroyed from receiving a post.
std::mutex g_runner_mutex;
CommandRunner *g_runner = nullptr;

// A completion notice that never arrives must not leave a wait hanging: the outcome is
// looked at again this often as well. Far too rare to cost anything while waiting.
constexpr int kRecheckMs = 1000;

}  // namespace

void completion_relay(std::uint8_t /*prc_no*/, void * /*ctx*/) {
  std::lock_guard<std::mutex> lock(g_runner_mutex);
  if (g_runner == nullptr) return;
  CommandRunner *runner = g_runner;
  QMetaObject::invokeMethod(runner, [runner] { runner->wake(); }, Qt::QueuedConnection);
}

// The step's surroundings in the desktop bench: waits sleep in an event loop, messages
// are message boxes, reports go to the report window.
class CommandRunner::Host final : public StepHost {
 public:
  explicit Host(CommandRunner &runner) : runner_(runner) {}

  bool wait(const std::function<bool()> &collected) override {
    // Sleep in an event loop: the window stays live and a handler run from here may
    // start a command of its own, whose wait nests inside this one and returns first.
    QEventLoop loop;
    QTimer recheck;
    recheck.setInterval(kRecheckMs);
    QObject::connect(&recheck, &QTimer::timeout, &loop, &QEventLoop::quit);
    runner_.loops_.push_back(&loop);
    recheck.start();
    while (!collected()) loop.exec();
    recheck.stop();
    runner_.loops_.erase(std::find(runner_.loops_.begin(), runner_.loops_.end(), &loop));
    return true;
  }

  void message(std::wstring_view text) override {
    show_message(QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size())));
  }

  void report(const std::wstring &text) override {
    runner_.set_report_text(QString::fromStdWString(text) + QStringLiteral("   "));
  }

  int view_mode() override { return runner_.view_mode_(); }

 private:
  CommandRunner &runner_;
};

CommandRunner::CommandRunner(QObject *parent)
    : QObject(parent), host_(std::make_unique<Host>(*this)), step_(*host_), view_mode_([] { return 0; }) {
  {
    std::lock_guard<std::mutex> lock(g_runner_mutex);
    g_runner = this;
  }
  // Outside the mutex: no lock of ours is held across a call into the library.
  tolvex_set_completion_handler(&completion_relay, nullptr);
}

CommandRunner::~CommandRunner() {
  bool was_active = false;
  {
    std::lock_guard<std::mutex> lock(g_runner_mutex);
    if (g_runner == this) {
      g_runner = nullptr;
      was_active = true;
    }
  }
  if (was_active) tolvex_set_completion_handler(nullptr, nullptr);
}

bool CommandRunner::run(const char *code, const Starter &start, const QString &failure_text) {
  return run(std::string_view(code, 3), start, failure_text.toStdWString());
}

bool CommandRunner::run(std::string_view code, const Starter &start, std::wstring_view failure_text) {
  if (shutting_down_) return false;
  return step_.run(code, start, failure_text) != StepResult::NotStarted;
}

void CommandRunner::wait_and_report() { step_.wait_and_report(); }

void CommandRunner::set_report_text(const QString &text) { emit report_changed(text); }

void CommandRunner::set_report_text(std::wstring_view text) {
  emit report_changed(QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size())));
}

void CommandRunner::wake() {
  // Every wait looks at the outcome again when it regains control; the ones whose
  // command is still running go back to sleep.
  for (QEventLoop *loop : loops_) loop->quit();
}

void CommandRunner::shut_down() {
  if (shutting_down_) return;
  shutting_down_ = true;
  if (!loops_.empty()) exe_stop();
}

}  // namespace tolvex::bench::ui

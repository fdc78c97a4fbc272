#include "command_runner.hpp"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <mutex>

#include "message_service.hpp"

namespace tolvex::bench::ui {

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

CommandRunner::CommandRunner(QObject *parent)
    : QObject(parent), view_mode_([] { return 0; }), collect_([](std::uint8_t *data, int *length, std::uint8_t *prc,
                                                                 int *result) { return chk_res(data, length, prc, result); }) {
  {
    std::lock_guard<std::mutex> lock(g_runner_mutex);
    g_runner = this;
  }
  // Outside the mutex: the library may hold its own lock while it calls the handler.
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
  if (shutting_down_) return false;
  char code_before[3];
  std::copy_n(state_.code, 3, code_before);
  const std::uint8_t prc_before = state_.gb_prc_no;
  std::copy_n(code, 3, state_.code);
  state_.gb_prc_no = static_cast<std::uint8_t>(start());
  if (state_.gb_prc_no == 0) {
    // Refused while another command is being waited for (a handler run inside that
    // wait): the command in flight keeps its code and process number, so its own
    // report stays right.
    if (!loops_.empty()) {
      std::copy_n(code_before, 3, state_.code);
      state_.gb_prc_no = prc_before;
    }
    if (!failure_text.isEmpty()) show_message(failure_text);
    return false;
  }
  wait_and_report();
  return true;
}

bool CommandRunner::collect() {
  int length = 0;
  int result = 0;
  std::uint8_t prc = 0;
  if (collect_(state_.response.data(), &length, &prc, &result) == 0) return false;
  state_.length = static_cast<std::uint32_t>(std::clamp(length, 0, static_cast<int>(state_.response.size())));
  state_.response_prc_no = prc;
  state_.result = result;
  return true;
}

void CommandRunner::wait_and_report() {
  const int view_mode = view_mode_();
  state_.response.fill(0);

  if (!collect()) {
    // Sleep in an event loop: the window stays live and a handler run from here may
    // start a command of its own, whose wait nests inside this one and returns first.
    QEventLoop loop;
    QTimer recheck;
    recheck.setInterval(kRecheckMs);
    connect(&recheck, &QTimer::timeout, &loop, &QEventLoop::quit);
    loops_.push_back(&loop);
    recheck.start();
    while (!collect()) loop.exec();
    recheck.stop();
    loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
  }

  if (state_.result == TOLVEX_NEGATIVE) state_.result = state_.response[0] * 256 + state_.response[1];
  if (state_.response_prc_no != state_.gb_prc_no) show_message(QStringLiteral("gb_prc_no Error"));

  Outcome outcome;
  std::copy_n(state_.code, 3, outcome.code);
  outcome.result = state_.result;
  outcome.length = state_.length;
  outcome.response = state_.response.data();
  outcome.capacity = state_.response.size();
  outcome.view_mode = view_mode;
  set_report_text(QString::fromStdWString(builder_.build(outcome)) + QStringLiteral("   "));
}

void CommandRunner::set_report_text(const QString &text) { emit report_changed(text); }

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

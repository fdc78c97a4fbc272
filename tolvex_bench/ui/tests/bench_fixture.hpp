// Shared pieces of the bench's Qt tests: a message service that records, a simulated
// terminal whose received command frames can be inspected, and a driver for one page.
#pragma once

#include <QComboBox>
#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <tolvex_sim/simulator.hpp>

#include "command_runner.hpp"
#include "message_service.hpp"

namespace benchtest {

// Records every message instead of showing it, and answers `answer` when the message
// offers that button, OK otherwise. Installed while it lives.
class RecordingMessages final : public tolvex::bench::ui::MessageService {
 public:
  RecordingMessages();
  ~RecordingMessages() override;
  QMessageBox::StandardButton show(const tolvex::bench::ui::Message &message) override;

  QStringList texts() const;
  QList<tolvex::bench::ui::Message> all;
  std::function<void(const tolvex::bench::ui::Message &)> on_show;
  QMessageBox::StandardButton answer = QMessageBox::Ok;
};

// One command frame the terminal received: its code and data bytes.
struct Frame {
  std::string code;
  std::vector<std::uint8_t> data;
};

class SimTerminal {
 public:
  explicit SimTerminal(int exit_take_ms = 0);
  bool start();
  tolvex::sim::Simulator &sim() { return *sim_; }
  std::string path() const { return sim_->path(); }

  // Command frames received so far (resends included), oldest first.
  std::vector<Frame> frames() const;
  // Data of the last frame with this code; fails the caller's check when there is none.
  bool last_frame(const std::string &code, std::vector<std::uint8_t> *data) const;
  void forget_frames();

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> from_host_;
  std::unique_ptr<tolvex::sim::Simulator> sim_;
};

// The child control `name` of `parent`; a missing one ends the test program.
template <typename T>
T *child(const QWidget *parent, const QString &name) {
  auto *w = parent->findChild<T *>(name);
  if (w == nullptr) qFatal("no control %s", qPrintable(name));
  return w;
}

// Works the controls of one page (or dialog) and looks at what reached the terminal.
class PageDriver {
 public:
  explicit PageDriver(SimTerminal &terminal) : terminal_(&terminal) {}
  // The page whose controls are worked, and the runner its commands go through.
  void attach(QWidget *page, tolvex::bench::ui::CommandRunner *runner = nullptr);

  template <typename T>
  T *find(const QString &name) const {
    return child<T>(page_, name);
  }
  void click(const QString &name) const;
  void select(const QString &name, int index) const;
  void type(const QString &name, const QString &text) const;
  // The result of the runner's last command.
  int result() const;

  // Whether any frame with this code reached the terminal.
  bool sent(const std::string &code) const;
  // Every frame with this code, oldest first.
  std::vector<Frame> frames(const std::string &code) const;
  // Data of the last frame with this code; empty, with a warning, when there is none.
  std::vector<std::uint8_t> last(const std::string &code) const;

 private:
  SimTerminal *terminal_;
  QWidget *page_ = nullptr;
  tolvex::bench::ui::CommandRunner *runner_ = nullptr;
};

// The texts of a list's entries, in order.
QStringList entries(const QComboBox *combo);

// Whether the library has no command in flight; collects the outcome of one that ended,
// its result into `result` when given.
bool library_done(int *result = nullptr);

// A collector that takes the outcome from the library, then replaces its data with
// `bytes` and its result with `result`, as if the terminal had answered so.
tolvex::bench::ui::CommandRunner::Collector answering(std::vector<std::uint8_t> bytes, int result = 0);

// Points TOLVEX_COM<n> at the terminal and opens that port at 38400 baud.
bool open_port_to(const SimTerminal &terminal, int com_number = 1);

// Line speed the device at `path` is set to, read through any descriptor this process
// holds on it (the library's own included); 0 when none is open.
int open_line_speed(const std::string &path);

// Moves the test process into a fresh scratch directory (Port.cfg lands there).
void enter_scratch_directory();

// The whole content of a file, or a null array when it cannot be read.
QByteArray read_file(const QString &path);

}  // namespace benchtest

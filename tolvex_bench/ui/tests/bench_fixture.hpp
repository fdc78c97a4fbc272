// Shared pieces of the bench's Qt tests: a message service that records, and a
// simulated terminal whose received command frames can be inspected.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <tolvex_sim/simulator.hpp>

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

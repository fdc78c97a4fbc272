#include "bench_fixture.hpp"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <tolvex/tolvex.h>

namespace benchtest {

using tolvex::bench::ui::Message;

RecordingMessages::RecordingMessages() { tolvex::bench::ui::set_message_service(this); }
RecordingMessages::~RecordingMessages() { tolvex::bench::ui::set_message_service(nullptr); }

QMessageBox::StandardButton RecordingMessages::show(const Message &message) {
  all.append(message);
  if (on_show) on_show(message);
  return message.buttons.testFlag(answer) ? answer : QMessageBox::Ok;
}

QStringList RecordingMessages::texts() const {
  QStringList out;
  for (const Message &m : all) out << m.text;
  return out;
}

SimTerminal::SimTerminal(int exit_take_ms) {
  tolvex::sim::Options options;
  options.instant = true;
  options.exit_take_ms = exit_take_ms;
  options.on_bytes = [this](bool from_host, const std::uint8_t *bytes, std::size_t n) {
    if (!from_host) return;
    std::lock_guard<std::mutex> lock(mutex_);
    from_host_.insert(from_host_.end(), bytes, bytes + n);
  };
  sim_ = std::make_unique<tolvex::sim::Simulator>(options);
}

bool SimTerminal::start() { return sim_->start(nullptr); }

std::vector<Frame> SimTerminal::frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Frame> out;
  const auto &b = from_host_;
  // SOH, 0x00, length (high, low; code and data), STX, code, data, ETX, block check.
  for (std::size_t i = 0; i + 9 <= b.size(); ++i) {
    if (b[i] != 0x01 || b[i + 1] != 0x00 || b[i + 4] != 0x02) continue;
    const std::size_t length = static_cast<std::size_t>(b[i + 2]) * 256 + b[i + 3];
    if (length < 3 || i + 5 + length + 2 > b.size() || b[i + 5 + length] != 0x03) continue;
    Frame frame;
    frame.code.assign(reinterpret_cast<const char *>(&b[i + 5]), 3);
    frame.data.assign(b.begin() + static_cast<std::ptrdiff_t>(i + 8),
                      b.begin() + static_cast<std::ptrdiff_t>(i + 5 + length));
    out.push_back(std::move(frame));
    i += 5 + length + 1;
  }
  return out;
}

bool SimTerminal::last_frame(const std::string &code, std::vector<std::uint8_t> *data) const {
  const auto all = frames();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (it->code == code) {
      *data = it->data;
      return true;
    }
  }
  return false;
}

void SimTerminal::forget_frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  from_host_.clear();
}

void PageDriver::attach(QWidget *page, tolvex::bench::ui::CommandRunner *runner) {
  page_ = page;
  runner_ = runner;
}

void PageDriver::click(const QString &name) const { find<QPushButton>(name)->click(); }
void PageDriver::select(const QString &name, int index) const { find<QComboBox>(name)->setCurrentIndex(index); }
void PageDriver::type(const QString &name, const QString &text) const { find<QLineEdit>(name)->setText(text); }

int PageDriver::result() const {
  if (runner_ == nullptr) qFatal("no runner attached");
  return runner_->state().result;
}

bool PageDriver::sent(const std::string &code) const { return !frames(code).empty(); }

std::vector<Frame> PageDriver::frames(const std::string &code) const {
  std::vector<Frame> out;
  for (auto &frame : terminal_->frames()) {
    if (frame.code == code) out.push_back(std::move(frame));
  }
  return out;
}

std::vector<std::uint8_t> PageDriver::last(const std::string &code) const {
  std::vector<std::uint8_t> data;
  if (!terminal_->last_frame(code, &data)) qWarning("no %s frame", code.c_str());
  return data;
}

QStringList entries(const QComboBox *combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

bool library_done(int *result) {
  std::uint8_t buffer[TOLVEX_RESPONSE_MAX];
  int length = 0, res = -1;
  std::uint8_t prc = 0;
  const bool done = chk_res(buffer, &length, &prc, &res) != 0;
  if (result != nullptr) *result = res;
  return done;
}

tolvex::bench::ui::CommandRunner::Collector answering(std::vector<std::uint8_t> bytes, int result) {
  return [bytes = std::move(bytes), result](std::uint8_t *data, int *length, std::uint8_t *prc, int *res) {
    if (chk_res(data, length, prc, res) == 0) return 0;
    std::copy(bytes.begin(), bytes.end(), data);
    *length = static_cast<int>(bytes.size());
    *res = result;
    return 1;
  };
}

bool open_port_to(const SimTerminal &terminal, int com_number) {
  const std::string variable = "TOLVEX_COM" + std::to_string(com_number);
  ::setenv(variable.c_str(), terminal.path().c_str(), 1);
  const std::string name = "COM" + std::to_string(com_number);
  return EnablePort(name.c_str(), 8, 0, 0, 38400, 0) != 0;
}

int open_line_speed(const std::string &path) {
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link_ec;
    if (std::filesystem::read_symlink(entry.path(), link_ec) != path || link_ec) continue;
    termios tio{};
    if (::tcgetattr(std::stoi(entry.path().filename().string()), &tio) != 0) continue;
    switch (cfgetospeed(&tio)) {
      case B9600: return 9600;
      case B19200: return 19200;
      case B38400: return 38400;
      case B57600: return 57600;
      default: return -1;
    }
  }
  return 0;
}

void enter_scratch_directory() {
  static QTemporaryDir dir;
  QDir::setCurrent(dir.path());
  // The library reads ports.conf from here, never from the user's own configuration.
  qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toUtf8());
}

QByteArray read_file(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace benchtest

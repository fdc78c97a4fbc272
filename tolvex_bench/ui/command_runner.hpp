// The one road every command of the bench takes: start it, wait for its outcome while
// the window stays live, reconcile the result and show the report.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "command_step.hpp"
#include "page_view.hpp"

class QEventLoop;

namespace tolvex::bench::ui {

using CommandState = tolvex::bench::CommandState;

class CommandRunner final : public QObject, public tolvex::bench::PageCommands {
  Q_OBJECT

 public:
  using Starter = std::function<int()>;
  using Collector = std::function<int(std::uint8_t *, int *, std::uint8_t *, int *)>;

  explicit CommandRunner(QObject *parent = nullptr);
  ~CommandRunner() override;

  // Starts a command: writes its code, calls the export through `start` and keeps the
  // process number. 0 shows `failure_text` (none when empty) and returns false without
  // waiting; otherwise runs the wait-and-report step and returns true.
  bool run(const char *code, const Starter &start, const QString &failure_text = QStringLiteral("Frame Error"));
  bool run(std::string_view code, const Starter &start, std::wstring_view failure_text = L"Frame Error") override;

  // The wait-and-report step on its own, for starters that call the export themselves.
  void wait_and_report();

  CommandState &state() override { return step_.state(); }
  const CommandState &state() const { return step_.state(); }

  // The core step itself, for engines that drive commands through it.
  tolvex::bench::CommandStep &step() override { return step_; }

  // Where the view mode is read at the start of each wait (0 "String", else "HEX").
  void set_view_mode_source(std::function<int()> source) { view_mode_ = std::move(source); }

  // Replaces the report window's text.
  void set_report_text(const QString &text);
  void set_report_text(std::wstring_view text) override;

  // Number of waits running now (more than one when a handler inside a wait started
  // a command).
  int wait_depth() const { return step_.wait_depth(); }

  // The window is closing: no new command starts, a command in flight is abandoned
  // (exe_stop) and the waits return once the library has reported it.
  void shut_down() override;
  bool shutting_down() const override { return shutting_down_; }

  // Test seam: how outcomes are collected (chk_res unless replaced).
  void set_collector(Collector collector) { step_.set_collector(std::move(collector)); }

 signals:
  void report_changed(const QString &text);

 private:
  class Host;
  void wake();

  std::unique_ptr<Host> host_;
  tolvex::bench::CommandStep step_;
  std::function<int()> view_mode_;
  std::vector<QEventLoop *> loops_;
  bool shutting_down_ = false;

  friend void completion_relay(std::uint8_t, void *);
};

}  // namespace tolvex::bench::ui

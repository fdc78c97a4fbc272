// A page model against the simulated terminal, without any widget: a view that keeps
// each control's state in maps and records what the page said, and a command road
// that sleeps on the library's completion notices and keeps the reports.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "command_step.hpp"
#include "completion_wait.hpp"
#include "page_view.hpp"

namespace tolvex::bench::testing {

class FakeView final : public PageView {
 public:
  std::wstring text(int c) const override { return value(texts, c); }
  void set_text(int c, std::wstring_view t) override { texts[c] = std::wstring(t); }
  bool checked(int c) const override { return value(checks, c); }
  void set_checked(int c, bool on) override { checks[c] = on; }
  void set_items(int c, const std::vector<std::wstring> &list) override {
    items[c] = list;
    selections[c] = list.empty() ? -1 : 0;
  }
  // A list's text follows its selection, as a drop-down list shows it.
  int selection(int c) const override {
    const auto it = selections.find(c);
    return it == selections.end() ? -1 : it->second;
  }
  void set_selection(int c, int index) override {
    selections[c] = index;
    const auto it = items.find(c);
    if (it != items.end() && index >= 0 && static_cast<std::size_t>(index) < it->second.size()) {
      texts[c] = it->second[static_cast<std::size_t>(index)];
    }
  }
  void set_enabled(int c, bool on) override { enabled[c] = on; }
  void message(std::wstring_view t) override { messages.emplace_back(t); }
  bool ask(std::wstring_view t) override {
    questions.emplace_back(t);
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  void set_marked(int c, bool on, std::wstring_view why) override { marks[c] = on ? std::wstring(why) : L""; }
  void mark_characters(int c, const std::vector<std::size_t> &positions) override { character_marks[c] = positions; }

  bool is_enabled(int c) const {
    const auto it = enabled.find(c);
    return it == enabled.end() || it->second;
  }

  std::map<int, std::wstring> texts;
  std::map<int, bool> checks;
  std::map<int, std::vector<std::wstring>> items;
  std::map<int, int> selections;
  std::map<int, bool> enabled;
  std::map<int, std::wstring> marks;  // a marked control's reason
  std::map<int, std::vector<std::size_t>> character_marks;
  std::vector<std::wstring> messages;
  std::vector<std::wstring> questions;
  std::deque<bool> answers;  // given to the questions in turn; no when none is left

 private:
  template <typename Map>
  static typename Map::mapped_type value(const Map &map, int c) {
    const auto it = map.find(c);
    return it == map.end() ? typename Map::mapped_type{} : it->second;
  }
};

// The command road of a headless run: every message goes to the view's list, every
// report is kept whole, the report window is a string.
class WaitingCommands final : public PageCommands, private StepHost {
 public:
  explicit WaitingCommands(FakeView &view) : view_(view), step_(*this) {}

  bool run(std::string_view code, const CommandStep::Starter &start, std::wstring_view failure_text) override {
    if (closing) return false;
    codes.emplace_back(code);
    return step_.run(code, start, failure_text) != StepResult::NotStarted;
  }
  CommandState &state() override { return step_.state(); }
  CommandStep &step() override { return step_; }
  void set_report_text(std::wstring_view text) override { report_text = std::wstring(text); }
  bool shutting_down() const override { return closing; }

  std::vector<std::string> codes;    // every command asked for, started or not
  std::vector<std::wstring> reports;  // each finished command's report
  std::wstring report_text;           // the report window
  int mode = 0;  // the View list: 0 "String", any other value "HEX"
  bool closing = false;

 private:
  bool wait(const std::function<bool()> &collected) override { return completion_.wait(collected); }
  void message(std::wstring_view text) override { view_.message(text); }
  void report(const std::wstring &text) override {
    reports.push_back(text);
    report_text = text;
  }
  int view_mode() override { return mode; }

  FakeView &view_;
  CommandStep step_;
  CompletionWait completion_;
};

// A fresh simulated terminal on the library's port for each test, and everything the
// library sent it.
class SimulatedTerminal : public ::testing::Test {
 protected:
  void SetUp() override { start_terminal({}); }
  void TearDown() override { DisablePort(); }

  void start_terminal(sim::Options options) {
    DisablePort();
    sim_.reset();
    options.instant = true;
#ifdef _WIN32
    options.listen = "127.0.0.1:0";  // no pseudo-terminals on Windows: the loopback
#endif
    options.on_bytes = [this](bool from_host, const std::uint8_t *bytes, std::size_t n) {
      if (!from_host) return;
      std::lock_guard<std::mutex> lock(bytes_mutex_);
      received_.append(reinterpret_cast<const char *>(bytes), n);
    };
    sim_ = std::make_unique<sim::Simulator>(std::move(options));
    ASSERT_TRUE(sim_->start());
    ASSERT_NE(EnablePort(sim_->path().c_str(), 8, 0, 0, 38400, 0), 0);
  }

  // The bytes the terminal received so far (frames and their acknowledgements).
  std::string received() {
    std::lock_guard<std::mutex> lock(bytes_mutex_);
    return received_;
  }
  bool received_contains(std::string_view bytes) { return received().find(bytes) != std::string::npos; }
  void forget_received() {
    std::lock_guard<std::mutex> lock(bytes_mutex_);
    received_.clear();
  }

  std::unique_ptr<sim::Simulator> sim_;
  FakeView view_;
  WaitingCommands commands_{view_};

 private:
  std::mutex bytes_mutex_;
  std::string received_;
};

}  // namespace tolvex::bench::testing

// Aging benchmark: a 1000-cycle MS run (track 1 written and read) on the instantly
// answering simulated terminal, with the pause between cycles set to 0. Prints the
// bench's own time per cycle, which leaves out the time spent waiting for the
// terminal's answers; the target is under 1 ms.
#include <chrono>
#include <cstdio>

#include "aging_engine.hpp"
#include "completion_wait.hpp"
#include "run_figures.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace tb = tolvex::bench;

using tolvex::benchmarks::thread_cpu_seconds;

// Waits on the library's notifications and adds up the time spent waiting.
class TimedHost final : public tb::StepHost {
 public:
  bool wait(const std::function<bool()> &collected) override {
    const auto start = Clock::now();
    const bool done = completion_.wait(collected);
    waiting += Clock::now() - start;
    return done;
  }
  void message(std::wstring_view) override { ++messages; }
  void report(const std::wstring &text) override { report_chars += text.size(); }

  Clock::duration waiting{};
  int messages = 0;
  std::size_t report_chars = 0;

 private:
  tb::CompletionWait completion_;
};

// The page's initial choices with track 1 written and read; nothing is drawn on screen.
class Controls final : public tb::AgingControls {
 public:
  explicit Controls(int cycles) : count_(std::to_wstring(cycles)) {
    for (std::size_t t = 0; t < 3; ++t) write_[t] = std::wstring(tb::kAgingTrackTexts[t]);
  }
  std::wstring count_text() override { return count_; }
  bool all_read() override { return false; }
  tb::AgingKind kind() override { return tb::AgingKind::Ms; }
  bool stacker() override { return true; }
  bool eject_capture() override { return true; }
  bool rotation() override { return true; }
  bool write_track(int track) override { return track == 1; }
  bool read_track(int track) override { return track == 1; }
  std::wstring write_text(int track) override { return write_[static_cast<std::size_t>(track - 1)]; }
  std::wstring ic_text() override { return std::wstring(tb::kAgingIcText); }
  std::wstring rf_text() override { return std::wstring(tb::kAgingRfText); }
  void set_write_text(int track, const std::wstring &text) override { write_[static_cast<std::size_t>(track - 1)] = text; }
  void set_read_text(int track, const std::wstring &text) override { read_[static_cast<std::size_t>(track - 1)] = text; }
  void set_ic_text(const std::wstring &) override {}
  void set_ic_output(const std::wstring &) override {}
  void set_rf_output(const std::wstring &) override {}
  void show_remain(std::int32_t remain) override { remain_ = remain; }
  void show_error_texts(const std::array<std::wstring, 5> &texts) override { errors_ = texts; }
  void message(std::wstring_view) override { ++messages; }
  void pause(std::chrono::milliseconds) override {}
  int messages = 0;

 private:
  std::wstring count_;
  std::array<std::wstring, 3> write_;
  std::array<std::wstring, 3> read_;
  std::array<std::wstring, 5> errors_;
  std::int32_t remain_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
  const int cycles = tolvex::benchmarks::cycles_argument(argc, argv, 1000);
  if (cycles == 0) return 2;
  const auto sim = tolvex::benchmarks::stocked_simulator(cycles);
  if (!sim || !tolvex::benchmarks::open_port(*sim)) return 1;

  TimedHost host;
  tb::CommandStep step(host);
  Controls controls(cycles);
  tb::AgingEngine engine(step, controls);
  engine.set_pause(std::chrono::milliseconds(0));

  const auto start = Clock::now();
  const double cpu_start = thread_cpu_seconds();
  tb::AgingSummary summary;
  engine.run(&summary);
  const double cpu = thread_cpu_seconds() - cpu_start;
  const auto total = Clock::now() - start;
  DisablePort();

  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  const double n = summary.done > 0 ? summary.done : 1;
  std::printf("aging run: %d of %d MS cycles (C31 M33 M31 C33 each), pause 0, instant terminal\n", summary.done,
              summary.count);
  std::printf("  whole cycle            %8.3f ms\n", ms(total) / n);
  std::printf("  waiting for answers    %8.3f ms\n", ms(host.waiting) / n);
  std::printf("  bench's own time       %8.3f ms   (target < 1 ms)\n", ms(total - host.waiting) / n);
  std::printf("  bench thread CPU       %8.3f ms\n", cpu * 1000.0 / n);
  if (summary.end != tb::AgingEnd::Completed || controls.messages != 0 || host.messages != 0) {
    std::fprintf(stderr, "the run did not complete cleanly\n");
    return 1;
  }
  return 0;
}

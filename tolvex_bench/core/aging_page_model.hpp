// The "Aging" page without its window: the endurance run's choices and live results,
// the run's record and the data of the failure-rate plot. The page's boxes go through
// the common page view; what only this page shows (the plot, the progress, the status
// line's tip) and its live pause go through the aging display.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aging_engine.hpp"
#include "aging_record.hpp"
#include "page_view.hpp"

namespace tolvex::bench {

// The plot keeps at most this many points per medium, however long the run: the rate at
// the end of each stretch of N / kAgingPlotStretches cycles, and the latest cycle's in place.
inline constexpr std::uint32_t kAgingPlotStretches = 200;
// The plot and the progress are redrawn at most this often during a run, and at its end.
inline constexpr std::chrono::milliseconds kAgingRedrawInterval{250};

// The failure rate in percent per medium against the cycle number, ready to draw.
struct AgingPlot {
  static constexpr std::size_t kMedia = 5;
  // "Track1", "Track2", "Track3", "IC", "RF": the legend, in the order of `points`.
  static constexpr std::array<std::wstring_view, kMedia> kNames = {L"Track1", L"Track2", L"Track3", L"IC", L"RF"};

  struct Point {
    double cycle = 0;
    double rate = 0;  // percent
  };
  std::array<std::vector<Point>, kMedia> points;
  // The axes: cycles from x_min to x_max (1 to N, at least 2), rates from 0 to y_max.
  double x_min = 1;
  double x_max = 2;
  double y_max = 1;
};

// What the Aging page shows beyond its controls, and its pause.
class AgingDisplay {
 public:
  virtual ~AgingDisplay() = default;

  // Waits `duration` while the window stays live; cut_pause() ends a pause early.
  virtual void pause(std::chrono::milliseconds duration) = 0;
  virtual void cut_pause() = 0;
  virtual void redraw_plot(const AgingPlot &plot) = 0;
  // The progress bar: `value` of 0 to `maximum`.
  virtual void set_progress(std::int32_t value, std::int32_t maximum) = 0;
  // The status line's tip (the whole summary after a run; empty for none).
  virtual void set_status_tip(std::wstring_view tip) = 0;
};

class AgingPageModel final : private AgingControls {
 public:
  enum Control : int {
    Count,         // "Count" box
    Remain,        // cycles left
    Ms,            // kind radio buttons
    Ic,
    Rf,
    AllRead,
    Stacker,       // "Stacker" check box and its list
    StackerList,
    EjectCapture,
    Rotation,
    Write1,        // track check boxes
    Write2,
    Write3,
    Read1,
    Read2,
    Read3,
    WriteText1,    // track texts
    WriteText2,
    WriteText3,
    ReadText1,
    ReadText2,
    ReadText3,
    IcInput,
    IcOutput,
    RfInput,
    RfOutput,
    Error1,        // error statistics labels: tracks 1 to 3, IC, RF
    Error2,
    Error3,
    Error4,
    Error5,
    Start,
    Stop,
    Wr,
    Rd,
    Status,        // status line: the hold, or how the run ended
    Record,        // where the record went
  };

  using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

  AgingPageModel(PageView &view, AgingDisplay &display, PageCommands &commands);
  ~AgingPageModel() override;

  // Fills the list and the initial texts and checks.
  void init();

  // "START": the whole run; ignored inside a run and while closing.
  void start();
  // "STOP": the run ends at its next cycle start.
  void stop();
  // "WR" / "RD": all three track boxes checked unless all already are; then none.
  void wr();
  void rd();
  // "All Read" toggled: the three read boxes are enabled unless it is checked.
  void all_read_changed();
  // A kind radio button toggled: the MS row is enabled for MS only.
  void kind_changed();

  // The window is closing: a run ends after the command in flight, a pause is cut short.
  void shut_down();

  // The aging-stopped flag shared with the main dialog: 1 idle, 0 while a run is active.
  std::uint8_t aging_stopped() const { return engine_.aging_stopped(); }
  void set_aging_stopped(std::uint8_t stopped) { engine_.set_aging_stopped(stopped); }

  // Folder of the run records (relative ones resolved at each start).
  void set_record_folder(std::filesystem::path folder) { record_folder_ = std::move(folder); }
  // The CSV record of the last run; empty before the first.
  const std::filesystem::path &record_path() const { return record_path_; }

  // The plot as last computed (drawn at most every kAgingRedrawInterval).
  const AgingPlot &plot() const { return plot_; }
  // The clock of the redraw interval (steady_clock::now unless replaced).
  void set_clock(SteadyClock clock) { clock_ = std::move(clock); }

  AgingEngine &engine() { return engine_; }

 private:
  // The engine's view of the page.
  std::wstring count_text() override;
  bool all_read() override;
  AgingKind kind() override;
  bool stacker() override;
  bool eject_capture() override;
  bool rotation() override;
  bool write_track(int track) override;
  bool read_track(int track) override;
  std::wstring write_text(int track) override;
  std::wstring ic_text() override;
  std::wstring rf_text() override;
  void set_write_text(int track, const std::wstring &text) override;
  void set_read_text(int track, const std::wstring &text) override;
  void set_ic_text(const std::wstring &text) override;
  void set_ic_output(const std::wstring &text) override;
  void set_rf_output(const std::wstring &text) override;
  void show_remain(std::int32_t remain) override;
  void show_error_texts(const std::array<std::wstring, 5> &texts) override;
  void message(std::wstring_view text) override;
  void pause(std::chrono::milliseconds duration) override;
  void run_started(std::int32_t count) override;
  void cycle_finished(const AgingCycle &cycle, const AgingStats &stats) override;
  void card_held(AgingRecord::Clock::time_point since) override;
  void hold_ended(const AgingStep &held) override;
  void run_finished(const AgingSummary &summary) override;

  void toggle_all(Control first);
  void redraw();
  void warn_if_needed();

  PageView &view_;
  AgingDisplay &display_;
  AgingEngine engine_;
  SteadyClock clock_;
  std::filesystem::path record_folder_ = "aging-records";
  std::filesystem::path record_path_;
  std::optional<AgingRecord> record_;
  AgingRecord::Clock::time_point start_;
  bool shutting_down_ = false;

  AgingPlot plot_;
  std::int32_t count_ = 0;        // N of the run, for the progress
  std::uint32_t done_ = 0;        // cycles completed
  std::uint32_t stretch_ = 1;     // cycles per plotted point
  bool latest_in_place_ = false;  // the last point is the latest cycle's, replaced by the next
  std::chrono::steady_clock::time_point redrawn_;
};

}  // namespace tolvex::bench

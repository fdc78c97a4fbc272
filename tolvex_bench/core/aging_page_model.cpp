#include "aging_page_model.hpp"

#include <algorithm>
#include <cwctype>

#include "decimal.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

using C = AgingPageModel::Control;

C write_check(int track) { return static_cast<C>(C::Write1 + track - 1); }
C read_check(int track) { return static_cast<C>(C::Read1 + track - 1); }
C write_box(int track) { return static_cast<C>(C::WriteText1 + track - 1); }
C read_box(int track) { return static_cast<C>(C::ReadText1 + track - 1); }

std::wstring upper_case(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t &ch : out) ch = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(ch)));
  return out;
}

// A path as shown: native wide names on Windows, UTF-8 elsewhere.
std::wstring path_text(const std::filesystem::path &path) {
#ifdef _WIN32
  return path.wstring();
#else
  return to_wide(path.string());
#endif
}

// The summary's lines without the surrounding blank space.
std::wstring trimmed(std::wstring text) {
  const auto blank = [](wchar_t ch) { return std::iswspace(static_cast<std::wint_t>(ch)) != 0; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  text.erase(text.begin(), first);
  return text;
}

}  // namespace

AgingPageModel::AgingPageModel(PageView &view, AgingDisplay &display, PageCommands &commands)
    : view_(view), display_(display), engine_(commands.step(), *this), clock_([] { return std::chrono::steady_clock::now(); }) {}

AgingPageModel::~AgingPageModel() = default;

void AgingPageModel::init() {
  view_.set_checked(C::Ms, true);
  view_.set_checked(C::EjectCapture, true);
  view_.set_checked(C::Stacker, true);
  view_.set_items(C::StackerList, {L"Stacker1", L"Stacker2", L"Auto"});
  view_.set_selection(C::StackerList, 2);
  view_.set_text(C::Count, L"1");
  view_.set_checked(C::Rotation, true);
  for (int track = 1; track <= 3; ++track) view_.set_text(write_box(track), kAgingTrackTexts[track - 1]);
  // The IC and RF boxes hold upper-case text, the initial texts too.
  view_.set_text(C::IcInput, upper_case(kAgingIcText));
  view_.set_text(C::RfInput, upper_case(kAgingRfText));
  static constexpr std::wstring_view kErrorLabels[5] = {L"Track1: ", L"Track2: ", L"Track3: ", L"IC: ", L"RF: "};
  for (int m = 0; m < 5; ++m) view_.set_text(C::Error1 + m, kErrorLabels[m]);
}

void AgingPageModel::start() {
  if (shutting_down_) return;
  // Inside a run START is ignored: the engine refuses a second run.
  engine_.run();
}

void AgingPageModel::stop() { engine_.request_stop(); }

void AgingPageModel::toggle_all(Control first) {
  bool all = true;
  for (int k = 0; k < 3; ++k) all = all && view_.checked(first + k);
  for (int k = 0; k < 3; ++k) view_.set_checked(first + k, !all);
}

void AgingPageModel::wr() { toggle_all(C::Write1); }

void AgingPageModel::rd() { toggle_all(C::Read1); }

void AgingPageModel::all_read_changed() {
  const bool enable = !view_.checked(C::AllRead);
  for (int track = 1; track <= 3; ++track) view_.set_enabled(read_check(track), enable);
}

void AgingPageModel::kind_changed() {
  const bool ms = view_.checked(C::Ms);
  for (C c : {C::Wr, C::Rd, C::Write1, C::Write2, C::Write3, C::Read1, C::Read2, C::Read3, C::AllRead}) {
    view_.set_enabled(c, ms);
  }
}

void AgingPageModel::shut_down() {
  shutting_down_ = true;
  engine_.request_abandon();
  display_.cut_pause();
}

std::wstring AgingPageModel::count_text() { return view_.text(C::Count); }
bool AgingPageModel::all_read() { return view_.checked(C::AllRead); }
AgingKind AgingPageModel::kind() {
  if (view_.checked(C::Ic)) return AgingKind::Ic;
  if (view_.checked(C::Rf)) return AgingKind::Rf;
  return AgingKind::Ms;
}
bool AgingPageModel::stacker() { return view_.checked(C::Stacker); }
bool AgingPageModel::eject_capture() { return view_.checked(C::EjectCapture); }
bool AgingPageModel::rotation() { return view_.checked(C::Rotation); }
bool AgingPageModel::write_track(int track) { return view_.checked(write_check(track)); }
bool AgingPageModel::read_track(int track) { return view_.checked(read_check(track)); }
std::wstring AgingPageModel::write_text(int track) { return view_.text(write_box(track)); }
std::wstring AgingPageModel::ic_text() { return view_.text(C::IcInput); }
std::wstring AgingPageModel::rf_text() { return view_.text(C::RfInput); }

void AgingPageModel::set_write_text(int track, const std::wstring &text) { view_.set_text(write_box(track), text); }
void AgingPageModel::set_read_text(int track, const std::wstring &text) { view_.set_text(read_box(track), text); }
void AgingPageModel::set_ic_text(const std::wstring &text) { view_.set_text(C::IcInput, text); }
void AgingPageModel::set_ic_output(const std::wstring &text) { view_.set_text(C::IcOutput, text); }
void AgingPageModel::set_rf_output(const std::wstring &text) { view_.set_text(C::RfOutput, text); }
void AgingPageModel::show_remain(std::int32_t remain) { view_.set_text(C::Remain, decimal_text(remain)); }
void AgingPageModel::show_error_texts(const std::array<std::wstring, 5> &texts) {
  for (int m = 0; m < 5; ++m) view_.set_text(C::Error1 + m, texts[static_cast<std::size_t>(m)]);
}
void AgingPageModel::message(std::wstring_view text) { view_.message(text); }

void AgingPageModel::pause(std::chrono::milliseconds duration) {
  if (shutting_down_) return;
  display_.pause(duration);
}

void AgingPageModel::run_started(std::int32_t count) {
  view_.set_enabled(C::Start, false);
  count_ = count;
  done_ = 0;
  display_.set_progress(0, std::max(count, 1));
  const auto n = static_cast<std::uint32_t>(std::max(count, 1));
  stretch_ = std::max<std::uint32_t>(1, (n + kAgingPlotStretches - 1) / kAgingPlotStretches);
  latest_in_place_ = false;
  plot_ = AgingPlot{};
  plot_.x_max = std::max(count, 2);
  display_.redraw_plot(plot_);
  redrawn_ = clock_();

  const auto now = AgingRecord::Clock::now();
  start_ = now;
  view_.set_text(C::Status, L"");
  display_.set_status_tip(L"");
  record_.emplace(std::filesystem::absolute(record_folder_), now);
  record_->begin();
  record_path_ = record_->csv_path();
  view_.set_text(C::Record, L"Record: " + path_text(record_path_));
  warn_if_needed();
}

void AgingPageModel::cycle_finished(const AgingCycle &cycle, const AgingStats &stats) {
  if (record_) record_->add(cycle, AgingRecord::Clock::now());
  warn_if_needed();
  if (!cycle.complete) return;
  done_ = cycle.number;
  const std::uint32_t counts[AgingPlot::kMedia] = {stats.track1(), stats.track2(), stats.track3(), stats.ic(),
                                                   stats.rf()};
  for (std::size_t m = 0; m < AgingPlot::kMedia; ++m) {
    const double rate = 100.0 * counts[m] / cycle.number;
    const AgingPlot::Point point{static_cast<double>(cycle.number), rate};
    std::vector<AgingPlot::Point> &points = plot_.points[m];
    if (latest_in_place_ && !points.empty()) {
      points.back() = point;
    } else {
      points.push_back(point);
    }
    plot_.y_max = std::max(plot_.y_max, rate);
  }
  // A stretch's last cycle keeps its point; the next cycle starts a new one.
  latest_in_place_ = cycle.number % stretch_ != 0;
  if (clock_() - redrawn_ > kAgingRedrawInterval) redraw();
}

void AgingPageModel::card_held(AgingRecord::Clock::time_point since) {
  view_.set_text(C::Status, to_wide(held_text(since)));
}

void AgingPageModel::hold_ended(const AgingStep &held) { view_.set_text(C::Status, to_wide(hold_ended_text(held))); }

void AgingPageModel::run_finished(const AgingSummary &summary) {
  redraw();
  // The status line says how the run ended; the whole summary is its tip.
  const auto end = AgingRecord::Clock::now();
  const std::wstring text = trimmed(to_wide(summary_text(summary, start_, end)));
  const std::size_t last = text.rfind(L'\n');
  view_.set_text(C::Status, last == std::wstring::npos ? text : text.substr(last + 1));
  display_.set_status_tip(text);
  if (record_) {
    record_->finish(summary, end);
    warn_if_needed();
    record_.reset();
  }
  view_.set_enabled(C::Start, true);
}

void AgingPageModel::redraw() {
  display_.set_progress(static_cast<std::int32_t>(std::min<std::uint32_t>(done_, INT32_MAX)), std::max(count_, 1));
  display_.redraw_plot(plot_);
  redrawn_ = clock_();
}

// A record that cannot be written says so once on the page; the run goes on.
void AgingPageModel::warn_if_needed() {
  if (!record_) return;
  const std::string warning = record_->take_warning();
  if (warning.empty()) return;
  view_.set_text(C::Record, L"Record not written: " + to_wide(warning));
}

}  // namespace tolvex::bench

#include "setting_page_model.hpp"

#include <string>
#include <vector>

#include <tolvex/tolvex.h>

#include "port_open.hpp"
#include "setting.hpp"

namespace tolvex::bench {

namespace {

std::vector<std::wstring> number_texts(int first, int last, int step, int width) {
  std::vector<std::wstring> texts;
  for (int v = first; v <= last; v += step) {
    std::wstring text = std::to_wstring(v);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), L'0');
    texts.push_back(std::move(text));
  }
  return texts;
}

// Checks one radio button of a pair.
void choose(PageView &view, int off, int on) {
  view.set_checked(off, false);
  view.set_checked(on, true);
}

}  // namespace

void SettingPageModel::init() {
  view_.set_items(Port, {L" COM 1", L" COM 2", L" COM 3", L" COM 4"});
  view_.set_selection(Port, 0);
  view_.set_items(Baud, {L" 9600  BPS", L" 19200 BPS", L" 38400 BPS", L" 57600 BPS"});
  view_.set_selection(Baud, 2);
  view_.set_checked(Demo, true);

  view_.set_items(Year, number_texts(2013, 2024, 1, 4));
  view_.set_selection(Year, 0);
  view_.set_items(Month, number_texts(1, 12, 1, 2));
  view_.set_selection(Month, 0);
  view_.set_items(Day, number_texts(1, 31, 1, 2));
  view_.set_selection(Day, 0);
  // Hours and minutes start at "00" so that midnight can be set; "01" is selected first.
  view_.set_items(Hour, number_texts(0, 23, 1, 2));
  view_.set_selection(Hour, 1);
  view_.set_items(Minute, number_texts(0, 59, 1, 2));
  view_.set_selection(Minute, 1);
  choose(view_, RtcSetup, RtcCheck);

  view_.set_items(Retry, number_texts(0, 3, 1, 1));
  view_.set_selection(Retry, 0);
  choose(view_, RetrySetting, RetryCheck);

  view_.set_items(Capture, number_texts(0, 60, 10, 1));
  view_.set_selection(Capture, 0);
  choose(view_, CaptureSetting, CaptureCheck);
}

void SettingPageModel::port_open() {
  const int port = view_.selection(Port);
  const auto rate = rate_for_index(view_.selection(Baud));
  if (!rate) return;

  if (view_.checked(Demo)) {
    if (open_port(view_, port, 0, 0, 8, 0, rate->text) == 1) {
      commands_.set_report_text(L"Result: Port Open Success!!");
    }
    return;
  }
  const std::uint8_t number = rate->number;
  if (!commands_.run("C26", [number] { return baudrate(number); })) return;
  // The PC side follows the terminal to the new rate; the report of "C26" stays.
  open_port(view_, port, 0, 0, 8, 0, rate->text);
}

void SettingPageModel::rtc_execute() {
  if (view_.checked(RtcSetup)) {
    const DateTimeRecord record =
        rtc_record(view_.text(Year), view_.text(Month), view_.text(Day), view_.text(Hour), view_.text(Minute));
    commands_.run("C21", [&record] { return set_rtc(1, record.data()); });
  } else if (view_.checked(RtcCheck)) {
    if (!commands_.run("C21", [] { return set_rtc(2, nullptr); })) return;
    const CommandState &state = commands_.state();
    view_.set_text(Clock, state.result == 0 ? clock_text(state.response.data()) : std::wstring());
  } else {
    view_.message(L" 항목을 선택해주세요! ");
  }
}

void SettingPageModel::retry_apply() {
  if (view_.checked(RetrySetting)) {
    const auto count = static_cast<std::uint8_t>(view_.selection(Retry));
    commands_.run("C24", [count] { return rty_cnt(1, count); });
  } else if (view_.checked(RetryCheck)) {
    if (!commands_.run("C24", [] { return rty_cnt(2, 0); })) return;
    const CommandState &state = commands_.state();
    view_.set_text(RetryText, state.result == 0 ? retry_text(state.response[0]) : std::wstring());
  }
}

void SettingPageModel::capture_apply() {
  if (view_.checked(CaptureSetting)) {
    const auto value = static_cast<std::uint8_t>(view_.selection(Capture));
    commands_.run("C23", [value] { return capture_time(1, value); });
  } else if (view_.checked(CaptureCheck)) {
    if (!commands_.run("C23", [] { return capture_time(2, 0); })) return;
    const CommandState &state = commands_.state();
    if (state.result != 0) return;
    if (const auto text = capture_text(state.response[0])) view_.set_text(CaptureText, *text);
  }
}

}  // namespace tolvex::bench

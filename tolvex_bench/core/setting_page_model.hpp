// The "Setting" page: opens the port, and sets or reads back the terminal's line
// speed, clock, retry count and capture time.
#pragma once

#include "page_view.hpp"

namespace tolvex::bench {

class SettingPageModel {
 public:
  enum Control : int {
    Port,            // " COM 1" to " COM 4"
    Baud,            // the four line speeds
    Demo,            // "Demo Program Only": open the PC side without telling the terminal
    Year, Month, Day, Hour, Minute,
    RtcSetup, RtcCheck,
    Clock,           // the clock read back
    Retry,           // the count to set
    RetrySetting, RetryCheck,
    RetryText,       // the count read back
    Capture,         // the capture time to set
    CaptureSetting, CaptureCheck,
    CaptureText,     // the capture time read back
  };

  SettingPageModel(PageView &view, PageCommands &commands) : view_(view), commands_(commands) {}

  // The lists, their first selections and the chosen radio buttons.
  void init();

  void port_open();
  void rtc_execute();
  void retry_apply();
  void capture_apply();

 private:
  PageView &view_;
  PageCommands &commands_;
};

}  // namespace tolvex::bench

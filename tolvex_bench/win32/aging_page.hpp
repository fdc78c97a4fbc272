// The "Aging" tab: a thin view of the Aging page model; its plot is painted with GDI,
// its pauses keep the window live.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "aging_page_model.hpp"
#include "dialog_window.hpp"
#include "win32_commands.hpp"

namespace tolvex::bench::win32 {

class CAging final : public DialogWindow, private AgingDisplay {
 public:
  explicit CAging(PageCommands &commands);

  AgingPageModel &model() { return model_; }

 protected:
  void on_init() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) override;

 private:
  // What the page shows beyond its boxes, and its pause.
  void pause(std::chrono::milliseconds duration) override;
  void cut_pause() override { pause_cut_ = true; }
  void redraw_plot(const AgingPlot &plot) override;
  void set_progress(std::int32_t value, std::int32_t maximum) override;
  void set_status_tip(std::wstring_view tip) override;

  PageCommands &commands_;
  AgingPageModel model_;
  AgingPlot plot_;  // as last handed over for drawing
  HWND tip_ = nullptr;
  bool pause_cut_ = false;
  HeldQuit quit_;
};

}  // namespace tolvex::bench::win32

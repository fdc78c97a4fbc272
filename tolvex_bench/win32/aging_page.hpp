// The "Aging" tab: a thin view of the Aging page model; its plot is painted with GDI.
#pragma once

#include <vector>

#include "dialog_window.hpp"
#include "plot_painter.hpp"

namespace tolvex::bench::win32 {

class CAging final : public DialogWindow {
 public:
  explicit CAging(PageCommands &commands);

  // New points for the plot: the plot is only invalidated here and painted when the
  // window asks.
  void set_plot(std::vector<PlotSeries> series, double y_max);

 protected:
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) override;

 private:
  PageCommands &commands_;
  std::vector<PlotSeries> plot_;
  double plot_max_ = 100.0;
};

// The media of the Aging page's plot, in its legend's order.
std::vector<PlotSeries> empty_aging_plot();

}  // namespace tolvex::bench::win32

#include "aging_page.hpp"

#include "tolvex_bench_ids.h"

namespace tolvex::bench::win32 {

CAging::CAging(PageCommands &commands)
    : DialogWindow(IDD_CAging), commands_(commands), plot_(empty_aging_plot()) {}

std::vector<PlotSeries> empty_aging_plot() {
  return {{L"Track1", {}}, {L"Track2", {}}, {L"Track3", {}}, {L"IC", {}}, {L"RF", {}}};
}

void CAging::set_plot(std::vector<PlotSeries> series, double y_max) {
  plot_ = std::move(series);
  plot_max_ = y_max;
  InvalidateRect(item(IDC_framePlot), nullptr, FALSE);
}

bool CAging::on_message(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR &result) {
  if (message == WM_DRAWITEM && wparam == IDC_framePlot) {
    const auto *draw = reinterpret_cast<const DRAWITEMSTRUCT *>(lparam);
    paint_plot(draw->hDC, draw->rcItem, plot_, plot_max_);
    result = TRUE;
    return true;
  }
  return DialogWindow::on_message(message, wparam, lparam, result);
}

}  // namespace tolvex::bench::win32

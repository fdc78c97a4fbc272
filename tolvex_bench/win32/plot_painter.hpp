// The Aging page's plot: per medium, the error rate in % over the cycles so far, drawn
// with GDI into a memory bitmap and copied to the window in one piece.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace tolvex::bench::win32 {

struct PlotSeries {
  std::wstring name;           // shown in the legend
  std::vector<double> points;  // y in % for x = 1..N
};

// Draws `series` into `area` of `dc`: axes, y from 0 to `y_max` %, x from 1 to the
// longest series, one colour per series and a legend of their names.
void paint_plot(HDC dc, const RECT &area, const std::vector<PlotSeries> &series, double y_max);

// The colour of series `index` (cycling).
COLORREF plot_colour(std::size_t index);

}  // namespace tolvex::bench::win32

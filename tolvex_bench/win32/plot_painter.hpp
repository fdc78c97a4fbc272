// The Aging page's plot: per medium, the failure rate in % against the cycle number,
// drawn with GDI into a memory bitmap and copied to the window in one piece.
#pragma once

#include <windows.h>

#include <cstddef>

#include "aging_page_model.hpp"

namespace tolvex::bench::win32 {

// Draws `plot` into `area` of `dc`: axes with their ends marked (cycles x_min to x_max,
// rates 0 to y_max %), one line per medium in its colour and the legend of the media.
void paint_plot(HDC dc, const RECT &area, const AgingPlot &plot);

// The colour of medium `index` (cycling).
COLORREF plot_colour(std::size_t index);

}  // namespace tolvex::bench::win32

#include "plot_painter.hpp"

#include <algorithm>
#include <cmath>

namespace tolvex::bench::win32 {

namespace {

constexpr std::array<COLORREF, 5> kColours = {RGB(0, 0, 255), RGB(255, 0, 0), RGB(0, 160, 0), RGB(160, 0, 160),
                                              RGB(200, 120, 0)};

class GdiObject {
 public:
  GdiObject(HDC dc, HGDIOBJ object) : dc_(dc), object_(object), old_(SelectObject(dc, object)) {}
  ~GdiObject() {
    SelectObject(dc_, old_);
    DeleteObject(object_);
  }
  GdiObject(const GdiObject &) = delete;
  GdiObject &operator=(const GdiObject &) = delete;

 private:
  HDC dc_;
  HGDIOBJ object_;
  HGDIOBJ old_;
};

}  // namespace

COLORREF plot_colour(std::size_t index) { return kColours[index % kColours.size()]; }

void paint_plot(HDC dc, const RECT &area, const std::vector<PlotSeries> &series, double y_max) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
  HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
  {
    const RECT whole = {0, 0, width, height};
    FillRect(memory, &whole, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(memory, TRANSPARENT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(memory, &metrics);
    const int line = metrics.tmHeight;

    // The legend takes a column on the right, the axes' labels a margin on the left.
    int legend_width = 0;
    for (const PlotSeries &s : series) {
      SIZE size{};
      GetTextExtentPoint32W(memory, s.name.c_str(), static_cast<int>(s.name.size()), &size);
      legend_width = std::max<int>(legend_width, size.cx);
    }
    legend_width += legend_width > 0 ? 24 : 0;
    const RECT plot = {28, line / 2 + 2, std::max(30, width - legend_width - 6), std::max(line, height - line - 4)};

    {
      GdiObject axis_pen(memory, CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
      MoveToEx(memory, plot.left, plot.top, nullptr);
      LineTo(memory, plot.left, plot.bottom);
      LineTo(memory, plot.right, plot.bottom);
    }
    const double top = y_max > 0 ? y_max : 1.0;
    std::size_t longest = 0;
    for (const PlotSeries &s : series) longest = std::max(longest, s.points.size());
    wchar_t label[32];
    swprintf(label, 32, L"%g%%", top);
    TextOutW(memory, 2, plot.top - line / 2, label, static_cast<int>(wcslen(label)));
    TextOutW(memory, 2, plot.bottom - line / 2, L"0", 1);
    swprintf(label, 32, L"%zu", longest);
    TextOutW(memory, plot.right - 6 * static_cast<int>(wcslen(label)), plot.bottom + 2, label,
             static_cast<int>(wcslen(label)));

    const double span_x = longest > 1 ? static_cast<double>(longest - 1) : 1.0;
    for (std::size_t i = 0; i < series.size(); ++i) {
      GdiObject pen(memory, CreatePen(PS_SOLID, 1, plot_colour(i)));
      const std::vector<double> &points = series[i].points;
      for (std::size_t k = 0; k < points.size(); ++k) {
        const double y = std::clamp(points[k] / top, 0.0, 1.0);
        const int px = plot.left + static_cast<int>(std::lround(static_cast<double>(k) / span_x * (plot.right - plot.left)));
        const int py = plot.bottom - static_cast<int>(std::lround(y * (plot.bottom - plot.top)));
        if (k == 0) {
          MoveToEx(memory, px, py, nullptr);
          if (points.size() == 1) LineTo(memory, px + 1, py);
        } else {
          LineTo(memory, px, py);
        }
      }
      const int ly = plot.top + static_cast<int>(i) * line;
      MoveToEx(memory, plot.right + 6, ly + line / 2, nullptr);
      LineTo(memory, plot.right + 18, ly + line / 2);
      SetTextColor(memory, plot_colour(i));
      TextOutW(memory, plot.right + 22, ly, series[i].name.c_str(), static_cast<int>(series[i].name.size()));
    }
  }
  BitBlt(dc, area.left, area.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old_bitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

}  // namespace tolvex::bench::win32

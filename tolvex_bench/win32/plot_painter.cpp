#include "plot_painter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cwchar>
#include <string>

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

void paint_plot(HDC dc, const RECT &area, const AgingPlot &plot) {
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
    auto text_width = [memory](const wchar_t *text) {
      SIZE size{};
      GetTextExtentPoint32W(memory, text, static_cast<int>(wcslen(text)), &size);
      return static_cast<int>(size.cx);
    };

    // The rate marks take a margin on the left, the legend a column on the right.
    const double top = plot.y_max > 0 ? plot.y_max : 1.0;
    wchar_t top_label[32];
    swprintf(top_label, 32, L"%.3g%%", top);
    const int margin = text_width(top_label) + 4;
    int legend_width = 0;
    for (std::wstring_view name : AgingPlot::kNames) legend_width = std::max(legend_width, text_width(std::wstring(name).c_str()));
    legend_width += 24;
    const RECT frame = {margin, line / 2 + 2, std::max(margin + 2, width - legend_width - 6),
                        std::max(line, height - line - 4)};

    {
      GdiObject axis_pen(memory, CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
      MoveToEx(memory, frame.left, frame.top, nullptr);
      LineTo(memory, frame.left, frame.bottom);
      LineTo(memory, frame.right, frame.bottom);
    }
    TextOutW(memory, 2, frame.top - line / 2, top_label, static_cast<int>(wcslen(top_label)));
    TextOutW(memory, frame.left - text_width(L"0") - 2, frame.bottom - line / 2, L"0", 1);
    wchar_t x_label[32];
    swprintf(x_label, 32, L"%.0f", plot.x_min);
    TextOutW(memory, frame.left, frame.bottom + 2, x_label, static_cast<int>(wcslen(x_label)));
    swprintf(x_label, 32, L"%.0f", plot.x_max);
    TextOutW(memory, frame.right - text_width(x_label), frame.bottom + 2, x_label, static_cast<int>(wcslen(x_label)));

    const double span_x = plot.x_max > plot.x_min ? plot.x_max - plot.x_min : 1.0;
    const int plot_width = frame.right - frame.left;
    const int plot_height = frame.bottom - frame.top;
    for (std::size_t m = 0; m < AgingPlot::kMedia; ++m) {
      GdiObject pen(memory, CreatePen(PS_SOLID, 1, plot_colour(m)));
      const std::vector<AgingPlot::Point> &points = plot.points[m];
      for (std::size_t k = 0; k < points.size(); ++k) {
        const double x = std::clamp((points[k].cycle - plot.x_min) / span_x, 0.0, 1.0);
        const double y = std::clamp(points[k].rate / top, 0.0, 1.0);
        const int px = frame.left + static_cast<int>(std::lround(x * plot_width));
        const int py = frame.bottom - static_cast<int>(std::lround(y * plot_height));
        if (k == 0) {
          MoveToEx(memory, px, py, nullptr);
          if (points.size() == 1) LineTo(memory, px + 1, py);
        } else {
          LineTo(memory, px, py);
        }
      }
      const int ly = frame.top + static_cast<int>(m) * line;
      MoveToEx(memory, frame.right + 6, ly + line / 2, nullptr);
      LineTo(memory, frame.right + 18, ly + line / 2);
      SetTextColor(memory, plot_colour(m));
      const std::wstring_view name = AgingPlot::kNames[m];
      TextOutW(memory, frame.right + 22, ly, name.data(), static_cast<int>(name.size()));
    }
  }
  BitBlt(dc, area.left, area.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old_bitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

}  // namespace tolvex::bench::win32

// Dialog units: the forms give every position and size in units of the dialog font,
// a quarter of its average character width across and an eighth of its height down,
// so the windows keep their proportions whatever font and screen they meet.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace tolvex::bench::ui {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont &font);

  int x(int units) const;
  int y(int units) const;
  QSize size(int width_units, int height_units) const { return {x(width_units), y(height_units)}; }
  QRect rect(const QRect &units) const;

  // Pixels of one horizontal unit times four, one vertical unit times eight.
  int base_width() const { return base_width_; }
  int base_height() const { return base_height_; }

  // Converts the geometry of every widget a form placed under `root` (group boxes and
  // plain frames are walked into) from dialog units to pixels.
  void apply(QWidget *root) const;

 private:
  int base_width_;
  int base_height_;
};

// The dialog font of the bench: the system's sans-serif face at 9 points.
QFont dialog_font();

}  // namespace tolvex::bench::ui

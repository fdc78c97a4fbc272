#include "dialog_units.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QWidget>

#include <algorithm>

namespace tolvex::bench::ui {

namespace {

// A child is walked into only when it is a plain container; the inner widgets of
// combo boxes, text areas and tab widgets belong to those widgets.
bool is_container(const QWidget *w) {
  const QMetaObject *meta = w->metaObject();
  return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject ||
         meta == &QGroupBox::staticMetaObject;
}

}  // namespace

DialogUnits::DialogUnits(const QFont &font) {
  const QFontMetrics metrics(font);
  // The average width is taken over the Latin letters, rounded.
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  base_width_ = std::max(1, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
  base_height_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const { return (units * base_width_ + 2) / 4; }
int DialogUnits::y(int units) const { return (units * base_height_ + 4) / 8; }

QRect DialogUnits::rect(const QRect &units) const {
  return {x(units.x()), y(units.y()), x(units.width()), y(units.height())};
}

void DialogUnits::apply(QWidget *root) const {
  const auto children = root->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
  for (QWidget *child : children) {
    if (child->objectName().isEmpty() || child->objectName().startsWith(QLatin1String("qt_"))) continue;
    child->setGeometry(rect(child->geometry()));
    if (is_container(child)) apply(child);
  }
}

QFont dialog_font() {
  QFont font = QApplication::font();
  font.setPointSize(9);
  return font;
}

}  // namespace tolvex::bench::ui

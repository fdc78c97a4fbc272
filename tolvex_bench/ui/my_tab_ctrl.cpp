#include "my_tab_ctrl.hpp"

#include <QKeyEvent>
#include <QTabBar>
#include <QWheelEvent>

#include "aging_page.hpp"
#include "classic_mifare_page.hpp"
#include "ms_page.hpp"
#include "setting_page.hpp"

namespace {

// Tab bar that lets its owner refuse a change the engineer asks for with the mouse,
// the keyboard or the wheel. Changes made by the program itself are not asked about.
class GuardedTabBar final : public QTabBar {
 public:
  explicit GuardedTabBar(CMyTabCtrl *owner) : QTabBar(owner), owner_(owner) {}

 protected:
  void mousePressEvent(QMouseEvent *event) override {
    const int index = tabAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index >= 0 && index != currentIndex() && !owner_->may_change_to(index)) {
      event->accept();
      return;
    }
    QTabBar::mousePressEvent(event);
    if (QWidget *page = owner_->currentWidget(); page != nullptr && index == currentIndex()) page->setFocus();
  }

  void keyPressEvent(QKeyEvent *event) override {
    // The arrows move one tab and stop at either end; a key that would change nothing
    // is not asked about.
    int step = 0;
    if (event->key() == Qt::Key_Left) step = isRightToLeft() ? 1 : -1;
    if (event->key() == Qt::Key_Right) step = isRightToLeft() ? -1 : 1;
    const int target = currentIndex() + step;
    if (step != 0 && target >= 0 && target < count() && !owner_->may_change_to(target)) {
      event->accept();
      return;
    }
    QTabBar::keyPressEvent(event);
  }

#if QT_CONFIG(wheelevent)
  void wheelEvent(QWheelEvent *event) override {
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    const int target = currentIndex() + (delta > 0 ? -1 : delta < 0 ? 1 : 0);
    if (target != currentIndex() && target >= 0 && target < count() && !owner_->may_change_to(target)) {
      event->accept();
      return;
    }
    QTabBar::wheelEvent(event);
  }
#endif

 private:
  CMyTabCtrl *owner_;
};

}  // namespace

CMyTabCtrl::CMyTabCtrl(QWidget *parent) : QTabWidget(parent) { setTabBar(new GuardedTabBar(this)); }

void CMyTabCtrl::setup(tolvex::bench::ui::CommandRunner &runner) {
  if (count() != 0) return;
  setting_ = new CSetting(runner);
  mifare_ = new CClassicMifare(runner);
  ms_ = new CMsDlg(runner);
  aging_ = new CAging(runner);
  addTab(setting_, QStringLiteral("Setting"));
  addTab(mifare_, QStringLiteral("ClassMifare"));
  addTab(ms_, QStringLiteral("MS/IC"));
  addTab(aging_, QStringLiteral("Aging"));
  setCurrentIndex(0);
}

bool CMyTabCtrl::may_change_to(int index) {
  bool allow = true;
  emit about_to_change(currentIndex(), index, &allow);
  return allow;
}

void CMyTabCtrl::keyPressEvent(QKeyEvent *event) {
  // Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageUp and Ctrl+PageDown switch pages, wrapping round
  // at the ends unless the key repeats.
  const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
  int step = 0;
  if (control && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
    step = (event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier)) ? -1 : 1;
  } else if (control && (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
    step = event->key() == Qt::Key_PageUp ? -1 : 1;
  }
  if (step != 0 && count() > 1) {
    int target = currentIndex() + step;
    if (target < 0 || target >= count()) target = event->isAutoRepeat() ? currentIndex() : (target + count()) % count();
    if (target != currentIndex() && !may_change_to(target)) {
      event->accept();
      return;
    }
  }
  QTabWidget::keyPressEvent(event);
}

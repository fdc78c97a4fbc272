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
    switch (event->key()) {
      case Qt::Key_Left:
      case Qt::Key_Right:
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_Home:
      case Qt::Key_End:
        if (!owner_->may_change_to(-1)) {
          event->accept();
          return;
        }
        break;
      default:
        break;
    }
    QTabBar::keyPressEvent(event);
  }

#if QT_CONFIG(wheelevent)
  void wheelEvent(QWheelEvent *event) override {
    if (!owner_->may_change_to(-1)) {
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
  aging_ = new CAging();
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
  // Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageUp and Ctrl+PageDown switch pages.
  const bool switches = (event->modifiers() & Qt::ControlModifier) &&
                        (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab ||
                         event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown);
  if (switches && !may_change_to(-1)) {
    event->accept();
    return;
  }
  QTabWidget::keyPressEvent(event);
}

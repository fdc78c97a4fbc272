// The tab control of the main dialog: owns the four pages and asks before its
// selection changes, so the dialog can keep the Aging page while a run goes on.
#pragma once

#include <QTabWidget>

class CSetting;
class CClassicMifare;
class CMsDlg;
class CAging;

namespace tolvex::bench::ui {
class CommandRunner;
}

class CMyTabCtrl final : public QTabWidget {
  Q_OBJECT
 public:
  explicit CMyTabCtrl(QWidget *parent = nullptr);

  // Creates the pages in tab order ("Setting", "ClassMifare", "MS/IC", "Aging") and
  // shows the first. Runs once.
  void setup(tolvex::bench::ui::CommandRunner &runner);

  int page_count() const { return count(); }
  CSetting *setting_page() const { return setting_; }
  CClassicMifare *mifare_page() const { return mifare_; }
  CMsDlg *ms_page() const { return ms_; }
  CAging *aging_page() const { return aging_; }

  // Asks the listeners of about_to_change; true when nobody refused.
  bool may_change_to(int index);

 signals:
  // Sent (directly) before the engineer changes the selection; clear *allow to refuse.
  void about_to_change(int from, int to, bool *allow);

 protected:
  void keyPressEvent(QKeyEvent *event) override;

 private:
  CSetting *setting_ = nullptr;
  CClassicMifare *mifare_ = nullptr;
  CMsDlg *ms_ = nullptr;
  CAging *aging_ = nullptr;
};

// The main dialog: report window, card-transport and status buttons, the View list
// and the tab control with the four pages.
#pragma once

#include <QDialog>

#include <memory>

#include "command_runner.hpp"

namespace Ui {
class CTolvexBenchDlg;
}
namespace tolvex::bench {
class BenchDialogModel;
}
namespace tolvex::bench::ui {
class QtPageView;
}
class CMyTabCtrl;

class CTolvexBenchDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CTolvexBenchDlg(QWidget *parent = nullptr);
  ~CTolvexBenchDlg() override;

  tolvex::bench::ui::CommandRunner &runner() { return runner_; }
  CMyTabCtrl *tab_ctrl() const;
  QString report_text() const;
  // The View list's selection index: 0 "String", any other value "HEX".
  int view_mode() const;
  // Destination value of the destination list: its index, "SEL" (0) sent as 3.
  std::uint8_t destination_value() const;

  void show_about();

 public slots:
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;

 private:
  void bind_controls();
  void on_tab_about_to_change(int from, int to, bool *allow);

  std::unique_ptr<Ui::CTolvexBenchDlg> ui_;
  tolvex::bench::ui::CommandRunner runner_;
  std::unique_ptr<tolvex::bench::ui::QtPageView> view_;
  std::unique_ptr<tolvex::bench::BenchDialogModel> model_;
};

// The "MS/IC" tab: writes, reads and compares the three magnetic-stripe tracks,
// chooses the write coercivity, resets the contact IC card and sends it APDUs.
#pragma once

#include <QWidget>

#include <memory>

#include "ms_page_model.hpp"
#include "qt_page_view.hpp"

namespace Ui {
class CMsDlg;
}

namespace tolvex::bench::ui {
class CommandRunner;
}

class CMsDlg final : public QWidget {
  Q_OBJECT
 public:
  explicit CMsDlg(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CMsDlg() override;

 private:
  std::unique_ptr<Ui::CMsDlg> ui_;
  tolvex::bench::ui::QtPageView view_;
  tolvex::bench::MsPageModel model_;
};

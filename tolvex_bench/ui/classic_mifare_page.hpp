// The "ClassMifare" tab: key changes in the terminal and on the card, block, sector
// and value operations on MIFARE Classic cards, and the Ultralight commands. The page's
// behaviour is its model's; this is the form and its bindings.
#pragma once

#include <QWidget>

#include <memory>

#include "mifare_page_model.hpp"
#include "qt_page_view.hpp"

namespace Ui {
class CClassicMifare;
}

namespace tolvex::bench::ui {
class CommandRunner;
}

class CClassicMifare final : public QWidget {
  Q_OBJECT
 public:
  explicit CClassicMifare(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CClassicMifare() override;

 private:
  void bind_controls();
  void connect_signals();

  std::unique_ptr<Ui::CClassicMifare> ui_;
  tolvex::bench::ui::QtPageView view_;
  tolvex::bench::MifarePageModel model_;
};

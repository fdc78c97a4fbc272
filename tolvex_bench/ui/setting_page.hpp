// The "Setting" tab: opens the port, and sets or reads back the terminal's line
// speed, clock, retry count and capture time.
#pragma once

#include <QWidget>

#include <memory>

#include "qt_page_view.hpp"
#include "setting_page_model.hpp"

namespace Ui {
class CSetting;
}

namespace tolvex::bench::ui {
class CommandRunner;
}

class CSetting final : public QWidget {
  Q_OBJECT
 public:
  explicit CSetting(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CSetting() override;

  // Runs "Assign device to COM n…" for the list entry index (n = index + 1); true when
  // a device was recorded, and the entry's tool tip then names it.
  bool assign_device(int index);

 private:
  void refresh_port_tips();
  void show_port_menu(int index, const QPoint &global_pos);

  std::unique_ptr<Ui::CSetting> ui_;
  tolvex::bench::ui::QtPageView view_;
  tolvex::bench::SettingPageModel model_;
};

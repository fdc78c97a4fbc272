// The "Setting" tab: opens the port, and sets or reads back the terminal's line
// speed, clock, retry count and capture time.
#pragma once

#include <QWidget>

#include <memory>

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

 private slots:
  void handle_port_open();
  void handle_rtc_execute();
  void handle_retry_apply();
  void handle_capture_apply();

 private:
  void fill_lists();
  void refresh_port_tips();
  void show_port_menu(int index, const QPoint &global_pos);

  tolvex::bench::ui::CommandRunner &runner_;
  std::unique_ptr<Ui::CSetting> ui_;
};

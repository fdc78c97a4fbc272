// The "Aging" tab: the endurance run's choices, its live results, a plot of the failure
// rates and where the run's record went. The run itself is the core's aging engine; it
// runs inside START's handler and the window stays live through every wait and pause.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class CAging;
}

namespace tolvex::bench {
class AgingEngine;
}
namespace tolvex::bench::ui {
class CommandRunner;
}

class QChartView;
class QLineSeries;

class CAging final : public QWidget {
  Q_OBJECT
 public:
  explicit CAging(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CAging() override;

  // The aging-stopped flag shared with the main dialog: 1 idle, 0 while a run is active.
  std::uint8_t aging_stopped() const;
  void set_aging_stopped(std::uint8_t stopped);

  // The window is closing: a run ends after the command in flight.
  void shut_down();

  // Folder of the run records ("aging-records" in the current directory at start).
  void set_record_folder(const QString &folder);
  // The CSV record of the last run; empty before the first.
  QString record_path() const { return record_path_; }

  tolvex::bench::AgingEngine &engine();

 private slots:
  void handle_start();
  void handle_stop();
  void handle_wr();
  void handle_rd();
  void update_read_enabling();
  void update_kind_enabling();

 private:
  class Controls;
  friend class Controls;

  void fill_controls();
  void setup_plot();

  std::unique_ptr<Ui::CAging> ui_;
  std::unique_ptr<Controls> controls_;
  std::unique_ptr<tolvex::bench::AgingEngine> engine_;
  QChartView *chart_view_ = nullptr;
  QLineSeries *series_[5] = {};
  QString record_folder_ = QStringLiteral("aging-records");
  QString record_path_;
  bool shutting_down_ = false;
};

// The "Aging" tab: the endurance run's choices, its live results, a plot of the failure
// rates and where the run's record went. The page's behaviour is the core's aging page
// model; this widget binds its controls, draws its plot and keeps the window live
// through its pauses.
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
class AgingPageModel;
}  // namespace tolvex::bench
namespace tolvex::bench::ui {
class CommandRunner;
class QtPageView;
}  // namespace tolvex::bench::ui

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
  QString record_path() const;

  tolvex::bench::AgingEngine &engine();
  tolvex::bench::AgingPageModel &model() { return *model_; }

 private:
  class Display;

  void bind_controls();
  void setup_plot();

  std::unique_ptr<Ui::CAging> ui_;
  std::unique_ptr<tolvex::bench::ui::QtPageView> view_;
  std::unique_ptr<Display> display_;
  std::unique_ptr<tolvex::bench::AgingPageModel> model_;
  QChartView *chart_view_ = nullptr;
  QLineSeries *series_[5] = {};
};

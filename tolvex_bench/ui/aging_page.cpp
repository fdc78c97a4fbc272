#include "aging_page.hpp"

#include <QChart>
#include <QChartView>
#include <QEventLoop>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <utility>

#include "aging_engine.hpp"
#include "aging_page_model.hpp"
#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "qt_page_view.hpp"
#include "ui_aging_page.h"
#include "upper_case_edit.hpp"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

using Control = tb::AgingPageModel::Control;

// What the page shows beyond its boxes: the plot, the progress bar, the status line's
// tip; and the pause, through which the window stays live.
class CAging::Display final : public tb::AgingDisplay {
 public:
  explicit Display(CAging &page) : page_(page) {}

  void pause(std::chrono::milliseconds duration) override {
    // Closing the window cuts the pause short.
    QEventLoop loop;
    pause_loop_ = &loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
    pause_loop_ = nullptr;
  }
  void cut_pause() override {
    if (pause_loop_ != nullptr) pause_loop_->quit();
  }

  void redraw_plot(const tb::AgingPlot &plot) override {
    QChart *chart = page_.chart_view_->chart();
    chart->axes(Qt::Horizontal).front()->setRange(plot.x_min, plot.x_max);
    chart->axes(Qt::Vertical).front()->setRange(0, plot.y_max);
    for (std::size_t m = 0; m < tb::AgingPlot::kMedia; ++m) {
      QList<QPointF> points;
      points.reserve(static_cast<qsizetype>(plot.points[m].size()));
      for (const tb::AgingPlot::Point &p : plot.points[m]) points.append(QPointF(p.cycle, p.rate));
      page_.series_[m]->replace(points);
    }
  }

  void set_progress(std::int32_t value, std::int32_t maximum) override {
    page_.ui_->progressCycles->setRange(0, maximum);
    page_.ui_->progressCycles->setValue(value);
  }

  void set_status_tip(std::wstring_view tip) override {
    page_.ui_->labelStatus->setToolTip(QString::fromWCharArray(tip.data(), static_cast<qsizetype>(tip.size())));
  }

 private:
  CAging &page_;
  QEventLoop *pause_loop_ = nullptr;
};

CAging::CAging(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CAging>()), view_(std::make_unique<tbu::QtPageView>()) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  setup_plot();
  bind_controls();
  display_ = std::make_unique<Display>(*this);
  model_ = std::make_unique<tb::AgingPageModel>(*view_, *display_, runner);
  // Upper-case boxes: what is typed is forced to capitals.
  for (QLineEdit *edit : {ui_->editIcInput, ui_->editRfInput}) edit->setValidator(new tbu::UpperCaseValidator(edit));
  model_->init();

  tb::AgingPageModel &model = *model_;
  connect(ui_->buttonStart, &QPushButton::clicked, this, [&model] { model.start(); });
  connect(ui_->buttonStop, &QPushButton::clicked, this, [&model] { model.stop(); });
  connect(ui_->buttonWr, &QPushButton::clicked, this, [&model] { model.wr(); });
  connect(ui_->buttonRd, &QPushButton::clicked, this, [&model] { model.rd(); });
  connect(ui_->checkAllRead, &QCheckBox::toggled, this, [&model] { model.all_read_changed(); });
  for (QRadioButton *radio : {ui_->radioMs, ui_->radioIc, ui_->radioRf}) {
    connect(radio, &QRadioButton::toggled, this, [&model] { model.kind_changed(); });
  }
}

CAging::~CAging() = default;

void CAging::bind_controls() {
  const std::pair<Control, QWidget *> bindings[] = {
      {Control::Count, ui_->editCount},
      {Control::Remain, ui_->editRemain},
      {Control::Ms, ui_->radioMs},
      {Control::Ic, ui_->radioIc},
      {Control::Rf, ui_->radioRf},
      {Control::AllRead, ui_->checkAllRead},
      {Control::Stacker, ui_->checkStacker},
      {Control::StackerList, ui_->comboStacker},
      {Control::EjectCapture, ui_->checkEjectCapture},
      {Control::Rotation, ui_->checkRotation},
      {Control::Write1, ui_->checkWrite1},
      {Control::Write2, ui_->checkWrite2},
      {Control::Write3, ui_->checkWrite3},
      {Control::Read1, ui_->checkRead1},
      {Control::Read2, ui_->checkRead2},
      {Control::Read3, ui_->checkRead3},
      {Control::WriteText1, ui_->editWrite1},
      {Control::WriteText2, ui_->editWrite2},
      {Control::WriteText3, ui_->editWrite3},
      {Control::ReadText1, ui_->editRead1},
      {Control::ReadText2, ui_->editRead2},
      {Control::ReadText3, ui_->editRead3},
      {Control::IcInput, ui_->editIcInput},
      {Control::IcOutput, ui_->editIcOutput},
      {Control::RfInput, ui_->editRfInput},
      {Control::RfOutput, ui_->editRfOutput},
      {Control::Error1, ui_->labelError1},
      {Control::Error2, ui_->labelError2},
      {Control::Error3, ui_->labelError3},
      {Control::Error4, ui_->labelError4},
      {Control::Error5, ui_->labelError5},
      {Control::Start, ui_->buttonStart},
      {Control::Stop, ui_->buttonStop},
      {Control::Wr, ui_->buttonWr},
      {Control::Rd, ui_->buttonRd},
      {Control::Status, ui_->labelStatus},
      {Control::Record, ui_->labelRecord},
  };
  for (const auto &[control, widget] : bindings) view_->bind(control, widget);
}

void CAging::setup_plot() {
  // Failure rate in percent per medium against the cycle number, in a small font so
  // that the axes keep their numbers in the little room the page has.
  QFont small = font();
  small.setPointSize(7);
  auto *chart = new QChart();
  chart->legend()->setAlignment(Qt::AlignRight);
  chart->legend()->setFont(small);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  auto *x = new QValueAxis();
  // Cycles from 1 to N, marked at both ends only; rates in percent, as many digits as
  // the values need so that no two marks read the same.
  x->setLabelFormat(QStringLiteral("%d"));
  x->setLabelsFont(small);
  x->setTickCount(2);
  x->setRange(1, 2);
  auto *y = new QValueAxis();
  y->setLabelFormat(QStringLiteral("%.3g%%"));
  y->setLabelsFont(small);
  y->setTickCount(3);
  y->setRange(0, 1);
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (std::size_t m = 0; m < tb::AgingPlot::kMedia; ++m) {
    const std::wstring_view name = tb::AgingPlot::kNames[m];
    series_[m] = new QLineSeries();
    series_[m]->setName(QString::fromWCharArray(name.data(), static_cast<qsizetype>(name.size())));
    chart->addSeries(series_[m]);
    series_[m]->attachAxis(x);
    series_[m]->attachAxis(y);
  }
  chart_view_ = new QChartView(chart, ui_->framePlot);
  chart_view_->setRenderHint(QPainter::Antialiasing);
  chart_view_->setObjectName(QStringLiteral("chartRates"));
  auto *layout = new QVBoxLayout(ui_->framePlot);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(chart_view_);
}

std::uint8_t CAging::aging_stopped() const { return model_->aging_stopped(); }

void CAging::set_aging_stopped(std::uint8_t stopped) { model_->set_aging_stopped(stopped); }

tb::AgingEngine &CAging::engine() { return model_->engine(); }

void CAging::set_record_folder(const QString &folder) { model_->set_record_folder(folder.toStdString()); }

QString CAging::record_path() const { return QString::fromStdString(model_->record_path().string()); }

void CAging::shut_down() { model_->shut_down(); }

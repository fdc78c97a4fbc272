#include "aging_page.hpp"

#include <QChart>
#include <QChartView>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <optional>

#include "aging_engine.hpp"
#include "aging_record.hpp"
#include "command_runner.hpp"
#include "decimal.hpp"
#include "dialog_units.hpp"
#include "message_service.hpp"
#include "ui_aging_page.h"
#include "upper_case_edit.hpp"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

namespace {

QString qt(const std::wstring &text) { return QString::fromStdWString(text); }

// The plot keeps at most this many points per medium, however long the run: the rate at
// the end of each stretch of N / kPlotStretches cycles, and the latest cycle's in place.
constexpr std::uint32_t kPlotStretches = 200;
// The plot and the progress bar are redrawn at most this often during a run.
constexpr qint64 kRedrawIntervalMs = 250;

}  // namespace

// The page as the engine sees it: its choices read at the moment they are needed, its
// boxes written as results come in; the record and the plot follow the run.
class CAging::Controls final : public tb::AgingControls {
 public:
  explicit Controls(CAging &page) : page_(page), ui_(*page.ui_) {}

  std::wstring count_text() override { return ui_.editCount->text().toStdWString(); }
  bool all_read() override { return ui_.checkAllRead->isChecked(); }
  tb::AgingKind kind() override {
    if (ui_.radioIc->isChecked()) return tb::AgingKind::Ic;
    if (ui_.radioRf->isChecked()) return tb::AgingKind::Rf;
    return tb::AgingKind::Ms;
  }
  bool stacker() override { return ui_.checkStacker->isChecked(); }
  bool eject_capture() override { return ui_.checkEjectCapture->isChecked(); }
  bool rotation() override { return ui_.checkRotation->isChecked(); }
  bool write_track(int track) override { return write_check(track)->isChecked(); }
  bool read_track(int track) override { return read_check(track)->isChecked(); }
  std::wstring write_text(int track) override { return write_box(track)->toPlainText().toStdWString(); }
  std::wstring ic_text() override { return ui_.editIcInput->text().toStdWString(); }
  std::wstring rf_text() override { return ui_.editRfInput->text().toStdWString(); }

  void set_write_text(int track, const std::wstring &text) override { write_box(track)->setPlainText(qt(text)); }
  void set_read_text(int track, const std::wstring &text) override { read_box(track)->setPlainText(qt(text)); }
  void set_ic_text(const std::wstring &text) override { ui_.editIcInput->setText(qt(text)); }
  void set_ic_output(const std::wstring &text) override { ui_.editIcOutput->setText(qt(text)); }
  void set_rf_output(const std::wstring &text) override { ui_.editRfOutput->setText(qt(text)); }
  void show_remain(std::int32_t remain) override { ui_.editRemain->setText(qt(tb::decimal_text(remain))); }
  void show_error_texts(const std::array<std::wstring, 5> &texts) override {
    QLabel *labels[5] = {ui_.labelError1, ui_.labelError2, ui_.labelError3, ui_.labelError4, ui_.labelError5};
    for (std::size_t k = 0; k < texts.size(); ++k) labels[k]->setText(qt(texts[k]));
  }
  void message(std::wstring_view text) override {
    tbu::show_message(QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size())));
  }

  void pause(std::chrono::milliseconds duration) override {
    if (page_.shutting_down_) return;
    // The window stays live through the pause; closing it cuts the pause short.
    QEventLoop loop;
    pause_loop_ = &loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
    pause_loop_ = nullptr;
  }
  void cut_pause() {
    if (pause_loop_ != nullptr) pause_loop_->quit();
  }

  void run_started(std::int32_t count) override {
    ui_.buttonStart->setEnabled(false);
    ui_.progressCycles->setRange(0, std::max(count, 1));
    ui_.progressCycles->setValue(0);
    for (QLineSeries *series : page_.series_) series->clear();
    for (QList<QPointF> &points : points_) points.clear();
    stretch_ = std::max<std::uint32_t>(1, (static_cast<std::uint32_t>(std::max(count, 1)) + kPlotStretches - 1) /
                                              kPlotStretches);
    latest_in_place_ = false;
    done_ = 0;
    page_.chart_view_->chart()->axes(Qt::Horizontal).front()->setRange(1, std::max(count, 2));
    max_rate_ = 1.0;
    page_.chart_view_->chart()->axes(Qt::Vertical).front()->setRange(0, max_rate_);
    since_redraw_.start();
    const auto now = tb::AgingRecord::Clock::now();
    start_ = now;
    ui_.labelStatus->clear();
    ui_.labelStatus->setToolTip({});
    record_.emplace(QDir(page_.record_folder_).absolutePath().toStdString(), now);
    record_->begin();
    page_.record_path_ = QString::fromStdString(record_->csv_path().string());
    ui_.labelRecord->setText(QStringLiteral("Record: %1").arg(page_.record_path_));
    warn_if_needed();
  }

  void cycle_finished(const tb::AgingCycle &cycle, const tb::AgingStats &stats) override {
    if (record_) record_->add(cycle, tb::AgingRecord::Clock::now());
    warn_if_needed();
    if (!cycle.complete) return;
    done_ = cycle.number;
    const std::uint32_t counts[5] = {stats.track1(), stats.track2(), stats.track3(), stats.ic(), stats.rf()};
    for (std::size_t m = 0; m < 5; ++m) {
      const double rate = 100.0 * counts[m] / cycle.number;
      const QPointF point(cycle.number, rate);
      if (latest_in_place_) {
        points_[m].back() = point;
      } else {
        points_[m].append(point);
      }
      max_rate_ = std::max(max_rate_, rate);
    }
    // A stretch's last cycle keeps its point; the next cycle starts a new one.
    latest_in_place_ = cycle.number % stretch_ != 0;
    if (since_redraw_.hasExpired(kRedrawIntervalMs)) redraw();
  }

  void card_held(tb::AgingRecord::Clock::time_point since) override {
    ui_.labelStatus->setText(QString::fromStdString(tb::held_text(since)));
  }
  void hold_ended(const tb::AgingStep &held) override {
    ui_.labelStatus->setText(QString::fromStdString(tb::hold_ended_text(held)));
  }

  void run_finished(const tb::AgingSummary &summary) override {
    redraw();
    // The status line says how the run ended; the whole summary is its tooltip.
    const auto end = tb::AgingRecord::Clock::now();
    const QString text = QString::fromStdString(tb::summary_text(summary, start_, end)).trimmed();
    ui_.labelStatus->setText(text.section(QLatin1Char('\n'), -1));
    ui_.labelStatus->setToolTip(text);
    if (record_) {
      record_->finish(summary, end);
      warn_if_needed();
      record_.reset();
    }
    ui_.buttonStart->setEnabled(true);
  }

 private:
  QCheckBox *write_check(int track) const {
    return track == 1 ? ui_.checkWrite1 : track == 2 ? ui_.checkWrite2 : ui_.checkWrite3;
  }
  QCheckBox *read_check(int track) const { return track == 1 ? ui_.checkRead1 : track == 2 ? ui_.checkRead2 : ui_.checkRead3; }
  QPlainTextEdit *write_box(int track) const {
    return track == 1 ? ui_.editWrite1 : track == 2 ? ui_.editWrite2 : ui_.editWrite3;
  }
  QPlainTextEdit *read_box(int track) const { return track == 1 ? ui_.editRead1 : track == 2 ? ui_.editRead2 : ui_.editRead3; }

  void redraw() {
    ui_.progressCycles->setValue(static_cast<int>(std::min<std::uint32_t>(done_, INT32_MAX)));
    for (std::size_t m = 0; m < 5; ++m) page_.series_[m]->replace(points_[m]);
    page_.chart_view_->chart()->axes(Qt::Vertical).front()->setRange(0, max_rate_);
    since_redraw_.restart();
  }

  // A record that cannot be written says so once on the page; the run goes on.
  void warn_if_needed() {
    if (!record_) return;
    const std::string warning = record_->take_warning();
    if (warning.empty()) return;
    ui_.labelRecord->setText(QStringLiteral("Record not written: %1").arg(QString::fromStdString(warning)));
  }

  CAging &page_;
  Ui::CAging &ui_;
  QEventLoop *pause_loop_ = nullptr;
  std::optional<tb::AgingRecord> record_;
  double max_rate_ = 1.0;
  std::array<QList<QPointF>, 5> points_;
  std::uint32_t stretch_ = 1;     // cycles per plotted point
  bool latest_in_place_ = false;  // the last point is the latest cycle's, replaced by the next
  std::uint32_t done_ = 0;        // cycles completed, for the progress bar
  QElapsedTimer since_redraw_;
  tb::AgingRecord::Clock::time_point start_;
};

CAging::CAging(tbu::CommandRunner &runner, QWidget *parent) : QWidget(parent), ui_(std::make_unique<Ui::CAging>()) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  setup_plot();
  fill_controls();
  controls_ = std::make_unique<Controls>(*this);
  engine_ = std::make_unique<tb::AgingEngine>(runner.step(), *controls_);

  connect(ui_->buttonStart, &QPushButton::clicked, this, &CAging::handle_start);
  connect(ui_->buttonStop, &QPushButton::clicked, this, &CAging::handle_stop);
  connect(ui_->buttonWr, &QPushButton::clicked, this, &CAging::handle_wr);
  connect(ui_->buttonRd, &QPushButton::clicked, this, &CAging::handle_rd);
  connect(ui_->checkAllRead, &QCheckBox::toggled, this, &CAging::update_read_enabling);
  for (QRadioButton *radio : {ui_->radioMs, ui_->radioIc, ui_->radioRf}) {
    connect(radio, &QRadioButton::toggled, this, &CAging::update_kind_enabling);
  }
}

CAging::~CAging() = default;

void CAging::fill_controls() {
  ui_->radioMs->setChecked(true);
  ui_->checkEjectCapture->setChecked(true);
  ui_->checkStacker->setChecked(true);
  ui_->comboStacker->addItems({QStringLiteral("Stacker1"), QStringLiteral("Stacker2"), QStringLiteral("Auto")});
  ui_->comboStacker->setCurrentIndex(2);
  ui_->editCount->setText(QStringLiteral("1"));
  ui_->checkRotation->setChecked(true);
  ui_->editWrite1->setPlainText(qt(std::wstring(tb::kAgingTrackTexts[0])));
  ui_->editWrite2->setPlainText(qt(std::wstring(tb::kAgingTrackTexts[1])));
  ui_->editWrite3->setPlainText(qt(std::wstring(tb::kAgingTrackTexts[2])));
  // Upper-case boxes: what is typed is forced, and the initial texts show in capitals too.
  for (auto [edit, text] : {std::pair{ui_->editIcInput, tb::kAgingIcText}, std::pair{ui_->editRfInput, tb::kAgingRfText}}) {
    edit->setValidator(new tbu::UpperCaseValidator(edit));
    edit->setText(tbu::upper_case(qt(std::wstring(text))));
  }
  ui_->labelError1->setText(QStringLiteral("Track1: "));
  ui_->labelError2->setText(QStringLiteral("Track2: "));
  ui_->labelError3->setText(QStringLiteral("Track3: "));
  ui_->labelError4->setText(QStringLiteral("IC: "));
  ui_->labelError5->setText(QStringLiteral("RF: "));
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
  static const char *const kNames[5] = {"Track1", "Track2", "Track3", "IC", "RF"};
  for (std::size_t m = 0; m < 5; ++m) {
    series_[m] = new QLineSeries();
    series_[m]->setName(QString::fromLatin1(kNames[m]));
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

std::uint8_t CAging::aging_stopped() const { return engine_->aging_stopped(); }

void CAging::set_aging_stopped(std::uint8_t stopped) { engine_->set_aging_stopped(stopped); }

tb::AgingEngine &CAging::engine() { return *engine_; }

void CAging::set_record_folder(const QString &folder) { record_folder_ = folder; }

void CAging::shut_down() {
  shutting_down_ = true;
  engine_->request_abandon();
  controls_->cut_pause();
}

void CAging::handle_start() {
  if (shutting_down_) return;
  // Inside a run START is ignored: the engine refuses a second run.
  engine_->run();
}

void CAging::handle_stop() { engine_->request_stop(); }

void CAging::handle_wr() {
  QCheckBox *boxes[3] = {ui_->checkWrite1, ui_->checkWrite2, ui_->checkWrite3};
  const bool all = std::all_of(std::begin(boxes), std::end(boxes), [](QCheckBox *b) { return b->isChecked(); });
  for (QCheckBox *b : boxes) b->setChecked(!all);
}

void CAging::handle_rd() {
  QCheckBox *boxes[3] = {ui_->checkRead1, ui_->checkRead2, ui_->checkRead3};
  const bool all = std::all_of(std::begin(boxes), std::end(boxes), [](QCheckBox *b) { return b->isChecked(); });
  for (QCheckBox *b : boxes) b->setChecked(!all);
}

void CAging::update_read_enabling() {
  const bool enable = !ui_->checkAllRead->isChecked();
  for (QCheckBox *b : {ui_->checkRead1, ui_->checkRead2, ui_->checkRead3}) b->setEnabled(enable);
}

void CAging::update_kind_enabling() {
  const bool ms = ui_->radioMs->isChecked();
  for (QWidget *w : std::initializer_list<QWidget *>{ui_->buttonWr, ui_->buttonRd, ui_->checkWrite1, ui_->checkWrite2,
                                                     ui_->checkWrite3, ui_->checkRead1, ui_->checkRead2,
                                                     ui_->checkRead3, ui_->checkAllRead}) {
    w->setEnabled(ms);
  }
}

// The Aging page over a long run: the real page offscreen against the instantly
// answering simulated terminal, pause 0, the page's record written into a scratch
// folder. Prints the user-interface thread's own time per cycle over the first and the
// last 1000 cycles and the resident memory after each stretch. Usage: [cycles], default
// 100000.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "aging_engine.hpp"
#include "aging_page.hpp"
#include "message_service.hpp"
#include "my_tab_ctrl.hpp"
#include "run_figures.hpp"
#include "tolvex_bench_dlg.hpp"

namespace {

class PrintedMessages final : public tolvex::bench::ui::MessageService {
 public:
  QMessageBox::StandardButton show(const tolvex::bench::ui::Message &message) override {
    std::fprintf(stderr, "message: %s\n", message.text.toUtf8().constData());
    ++count;
    return QMessageBox::Ok;
  }
  int count = 0;
};

}  // namespace

int main(int argc, char **argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (cycles <= 0) {
    std::fprintf(stderr, "usage: %s [cycles]\n", argv[0]);
    return 2;
  }
  tolvex::sim::Options options;
  options.instant = true;
  options.stacker_cards[0] = cycles;
  options.stacker_capacity = cycles + 1;
  tolvex::sim::Simulator sim(options);
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "simulated terminal: %s\n", error.c_str());
    return 1;
  }
  ::setenv("TOLVEX_COM1", sim.path().c_str(), 1);
  if (EnablePort("COM1", 8, 0, 0, 38400, 0) == 0) {
    std::fprintf(stderr, "EnablePort: %s\n", tolvex_port_error());
    return 1;
  }

  QApplication app(argc, argv);
  PrintedMessages messages;
  tolvex::bench::ui::set_message_service(&messages);
  QTemporaryDir records;
  bool met = false;
  {
    CTolvexBenchDlg dialog;
    dialog.show();
    CAging *page = dialog.tab_ctrl()->aging_page();
    dialog.tab_ctrl()->setCurrentIndex(3);
    page->engine().set_pause(std::chrono::milliseconds(0));
    page->set_record_folder(records.path());
    page->findChild<QCheckBox *>(QStringLiteral("checkWrite1"))->setChecked(true);
    page->findChild<QCheckBox *>(QStringLiteral("checkRead1"))->setChecked(true);
    auto *count = page->findChild<QLineEdit *>(QStringLiteral("editCount"));
    count->setText(QString::number(cycles));

    // "Remain:" is rewritten at each cycle start and at the end: cycles done = N - remain.
    tolvex::benchmarks::RunSampler sampler(cycles, 1000);
    QObject::connect(page->findChild<QLineEdit *>(QStringLiteral("editRemain")), &QLineEdit::textChanged,
                     [&](const QString &text) { sampler.done(cycles - text.toLongLong()); });
    page->findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    met = sampler.print("bench_aging_page: Aging page, MS cycles (C31 M33 M31 C33)");
  }
  tolvex::bench::ui::set_message_service(nullptr);
  DisablePort();
  if (messages.count != 0) {
    std::fprintf(stderr, "the run did not complete cleanly\n");
    return 1;
  }
  return met ? 0 : 1;
}

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

#include "aging_engine.hpp"
#include "aging_page.hpp"
#include "printed_messages.hpp"
#include "my_tab_ctrl.hpp"
#include "run_figures.hpp"
#include "tolvex_bench_dlg.hpp"

int main(int argc, char **argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int cycles = tolvex::benchmarks::cycles_argument(argc, argv, 100000);
  if (cycles == 0) return 2;
  const auto sim = tolvex::benchmarks::stocked_simulator(cycles);
  if (!sim || !tolvex::benchmarks::open_port(*sim)) return 1;

  QApplication app(argc, argv);
  tolvex::benchmarks::PrintedMessages messages;
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

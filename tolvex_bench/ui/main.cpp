// tolvex_bench: the bench program. Runs the main dialog until it closes.
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include <tolvex/tolvex.h>

#include "demo_mode.hpp"
#include "message_service.hpp"
#include "my_tab_ctrl.hpp"
#include "tolvex_bench_dlg.hpp"

namespace {

const char kUsage[] =
    "Usage: tolvex_bench [--simulate] [--screenshot PATH] [--tab NAME]\n"
    "\n"
    "Bench for commissioning and testing card terminals on a serial line.\n"
    "\n"
    "  --simulate          run against a simulated terminal inside the program, on\n"
    "                      \" COM 1\" of the Setting page, which is opened at the start\n"
    "  --screenshot PATH   open the port, run \"Model\" once, save a picture of the\n"
    "                      window as PATH (PNG) and quit; messages go to standard\n"
    "                      error and make the exit status 1\n"
    "  --tab NAME          show the tab NAME (\"Setting\", \"ClassMifare\", \"MS/IC\",\n"
    "                      \"Aging\") first; with --screenshot, the tab pictured\n"
    "  -h, --help          show this text\n"
    "\n"
    "The Setting page's \" COM n\" opens the device named by the environment variable\n"
    "TOLVEX_COMn, else by the line COMn=DEVICE of ~/.config/tolvex/ports.conf (which the\n"
    "port list's context menu writes), else /dev/ttyS<n-1>, e.g.\n"
    "  TOLVEX_COM1=/dev/ttyUSB0 tolvex_bench\n"
    "tolvex_cli ports lists the serial adapters present.\n";

struct Options {
  bool help = false;
  bool simulate = false;
  std::string screenshot;
  std::string tab;
  std::string error;
};

Options parse(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      options.help = true;
    } else if (std::strcmp(arg, "--simulate") == 0) {
      options.simulate = true;
    } else if (std::strcmp(arg, "--screenshot") == 0 && i + 1 < argc) {
      options.screenshot = argv[++i];
    } else if (std::strncmp(arg, "--screenshot=", 13) == 0) {
      options.screenshot = arg + 13;
    } else if (std::strcmp(arg, "--tab") == 0 && i + 1 < argc) {
      options.tab = argv[++i];
    } else if (std::strncmp(arg, "--tab=", 6) == 0) {
      options.tab = arg + 6;
    } else if (arg[0] == '-' && arg[1] == '-') {
      // Toolkit options such as -platform pass through; unknown long options do not.
      options.error = std::string("unknown option ") + arg;
    }
  }
  return options;
}

// While a screenshot is taken nobody is there to close a message box: messages go to
// standard error.
class StderrMessages final : public tolvex::bench::ui::MessageService {
 public:
  QMessageBox::StandardButton show(const tolvex::bench::ui::Message &message) override {
    std::fprintf(stderr, "tolvex_bench: %s%s%s\n", message.text.toUtf8().constData(), message.detail.isEmpty() ? "" : ": ",
                 message.detail.toUtf8().constData());
    ++count;
    return QMessageBox::Ok;
  }
  int count = 0;
};

// Shows the tab titled `name`; false (with a message naming the tabs) when there is none.
bool show_tab(CTolvexBenchDlg &dialog, const QString &name) {
  CMyTabCtrl *tabs = dialog.tab_ctrl();
  QStringList names;
  for (int i = 0; i < tabs->count(); ++i) {
    if (tabs->tabText(i) == name) {
      tabs->setCurrentIndex(i);
      return true;
    }
    names << QLatin1Char('"') + tabs->tabText(i) + QLatin1Char('"');
  }
  std::fprintf(stderr, "tolvex_bench: no tab \"%s\" (tabs: %s)\n", name.toUtf8().constData(),
               names.join(QStringLiteral(", ")).toUtf8().constData());
  return false;
}

// The application object: starts the main dialog modally and ends with it.
class CTolvexBenchApp final : public QApplication {
 public:
  CTolvexBenchApp(int &argc, char **argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("tolvex_bench"));
    tolvex::bench::ui::install_library_message_relay();
  }
  ~CTolvexBenchApp() override { tolvex::bench::ui::remove_library_message_relay(); }

  int run(bool simulate, const std::string &screenshot, const std::string &tab) {
    CTolvexBenchDlg dialog;
    if (!tab.empty() && !show_tab(dialog, QString::fromStdString(tab))) return 2;
    StderrMessages quiet;
    if (!screenshot.empty()) tolvex::bench::ui::set_message_service(&quiet);
    // The simulated terminal is there from the start: its port opens once the window is up.
    if (simulate) QTimer::singleShot(0, &dialog, [&dialog] { tolvex::bench::ui::open_demo_port(dialog); });
    if (!screenshot.empty()) {
      QTimer::singleShot(0, &dialog, [&dialog, &quiet, simulate, screenshot, tab] {
        // Open " COM 1" as the Setting page does (already open when simulated), show one
        // report, picture the window.
        if (!simulate) {
          if (auto *open = dialog.findChild<QPushButton *>(QStringLiteral("buttonPortOpen"))) open->click();
        }
        if (auto *button = dialog.findChild<QPushButton *>(QStringLiteral("buttonModel"))) button->click();
        if (!tab.empty()) show_tab(dialog, QString::fromStdString(tab));
        const bool saved = dialog.grab().save(QString::fromStdString(screenshot), "PNG");
        if (!saved) std::fprintf(stderr, "tolvex_bench: cannot write %s\n", screenshot.c_str());
        // A message on the way (the port did not open, ...) fails the run as well.
        dialog.done(saved && quiet.count == 0 ? QDialog::Accepted : QDialog::Rejected);
      });
    }
    const int result = dialog.exec();
    tolvex::bench::ui::set_message_service(nullptr);
    return screenshot.empty() || result == QDialog::Accepted ? 0 : 1;
  }
};

}  // namespace

int main(int argc, char **argv) {
  const Options options = parse(argc, argv);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "tolvex_bench: %s\n\n%s", options.error.c_str(), kUsage);
    return 2;
  }

  tolvex::bench::ui::DemoTerminal demo;
  if (options.simulate) {
    std::string error;
    if (!demo.start(&error)) {
      std::fprintf(stderr, "tolvex_bench: cannot start the simulated terminal: %s\n", error.c_str());
      return 1;
    }
  }

  int status = 0;
  {
    CTolvexBenchApp app(argc, argv);
    status = app.run(options.simulate, options.screenshot, options.tab);
  }
  // The simulated terminal goes away with the program: let go of its line first.
  if (options.simulate) DisablePort();
  return status;
}

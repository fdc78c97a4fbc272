// Naming and opening ports from the Setting page: assigning a device to " COM n"
// through ports.conf, the details of a refused device, Port.cfg in a folder that takes
// no new files.
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "assign_port_dlg.hpp"
#include "bench_fixture.hpp"
#include "fake_device_tree.hpp"
#include "my_tab_ctrl.hpp"
#include "port_open.hpp"
#include "qt_page_view.hpp"
#include "setting_page.hpp"
#include "tolvex_bench_dlg.hpp"

namespace {

// The port-open step with its messages through the Qt page view and message service.
int open_port_step(int port_index, const char *baud) {
  tolvex::bench::ui::QtPageView view;
  return tolvex::bench::open_port(view, port_index, 0, 0, 8, 0, baud);
}

// Runs `act` on the assign dialog once it is shown (the page runs it modally).
void when_dialog_shows(std::function<void(AssignPortDialog *)> act) {
  auto *timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    for (QWidget *w : QApplication::topLevelWidgets()) {
      auto *dialog = qobject_cast<AssignPortDialog *>(w);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      act(dialog);
      return;
    }
  });
  timer->start();
}

void press_ok(AssignPortDialog *dialog) {
  dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
}

QString config_file() { return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/tolvex/ports.conf"); }

// Whether this process is refused a new file in a read-only folder (not so for root).
bool read_only_folders_hold(const QString &dir) {
  QFile probe(dir + QStringLiteral("/probe"));
  const bool refused = !probe.open(QIODevice::WriteOnly);
  probe.remove();
  return refused;
}

// Root passes every permission check. As root, a case about refused access runs again,
// alone, in a child process of this program as the unprivileged user nobody.
void rerun_as_nobody(const QString &function) {
  constexpr unsigned kNobody = 65534;
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(::chown(dir.path().toUtf8().constData(), kNobody, kNobody) == 0);
  QProcess child;
  child.setWorkingDirectory(dir.path());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), dir.path());
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(kNobody), QStringLiteral("--regid=%1").arg(kNobody),
                                          QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                          QCoreApplication::applicationFilePath(), function});
  QVERIFY(child.waitForFinished(120000));
  const QString out = QString::fromLocal8Bit(child.readAll());
  if (!out.contains(QStringLiteral("Totals:"))) QSKIP(qPrintable(QStringLiteral("cannot run as nobody: ") + out));
  QVERIFY2(child.exitCode() == 0 && out.contains(QStringLiteral("PASS   : PortSetupTest::") + function + "()"),
           qPrintable(out));
}

}  // namespace

class PortSetupTest : public QObject {
  Q_OBJECT

 private:
  tolvex::bench::testing::FakeDeviceTree tree_;
  std::unique_ptr<CTolvexBenchDlg> dialog_;

  QComboBox *port_list() { return benchtest::child<QComboBox>(dialog_->tab_ctrl()->setting_page(), "comboPort"); }

 private slots:
  void initTestCase() {
    benchtest::enter_scratch_directory();
    QVERIFY(!tree_.root().empty());
    ::setenv("TOLVEX_DEVICE_ROOT", tree_.root().c_str(), 1);
    ::unsetenv("TOLVEX_COM2");
    QFile::remove(config_file());
  }
  void init() { dialog_ = std::make_unique<CTolvexBenchDlg>(); }
  void cleanup() { dialog_.reset(); }

  void assignWritesPortsConfAndTheTipFollows() {
    benchtest::RecordingMessages messages;
    CSetting *page = dialog_->tab_ctrl()->setting_page();
    QCOMPARE(port_list()->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS1"));

    QStringList listed;
    when_dialog_shows([&listed](AssignPortDialog *d) {
      auto *list = d->findChild<QListWidget *>("listAdapters");
      for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
      list->setCurrentRow(2);  // the FTDI adapter, listed by its by-id name
      press_ok(d);
    });
    QVERIFY(page->assign_device(1));
    QCOMPARE(listed.size(), 3);
    QVERIFY2(listed[2].contains("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0") &&
                 listed[2].contains("FTDI FT232R USB UART (0403:6001)"),
             qPrintable(listed.join('|')));
    const QString by_id = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QCOMPARE(benchtest::read_file(config_file()), QByteArray("COM2=" + by_id.toUtf8() + "\n"));
    QCOMPARE(port_list()->itemData(1, Qt::ToolTipRole).toString(), by_id);

    // The engineer's own lines stay; a typed path replaces the entry; a relative one is
    // refused and the dialog stays open until it is corrected.
    QFile file(config_file());
    QVERIFY(file.open(QIODevice::Append));
    file.write("# bench 3\nCOM4=/dev/ttyACM0\n");
    file.close();
    when_dialog_shows([](AssignPortDialog *d) {
      auto *edit = d->findChild<QLineEdit *>("editDevice");
      edit->setText(QStringLiteral("ttyUSB1"));
      press_ok(d);
      QVERIFY(d->isVisible());
      edit->setText(QStringLiteral("/dev/ttyUSB1"));
      press_ok(d);
    });
    QVERIFY(page->assign_device(1));
    QCOMPARE(messages.all.size(), 1);
    QCOMPARE(benchtest::read_file(config_file()), QByteArray("COM2=/dev/ttyUSB1\n# bench 3\nCOM4=/dev/ttyACM0\n"));
    QCOMPARE(port_list()->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(port_list()->itemData(3, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyACM0"));

    // An empty device gives the entry back its default; Cancel writes nothing.
    when_dialog_shows([](AssignPortDialog *d) {
      d->findChild<QLineEdit *>("editDevice")->clear();
      press_ok(d);
    });
    QVERIFY(page->assign_device(1));
    QCOMPARE(port_list()->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS1"));
    const QByteArray before = benchtest::read_file(config_file());
    when_dialog_shows([](AssignPortDialog *d) {
      d->findChild<QLineEdit *>("editDevice")->setText(QStringLiteral("/dev/ttyUSB5"));
      d->reject();
    });
    QVERIFY(!page->assign_device(1));
    QCOMPARE(benchtest::read_file(config_file()), before);
    QFile::remove(config_file());
  }

  void refusedDeviceSaysWhichGroupToJoin() {
    if (::geteuid() == 0) return rerun_as_nobody(QStringLiteral("refusedDeviceSaysWhichGroupToJoin"));
    benchtest::RecordingMessages messages;
    const QString device = QDir::currentPath() + QStringLiteral("/locked-tty");
    QFile(device).open(QIODevice::WriteOnly);
    QVERIFY(::chmod(device.toUtf8().constData(), 0) == 0);
    ::setenv("TOLVEX_COM3", device.toUtf8().constData(), 1);
    QCOMPARE(open_port_step(2, "38400"), 0);
    ::unsetenv("TOLVEX_COM3");
    QCOMPARE(messages.all.size(), 1);
    const QString detail = messages.all[0].detail;
    QVERIFY2(detail.contains("Permission denied") && detail.contains("group \"") && detail.contains("new login"),
             qPrintable(detail));
  }

  void portCfgIsRewrittenInPlaceInAReadOnlyFolder() {
    if (::geteuid() == 0) return rerun_as_nobody(QStringLiteral("portCfgIsRewrittenInPlaceInAReadOnlyFolder"));
    benchtest::RecordingMessages messages;
    benchtest::SimTerminal terminal;
    QVERIFY(terminal.start());
    const QString home = QDir::currentPath();
    const QString folder = home + QStringLiteral("/read-only");
    QVERIFY(QDir().mkpath(folder));
    QFile old(folder + QStringLiteral("/Port.cfg"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old content that is longer than the new record by quite a few bytes, so it must be cut\n");
    old.close();
    QVERIFY(::chmod(folder.toUtf8().constData(), 0555) == 0);
    const bool holds = read_only_folders_hold(folder);
    if (holds) {
      QDir::setCurrent(folder);
      ::setenv("TOLVEX_COM1", terminal.path().c_str(), 1);
      QCOMPARE(open_port_step(0, "19200"), 1);
      QDir::setCurrent(home);
    }
    ::chmod(folder.toUtf8().constData(), 0755);
    QVERIFY2(holds, "a read-only folder took a new file");
    QVERIFY2(messages.all.isEmpty(), qPrintable(messages.texts().join('|')));
    QCOMPARE(benchtest::read_file(folder + QStringLiteral("/Port.cfg")),
             QByteArray("PORT: 0\nBAUDRATE: 19200\nDATA_BIT: 8\nSTOP_BIT: 0\nPARITY_BIT: 0\nCONTROL: 0"));
  }
};

QTEST_MAIN(PortSetupTest)
#include "port_setup_test.moc"

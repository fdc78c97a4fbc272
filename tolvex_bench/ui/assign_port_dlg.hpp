// "Assign device to COM n…": picks the device that " COM n" opens and records it as the
// line COMn=DEVICE of ports.conf, where the library looks it up.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AssignPortDialog;
}

class AssignPortDialog final : public QDialog {
  Q_OBJECT
 public:
  // port_number: n of COMn. device_root: where sysfs and /dev are read (empty: the
  // machine's own).
  AssignPortDialog(unsigned port_number, const QString &device_root, QWidget *parent = nullptr);
  ~AssignPortDialog() override;

  void accept() override;

 private:
  void fill_adapters(const QString &device_root);
  // Replaces ports.conf as a whole; false with a message when that fails.
  bool save(const QString &device);

  unsigned port_number_;
  std::unique_ptr<Ui::AssignPortDialog> ui_;
};

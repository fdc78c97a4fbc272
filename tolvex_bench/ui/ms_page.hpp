// The "MS/IC" tab.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class CMsDlg;
}

class CMsDlg final : public QWidget {
  Q_OBJECT
 public:
  explicit CMsDlg(QWidget *parent = nullptr);
  ~CMsDlg() override;

 private:
  std::unique_ptr<Ui::CMsDlg> ui_;
};

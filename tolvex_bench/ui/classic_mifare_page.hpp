// The "ClassMifare" tab.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class CClassicMifare;
}

class CClassicMifare final : public QWidget {
  Q_OBJECT
 public:
  explicit CClassicMifare(QWidget *parent = nullptr);
  ~CClassicMifare() override;

 private:
  std::unique_ptr<Ui::CClassicMifare> ui_;
};

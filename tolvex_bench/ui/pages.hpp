// The pages of the later tabs. Each is built from its own form; their controls and
// handlers arrive with their own work.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class CClassicMifare;
class CMsDlg;
class CAging;
}  // namespace Ui

// "ClassMifare" tab.
class CClassicMifare final : public QWidget {
  Q_OBJECT
 public:
  explicit CClassicMifare(QWidget *parent = nullptr);
  ~CClassicMifare() override;

 private:
  std::unique_ptr<Ui::CClassicMifare> ui_;
};

// "MS/IC" tab.
class CMsDlg final : public QWidget {
  Q_OBJECT
 public:
  explicit CMsDlg(QWidget *parent = nullptr);
  ~CMsDlg() override;

 private:
  std::unique_ptr<Ui::CMsDlg> ui_;
};

// "Aging" tab. Owns the aging-stopped flag: 1 while no aging run is going on, 0 while
// one runs; the main dialog refuses tab changes while it is 0.
class CAging final : public QWidget {
  Q_OBJECT
 public:
  explicit CAging(QWidget *parent = nullptr);
  ~CAging() override;

  std::uint8_t aging_stopped() const { return aging_stopped_; }
  void set_aging_stopped(std::uint8_t stopped) { aging_stopped_ = stopped; }

 private:
  std::unique_ptr<Ui::CAging> ui_;
  std::uint8_t aging_stopped_ = 1;
};

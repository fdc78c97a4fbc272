// The "Aging" tab. Owns the aging-stopped flag: 1 while no aging run is going on, 0 while
// one runs; the main dialog refuses tab changes while it is 0.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class CAging;
}

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

// A message service for the Qt benchmarks: prints each message on standard error and
// counts them, so that a run that met one can say it did not go cleanly.
#pragma once

#include <cstdio>

#include "message_service.hpp"

namespace tolvex::benchmarks {

class PrintedMessages final : public bench::ui::MessageService {
 public:
  QMessageBox::StandardButton show(const bench::ui::Message &message) override {
    std::fprintf(stderr, "message: %s\n", message.text.toUtf8().constData());
    ++count;
    return QMessageBox::Ok;
  }
  int count = 0;
};

}  // namespace tolvex::benchmarks

// Opening the serial port from the Setting page, and the record of the last good
// settings in "Port.cfg".
#pragma once

#include <QString>

namespace tolvex::bench::ui {

// Closes the port, pauses 100 ms and opens "COM1" to "COM4" (port index 0 to 3) with
// the given settings. On success rewrites "Port.cfg" in the current directory and
// returns 1; on failure shows the setup warning, leaves Port.cfg as it was and returns 0.
int open_port(int port_index, int control, int parity, int data_bits, int stop_bits, const QString &baud_text);

// The six lines of Port.cfg, without a line break after the last.
QByteArray port_cfg_text(int port_index, const QString &baud_text, int data_bits, int stop_bits, int parity,
                         int control);

}  // namespace tolvex::bench::ui

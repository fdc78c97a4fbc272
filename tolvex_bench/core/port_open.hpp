// Opening the serial port from the Setting page, and the record of the last good
// settings in "Port.cfg".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "page_view.hpp"

namespace tolvex::bench {

// Closes the port, pauses 100 ms and opens "COM1" to "COM4" (port index 0 to 3) with
// the given settings. On success rewrites "Port.cfg" in the current directory and
// returns 1; on failure shows the setup warning (the library's reason as its detail),
// leaves Port.cfg as it was and returns 0.
int open_port(PageView &view, int port_index, int control, int parity, int data_bits, int stop_bits,
              std::string_view baud_text);

// The six lines of Port.cfg, without a line break after the last.
std::string port_cfg_text(int port_index, std::string_view baud_text, int data_bits, int stop_bits, int parity,
                          int control);

// Replaces the file with `content` as a whole: written beside it, then renamed over it,
// so a failure or a crash never leaves half a file. Where the folder takes no new file,
// an existing writable file is rewritten in place instead. Empty on success, otherwise
// why it failed; the old file then stays.
std::string replace_file(const std::filesystem::path &path, std::string_view content);

}  // namespace tolvex::bench

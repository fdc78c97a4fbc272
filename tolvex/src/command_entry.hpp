// Internal entry shared by exe_cmd and every named command function.
#pragma once

#include <cstdint>

namespace tolvex {

// Starts one command: the three characters of code and length bytes of data.
// Returns the new process number (1..255), or 0 when the command was refused
// (length above 1000, data missing, or another command still in flight).
int command_entry(const char *code, const std::uint8_t *data, std::uint32_t length);

}  // namespace tolvex

// The command exchange: command record, response slot, stop flag and the command worker
// that frames a command, runs the handshake and publishes the outcome.
#pragma once

#include <cstdint>

namespace tolvex {

// Response slot. op 0 finish: busy flag 0, returns 1. op 1 begin: refused with 0 while a
// command is in flight; else advances the process number (255 wraps to 1), hands it back
// through prc_no, clears the response, sets busy, clears the stop flag and returns 1.
// Any other op collects: 0 while busy, else copies at most TOLVEX_RESPONSE_MAX bytes and
// the three values and returns 1.
int res_slot(int op, std::uint8_t *data = nullptr, int *length = nullptr, std::uint8_t *prc_no = nullptr,
             int *result = nullptr);

// Stop flag: op 0 clear (returns 1), op 1 set and wake the worker (returns 1), other ops
// return the flag.
int stop_flag(int op);

}  // namespace tolvex

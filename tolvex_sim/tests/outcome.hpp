// One command's outcome through the library's C interface, collected by polling chk_res.
#pragma once

#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace tolvex::sim::test {

struct Outcome {
  int result = -1;
  std::vector<std::uint8_t> data;
};

// Polls chk_res until the command with process number `prc` has finished (20 s at most).
inline Outcome wait_outcome(int prc) {
  using namespace std::chrono_literals;
  Outcome o;
  EXPECT_NE(prc, 0) << "the library refused the command";
  if (prc == 0) return o;
  const auto until = std::chrono::steady_clock::now() + 20s;
  std::uint8_t buf[TOLVEX_RESPONSE_MAX] = {};
  int len = 0;
  std::uint8_t no = 0;
  while (std::chrono::steady_clock::now() < until) {
    if (chk_res(buf, &len, &no, &o.result) == 1) {
      EXPECT_EQ(no, prc);
      o.data.assign(buf, buf + len);
      return o;
    }
    std::this_thread::sleep_for(1ms);
  }
  ADD_FAILURE() << "no outcome within 20 s";
  return o;
}

// Starts one command through `start` and waits for its outcome.
inline Outcome run(const std::function<int()> &start) { return wait_outcome(start()); }

}  // namespace tolvex::sim::test

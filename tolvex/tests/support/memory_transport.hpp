// A line held in memory: what the library writes is collected, what the test puts in
// is read back, and refusals, a full output, a slow drain and a lost line can be set.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "transport.hpp"

namespace tolvex::test {

class MemoryTransport : public Transport {
 public:
  bool open(const std::string &, const LineSettings &, std::string &) override {
    open_ = true;
    gone_ = false;
    unplugged_ = false;
    return true;
  }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }

  long write(const std::uint8_t *bytes, std::size_t n) override {
    if (!open_ || gone_ || refuse_writes) return -1;
    const std::size_t take = std::min(n, accept_at_most);
    written.insert(written.end(), bytes, bytes + take);
    return static_cast<long>(take);
  }
  bool output_empty() override { return !output_stuck; }
  long read(std::uint8_t *buffer, std::size_t max) override {
    if (unplugged_) return -1;
    const std::size_t n = std::min(max, incoming.size());
    std::copy(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
  }
  int readable_fd() const override { return -1; }
  bool hung_up() const override { return gone_; }
  void set_hung_up() override { gone_ = true; }

  // The far side disappears: the next read reports it.
  void unplug() { unplugged_ = true; }

  std::vector<std::uint8_t> written;   // every byte the library wrote, in order
  std::vector<std::uint8_t> incoming;  // bytes waiting to be read by the library
  bool refuse_writes = false;
  bool output_stuck = false;  // written bytes never leave
  std::size_t accept_at_most = SIZE_MAX;

 private:
  bool open_ = false;
  bool gone_ = false;
  bool unplugged_ = false;
};

}  // namespace tolvex::test

// Builds one command's code and data bytes and hands them to the command entry.
// Every named command function is a line or two on top of this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "command_entry.hpp"
#include "tolvex/protocol.hpp"

namespace tolvex {

class CommandPack {
 public:
  static constexpr std::size_t kCapacity = kDataMax;

  explicit CommandPack(const char (&code)[4]) { std::memcpy(code_, code, 3); }
  // A code chosen from the arguments (three characters).
  explicit CommandPack(std::string_view code) { std::memcpy(code_, code.data(), 3); }

  // Appends one byte.
  CommandPack &put(std::uint8_t b) { return put(&b, 1); }

  // Appends n bytes of the caller's. Bytes that would not fit, or a missing pointer
  // where bytes are needed, refuse the whole command; nothing is copied then.
  CommandPack &put(const std::uint8_t *bytes, std::size_t n) {
    if (refused_ || n == 0) return *this;
    if (bytes == nullptr || n > kCapacity - length_) {
      refused_ = true;
      return *this;
    }
    std::memcpy(data_.data() + length_, bytes, n);
    length_ += n;
    return *this;
  }

  // Appends a 32-bit number, least significant byte first.
  CommandPack &put_le32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    return put(b, sizeof b);
  }

  // Starts the command: the process number, or 0 when it was refused here or by the entry.
  int send() const {
    if (refused_) return 0;
    return command_entry(code_, data_.data(), static_cast<std::uint32_t>(length_));
  }

  std::size_t length() const { return length_; }
  bool refused() const { return refused_; }

 private:
  char code_[3];
  std::array<std::uint8_t, kCapacity> data_{};
  std::size_t length_ = 0;
  bool refused_ = false;
};

// Commands without data.
inline int send_bare(const char (&code)[4]) { return CommandPack(code).send(); }

}  // namespace tolvex

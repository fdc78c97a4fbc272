// Telnet with the COM port control option, as a client: pure logic, no I/O. Received
// bytes go in; data bytes and the replies owed to the server come out. Outgoing data has
// its 0xFF bytes doubled; the requests that set up the far port are built here too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tolvex {

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// COM port option commands, client to server; the server answers with the code + 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// The longest sub-negotiation kept; the rest of a longer one is read and dropped.
inline constexpr std::size_t kMaxSubnegotiation = 64;
}  // namespace telnet

class TelnetCodec {
 public:
  // What the server has answered to the port settings, each when it has.
  struct Answers {
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> data_size;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stop_size;
    std::optional<std::uint8_t> control;  // the last SET-CONTROL answer
    unsigned purges = 0;                  // PURGE-DATA answers seen
  };

  // Where an option stands on one side: off, on, or asked for and not yet answered.
  enum class State : std::uint8_t { no, yes, asking };

  // The opening requests: WILL COM-PORT-OPTION, BINARY both ways, SUPPRESS-GO-AHEAD both
  // ways. Appends them to out and marks them asked for.
  void start(std::vector<std::uint8_t> &out);

  // Takes received bytes: appends the data bytes to data and the replies owed to the
  // server to replies. Any byte sequence is accepted.
  void receive(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> &data,
               std::vector<std::uint8_t> &replies);

  // Appends data for the server with every 0xFF doubled.
  static void encode(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> &out);
  // Appends IAC SB COM-PORT-OPTION command value IAC SE, the value's 0xFF doubled.
  static void com_port_request(std::uint8_t command, const std::uint8_t *value, std::size_t n,
                               std::vector<std::uint8_t> &out);
  static void set_baud_rate(std::uint32_t baud, std::vector<std::uint8_t> &out);
  static void set_byte(std::uint8_t command, std::uint8_t value, std::vector<std::uint8_t> &out);

  // Our side of an option (what we do) and the server's side (what it does).
  State ours(std::uint8_t option) const { return ours_[option]; }
  State theirs(std::uint8_t option) const { return theirs_[option]; }
  const Answers &answers() const { return answers_; }

 private:
  enum class Parse : std::uint8_t { data, iac, verb, sub, sub_iac };

  void command(std::uint8_t byte);
  void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &replies);
  void subnegotiation_done();

  static bool wanted_ours(std::uint8_t option);
  static bool wanted_theirs(std::uint8_t option);

  Parse parse_ = Parse::data;
  std::uint8_t verb_ = 0;
  std::array<std::uint8_t, telnet::kMaxSubnegotiation> sub_{};
  std::size_t sub_length_ = 0;
  bool sub_overflow_ = false;
  std::array<State, 256> ours_{};
  std::array<State, 256> theirs_{};
  Answers answers_;
};

}  // namespace tolvex

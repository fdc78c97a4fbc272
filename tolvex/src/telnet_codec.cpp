#include "telnet_codec.hpp"

namespace tolvex {

using namespace telnet;

namespace {

void put_command(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &out) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

}  // namespace

bool TelnetCodec::wanted_ours(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TelnetCodec::wanted_theirs(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

void TelnetCodec::start(std::vector<std::uint8_t> &out) {
  for (const std::uint8_t option : {kComPort, kBinary, kSuppressGoAhead}) {
    ours_[option] = State::asking;
    put_command(kWill, option, out);
  }
  for (const std::uint8_t option : {kBinary, kSuppressGoAhead}) {
    theirs_[option] = State::asking;
    put_command(kDo, option, out);
  }
}

void TelnetCodec::encode(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> &out) {
  out.reserve(out.size() + n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIac) out.push_back(kIac);
  }
}

void TelnetCodec::com_port_request(std::uint8_t command, const std::uint8_t *value, std::size_t n,
                                   std::vector<std::uint8_t> &out) {
  out.insert(out.end(), {kIac, kSb, kComPort, command});
  encode(value, n, out);
  out.insert(out.end(), {kIac, kSe});
}

void TelnetCodec::set_baud_rate(std::uint32_t baud, std::vector<std::uint8_t> &out) {
  const std::uint8_t value[4] = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                 static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
  com_port_request(kSetBaudRate, value, sizeof value, out);
}

void TelnetCodec::set_byte(std::uint8_t command, std::uint8_t value, std::vector<std::uint8_t> &out) {
  com_port_request(command, &value, 1, out);
}

void TelnetCodec::receive(const std::uint8_t *bytes, std::size_t n, std::vector<std::uint8_t> &data,
                          std::vector<std::uint8_t> &replies) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    switch (parse_) {
      case Parse::data:
        if (b == kIac) {
          parse_ = Parse::iac;
        } else {
          data.push_back(b);
        }
        break;
      case Parse::iac:
        if (b == kIac) {
          data.push_back(b);
          parse_ = Parse::data;
        } else {
          command(b);
        }
        break;
      case Parse::verb:
        negotiate(verb_, b, replies);
        parse_ = Parse::data;
        break;
      case Parse::sub:
        if (b == kIac) {
          parse_ = Parse::sub_iac;
        } else if (sub_length_ < sub_.size()) {
          sub_[sub_length_++] = b;
        } else {
          sub_overflow_ = true;
        }
        break;
      case Parse::sub_iac:
        if (b == kIac) {
          if (sub_length_ < sub_.size()) {
            sub_[sub_length_++] = b;
          } else {
            sub_overflow_ = true;
          }
          parse_ = Parse::sub;
        } else if (b == kSe) {
          subnegotiation_done();
          parse_ = Parse::data;
        } else {
          // A command inside a sub-negotiation ends it unfinished; the command counts.
          sub_length_ = 0;
          command(b);
        }
        break;
    }
  }
}

void TelnetCodec::command(std::uint8_t byte) {
  switch (byte) {
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      verb_ = byte;
      parse_ = Parse::verb;
      return;
    case kSb:
      sub_length_ = 0;
      sub_overflow_ = false;
      parse_ = Parse::sub;
      return;
    default:
      // NOP, data mark, break, go-ahead, a stray SE and the rest: nothing to do.
      parse_ = Parse::data;
      return;
  }
}

void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &replies) {
  // Each option moves only between "no", "asking" and "yes"; an answer is sent only
  // when the state changes without having been asked for, so no two sides loop.
  if (verb == kWill || verb == kWont) {
    State &s = theirs_[option];
    if (verb == kWill) {
      if (!wanted_theirs(option)) {
        put_command(kDont, option, replies);
      } else if (s != State::yes) {
        if (s == State::no) put_command(kDo, option, replies);
        s = State::yes;
      }
    } else if (s != State::no) {
      if (s == State::yes) put_command(kDont, option, replies);
      s = State::no;
    }
    return;
  }
  State &s = ours_[option];
  if (verb == kDo) {
    if (!wanted_ours(option)) {
      put_command(kWont, option, replies);
    } else if (s != State::yes) {
      if (s == State::no) put_command(kWill, option, replies);
      s = State::yes;
    }
  } else if (s != State::no) {
    if (s == State::yes) put_command(kWont, option, replies);
    s = State::no;
  }
}

void TelnetCodec::subnegotiation_done() {
  const std::size_t n = sub_length_;
  sub_length_ = 0;
  if (sub_overflow_ || n < 2 || sub_[0] != kComPort) return;
  const std::uint8_t *value = sub_.data() + 2;
  const std::size_t length = n - 2;
  switch (sub_[1]) {
    case kServerOffset + kSetBaudRate:
      if (length == 4) {
        answers_.baud = static_cast<std::uint32_t>(value[0]) << 24 | static_cast<std::uint32_t>(value[1]) << 16 |
                        static_cast<std::uint32_t>(value[2]) << 8 | value[3];
      }
      break;
    case kServerOffset + kSetDataSize:
      if (length == 1) answers_.data_size = value[0];
      break;
    case kServerOffset + kSetParity:
      if (length == 1) answers_.parity = value[0];
      break;
    case kServerOffset + kSetStopSize:
      if (length == 1) answers_.stop_size = value[0];
      break;
    case kServerOffset + kSetControl:
      if (length == 1) answers_.control = value[0];
      break;
    case kServerOffset + kPurgeData:
      ++answers_.purges;
      break;
    default:
      // Line and modem state notices, flow suspension, the signature: not used.
      break;
  }
}

}  // namespace tolvex

// The Telnet codec of rfc2217:// ports and the parsing of network port names, as pure
// logic: received bytes against the data and replies they must give, in tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "network_address.hpp"
#include "telnet_codec.hpp"

namespace tolvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

struct ReceiveCase {
  const char *what;
  Bytes in;
  Bytes data;
  Bytes replies;
};

// Every case starts from a codec that has sent its opening requests.
TEST(TelnetCodec, ReceiveTable) {
  const ReceiveCase cases[] = {
      {"plain data", {0x01, 0x02, 0x43}, {0x01, 0x02, 0x43}, {}},
      {"doubled IAC is one 0xFF", {0x10, kIac, kIac, 0x20}, {0x10, 0xFF, 0x20}, {}},
      {"run of doubled IACs", {kIac, kIac, kIac, kIac, kIac, kIac}, {0xFF, 0xFF, 0xFF}, {}},
      {"NOP and GA between data", {0x41, kIac, 241, 0x42, kIac, 249}, {0x41, 0x42}, {}},
      {"lone IAC at the end waits", {0x41, kIac}, {0x41}, {}},
      {"DO COM port: asked, no answer", {kIac, kDo, kComPort}, {}, {}},
      {"WILL BINARY: asked, no answer", {kIac, kWill, kBinary}, {}, {}},
      {"WILL ECHO refused", {kIac, kWill, 1}, {}, {kIac, kDont, 1}},
      {"DO TERMINAL-TYPE refused", {kIac, kDo, 24}, {}, {kIac, kWont, 24}},
      {"DONT for an unknown option while off: silent", {kIac, kDont, 24}, {}, {}},
      {"WONT for an unknown option while off: silent", {kIac, kWont, 1}, {}, {}},
      {"sub-negotiation carries no data", {0x31, kIac, kSb, kComPort, 107, 0x30, kIac, kSe, 0x32}, {0x31, 0x32}, {}},
      {"sub-negotiation of another option ignored", {kIac, kSb, 24, 1, kIac, kSe, 0x55}, {0x55}, {}},
      {"command inside a sub-negotiation ends it", {kIac, kSb, kComPort, 101, kIac, kWill, 1, 0x44}, {0x44},
       {kIac, kDont, 1}},
      {"stray SE is ignored", {kIac, kSe, 0x33}, {0x33}, {}},
  };
  for (const ReceiveCase &c : cases) {
    TelnetCodec codec;
    Bytes opening;
    codec.start(opening);
    Bytes data, replies;
    codec.receive(c.in.data(), c.in.size(), data, replies);
    EXPECT_EQ(data, c.data) << c.what;
    EXPECT_EQ(replies, c.replies) << c.what;
    // Byte by byte gives the same: state carries over between reads.
    TelnetCodec split;
    split.start(opening);
    Bytes data1, replies1;
    for (const std::uint8_t b : c.in) split.receive(&b, 1, data1, replies1);
    EXPECT_EQ(data1, c.data) << c.what << " (byte by byte)";
    EXPECT_EQ(replies1, c.replies) << c.what << " (byte by byte)";
  }
}

TEST(TelnetCodec, NegotiationStatesAndNoLoops) {
  TelnetCodec codec;
  Bytes out;
  codec.start(out);
  EXPECT_EQ(out, (Bytes{kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kWill, kSuppressGoAhead, kIac, kDo, kBinary,
                        kIac, kDo, kSuppressGoAhead}));
  EXPECT_EQ(codec.ours(kComPort), TelnetCodec::State::asking);

  Bytes data, replies;
  const Bytes answers = {kIac, kDo,   kComPort, kIac, kDo,   kBinary,         kIac, kDo,
                         kSuppressGoAhead, kIac, kWill, kBinary, kIac, kWill, kSuppressGoAhead};
  codec.receive(answers.data(), answers.size(), data, replies);
  EXPECT_TRUE(replies.empty());  // answers to our own requests are not answered again
  EXPECT_EQ(codec.ours(kComPort), TelnetCodec::State::yes);
  EXPECT_EQ(codec.theirs(kBinary), TelnetCodec::State::yes);

  // Repeats change nothing and are not answered; a server turning an option off is.
  codec.receive(answers.data(), answers.size(), data, replies);
  EXPECT_TRUE(replies.empty());
  const Bytes off = {kIac, kWont, kBinary, kIac, kDont, kSuppressGoAhead};
  codec.receive(off.data(), off.size(), data, replies);
  EXPECT_EQ(replies, (Bytes{kIac, kDont, kBinary, kIac, kWont, kSuppressGoAhead}));
  EXPECT_EQ(codec.theirs(kBinary), TelnetCodec::State::no);
  // A server offering an option we want, unasked, is agreed to once.
  replies.clear();
  const Bytes again = {kIac, kWill, kBinary, kIac, kWill, kBinary};
  codec.receive(again.data(), again.size(), data, replies);
  EXPECT_EQ(replies, (Bytes{kIac, kDo, kBinary}));

  // Refusal of the COM port option while asked for.
  TelnetCodec refused;
  Bytes ignored;
  refused.start(ignored);
  replies.clear();
  const Bytes dont = {kIac, kDont, kComPort};
  refused.receive(dont.data(), dont.size(), data, replies);
  EXPECT_TRUE(replies.empty());
  EXPECT_EQ(refused.ours(kComPort), TelnetCodec::State::no);
  EXPECT_TRUE(data.empty());
}

TEST(TelnetCodec, ServerAnswersAndBoundedSubnegotiation) {
  TelnetCodec codec;
  Bytes data, replies;
  // 19200 baud, then a baud rate with 0xFF in it, doubled inside the sub-negotiation.
  const Bytes in = {kIac, kSb, kComPort, 101, 0x00, 0x00, 0x4B, 0x00, kIac, kSe,         // 19200
                    kIac, kSb, kComPort, 102, 7, kIac, kSe,                              // 7 bits
                    kIac, kSb, kComPort, 103, 3, kIac, kSe,                              // even
                    kIac, kSb, kComPort, 104, 2, kIac, kSe,                              // two
                    kIac, kSb, kComPort, 105, 3, kIac, kSe,                              // hardware
                    kIac, kSb, kComPort, 112, 3, kIac, kSe,                              // purged
                    kIac, kSb, kComPort, 101, 0x00, 0x01, kIac, kIac, 0x00, kIac, kSe};  // 0x0001FF00
  codec.receive(in.data(), in.size(), data, replies);
  const TelnetCodec::Answers &a = codec.answers();
  ASSERT_TRUE(a.baud && a.data_size && a.parity && a.stop_size && a.control);
  EXPECT_EQ(*a.baud, 0x0001FF00u);
  EXPECT_EQ(*a.data_size, 7);
  EXPECT_EQ(*a.parity, 3);
  EXPECT_EQ(*a.stop_size, 2);
  EXPECT_EQ(*a.control, 3);
  EXPECT_EQ(a.purges, 1u);
  EXPECT_TRUE(data.empty());
  EXPECT_TRUE(replies.empty());

  // A sub-negotiation far longer than the buffer is dropped whole; data after its end flows.
  TelnetCodec longer;
  Bytes hostile = {kIac, kSb, kComPort, 101};
  hostile.insert(hostile.end(), 100000, 0x07);
  hostile.insert(hostile.end(), {kIac, kSe, 0x61});
  data.clear();
  longer.receive(hostile.data(), hostile.size(), data, replies);
  EXPECT_EQ(data, (Bytes{0x61}));
  EXPECT_FALSE(longer.answers().baud.has_value());
}

TEST(TelnetCodec, EncodingDoublesIacOnly) {
  struct Case {
    Bytes in;
    Bytes out;
  };
  const Case cases[] = {
      {{}, {}},
      {{0x01, 0x41}, {0x01, 0x41}},
      {{0xFF}, {0xFF, 0xFF}},
      {{0xFE, 0xFF, 0xFF, 0x00}, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
  };
  for (const Case &c : cases) {
    Bytes out;
    TelnetCodec::encode(c.in.data(), c.in.size(), out);
    EXPECT_EQ(out, c.out);
    // What is sent decodes back to what was given.
    TelnetCodec codec;
    Bytes data, replies;
    codec.receive(out.data(), out.size(), data, replies);
    EXPECT_EQ(data, c.in);
  }
  Bytes request;
  TelnetCodec::set_baud_rate(0x0000FFFF, request);
  EXPECT_EQ(request, (Bytes{kIac, kSb, kComPort, kSetBaudRate, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, kIac, kSe}));
}

TEST(NetworkPortNames, ParseTable) {
  struct Case {
    const char *name;
    bool ok;
    NetworkAddress::Kind kind;
    const char *host;
    int port;
  };
  using K = NetworkAddress::Kind;
  const Case cases[] = {
      {"socket://127.0.0.1:4001", true, K::raw, "127.0.0.1", 4001},
      {"rfc2217://terminal-3.lan:7000", true, K::rfc2217, "terminal-3.lan", 7000},
      {"rfc2217://[::1]:2217", true, K::rfc2217, "::1", 2217},
      {"socket://[fe80::1%eth0]:1", true, K::raw, "fe80::1%eth0", 1},
      {"socket://host:65535", true, K::raw, "host", 65535},
      {"socket://host:0", false, K::raw, "", 0},
      {"socket://host:65536", false, K::raw, "", 0},
      {"socket://host:", false, K::raw, "", 0},
      {"socket://host", false, K::raw, "", 0},
      {"socket://:4001", false, K::raw, "", 0},
      {"socket://::1:4001", false, K::raw, "", 0},
      {"socket://[::1]4001", false, K::raw, "", 0},
      {"socket://[]:4001", false, K::raw, "", 0},
      {"socket://host:40x1", false, K::raw, "", 0},
      {"socket://host/path:4001", false, K::raw, "", 0},
      {"telnet://host:23", false, K::raw, "", 0},
      {"/dev/ttyUSB0", false, K::raw, "", 0},
  };
  for (const Case &c : cases) {
    std::string error;
    const std::optional<NetworkAddress> a = parse_network_port(c.name, error);
    EXPECT_EQ(a.has_value(), c.ok) << c.name << ": " << error;
    if (!a || !c.ok) {
      EXPECT_FALSE(error.empty()) << c.name;
      continue;
    }
    EXPECT_EQ(a->kind, c.kind) << c.name;
    EXPECT_EQ(a->host, c.host) << c.name;
    EXPECT_EQ(a->port, c.port) << c.name;
  }
  EXPECT_TRUE(is_network_port("socket://x:1"));
  EXPECT_TRUE(is_network_port("rfc2217://x:1"));
  EXPECT_FALSE(is_network_port("COM1"));
}

}  // namespace
}  // namespace tolvex

// Every command function through the real exchange: the frame the scripted terminal
// receives must carry exactly the code and data bytes written out in the rows below.
#include <gtest/gtest.h>
#include <tolvex/tolvex.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "command_exports.hpp"
#include "pty_peer.hpp"

namespace tolvex::test {
namespace {

// The caller's bytes: 0x40, 0x41, ... so that every copied byte shows where it came
// from, and far longer than any fixed-size command needs, so over-reading shows too.
const std::uint8_t *src() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b(1100);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(0x40 + i);
    return b;
  }();
  return bytes.data();
}

// first, first + 1, ... (count bytes): only for the long fixed images.
Bytes run(std::uint8_t first, std::size_t count) {
  Bytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

Bytes cat(Bytes head, const Bytes &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct Row {
  const char *name;
  const char *function;  // the export called
  std::function<int()> call;
  const char *code;
  Bytes data;
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

const std::vector<Row> &rows() {
  static const std::vector<Row> table = {
      // Status and identification.
      {"model", "model", [] { return model(); }, "C11", {}},
      {"fw_version", "fw_version", [] { return fw_version(); }, "C12", {}},
      {"chk_stacker", "chk_stacker", [] { return chk_stacker(); }, "C13", {}},
      {"get_stat", "get_stat", [] { return get_stat(); }, "C14", {}},
      {"get_err", "get_err", [] { return get_err(); }, "C15", {}},
      {"card_position", "card_position", [] { return card_position(); }, "C16", {}},
      {"get_stat_in_port", "get_stat_in_port", [] { return get_stat_in_port(); }, "C17", {}},
      // Settings: value bytes only with mode 1.
      {"set_rtc_set", "set_rtc", [] { return set_rtc(1, src()); }, "C21",
       {0x01, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46}},
      {"set_rtc_read_null", "set_rtc", [] { return set_rtc(2, nullptr); }, "C21", {0x02}},
      {"set_rtc_mode0", "set_rtc", [] { return set_rtc(0, src()); }, "C21", {0x00}},
      {"ejt_mode_set", "ejt_mode", [] { return ejt_mode(1, 9); }, "C22", {0x01, 0x09}},
      {"ejt_mode_read", "ejt_mode", [] { return ejt_mode(2, 9); }, "C22", {0x02}},
      {"capture_time_set", "capture_time", [] { return capture_time(1, 3); }, "C23", {0x01, 0x03}},
      {"capture_time_read", "capture_time", [] { return capture_time(2, 0); }, "C23", {0x02}},
      {"rty_cnt_set", "rty_cnt", [] { return rty_cnt(1, 5); }, "C24", {0x01, 0x05}},
      {"rty_cnt_mode0", "rty_cnt", [] { return rty_cnt(0, 5); }, "C24", {0x00}},
      {"buzz_set", "buzz", [] { return buzz(1, 1); }, "C25", {0x01, 0x01}},
      {"buzz_read", "buzz", [] { return buzz(2, 1); }, "C25", {0x02}},
      {"wait_mode_set", "wait_mode", [] { return wait_mode(1, 2); }, "C27", {0x01, 0x02}},
      {"wait_mode_read", "wait_mode", [] { return wait_mode(2, 2); }, "C27", {0x02}},
      {"stk_priority_set", "stk_priority_mode", [] { return stk_priority_mode(1, 2); }, "C28", {0x01, 0x02}},
      {"stk_priority_mode3", "stk_priority_mode", [] { return stk_priority_mode(3, 7); }, "C28", {0x03}},
      {"buzz_manual_set", "buzz_manual", [] { return buzz_manual(1, src()); }, "C40",
       {0x01, 0x40, 0x41, 0x42, 0x43, 0x44}},
      {"buzz_manual_read_null", "buzz_manual", [] { return buzz_manual(2, nullptr); }, "C40", {0x02}},
      {"baudrate", "baudrate", [] { return baudrate(4); }, "C26", {0x04}},
      // Card transport.
      {"card_stk_mov", "card_stk_mov", [] { return card_stk_mov(1, 5); }, "C31", {0x01, 0x05}},
      {"card_mov", "card_mov", [] { return card_mov(2); }, "C32", {0x02}},
      {"card_eject", "card_eject", [] { return card_eject(); }, "C33", {}},
      {"card_eject_ag", "card_eject_ag", [] { return card_eject_ag(); }, "T33", {}},
      {"card_capture", "card_capture", [] { return card_capture(); }, "C34", {}},
      {"card_drop", "card_drop", [] { return card_drop(); }, "C36", {}},
      {"card_hold", "card_hold", [] { return card_hold(); }, "C37", {}},
      {"card_coll", "card_coll", [] { return card_coll(2); }, "C39", {0x02}},
      {"comu_test_7", "comu_test", [] { return comu_test(7); }, "C31", {0x03, 0x03}},
      {"comu_test_0", "comu_test", [] { return comu_test(0); }, "C31", {0x03, 0x03}},
      // Magnetic stripe.
      {"ms_rd_all", "ms_rd", [] { return ms_rd(0); }, "M35", {}},
      {"ms_rd_track", "ms_rd", [] { return ms_rd(2); }, "M31", {0x02}},
      {"ms_wt_all_tracks", "ms_wt", [] { return ms_wt(0, 0, src(), 5); }, "M36", {0x40, 0x41, 0x42, 0x43, 0x44}},
      {"ms_wt_track", "ms_wt", [] { return ms_wt(0, 1, src(), 5); }, "M33", {0x01, 0x40, 0x41, 0x42, 0x43, 0x44}},
      {"ms_wt_stacker4", "ms_wt", [] { return ms_wt(4, 0, src(), 5); }, "M37", {0x04, 0x40, 0x41, 0x42, 0x43, 0x44}},
      {"ms_wt_stacker4_track", "ms_wt", [] { return ms_wt(4, 2, src(), 5); }, "M34",
       {0x00, 0x02, 0x40, 0x41, 0x42, 0x43, 0x44}},
      {"ms_wt_stacker2_track", "ms_wt", [] { return ms_wt(2, 3, src(), 3); }, "M34", {0x02, 0x03, 0x40, 0x41, 0x42}},
      {"ms_wt_track_no_data", "ms_wt", [] { return ms_wt(0, 3, nullptr, 0); }, "M33", {0x03}},
      {"ms_all_wt_no_stacker", "ms_all_wt", [] { return ms_all_wt(0, src(), 3); }, "M36", {0x40, 0x41, 0x42}},
      {"ms_all_wt_stacker4", "ms_all_wt", [] { return ms_all_wt(4, src(), 3); }, "M37", {0x04, 0x40, 0x41, 0x42}},
      {"ms_clean", "ms_clean", [] { return ms_clean(); }, "M51", {}},
      // IC card and SAM.
      {"ic_reset", "ic_reset", [] { return ic_reset(); }, "I21", {}},
      {"ic_exe", "ic_exe", [] { return ic_exe(src(), 4); }, "I22", {0x40, 0x41, 0x42, 0x43}},
      {"sam_reset", "sam_reset", [] { return sam_reset(); }, "I25", {}},
      {"sam_exe", "sam_exe", [] { return sam_exe(src(), 3); }, "I26", {0x40, 0x41, 0x42}},
      {"sam_deact", "sam_deact", [] { return sam_deact(); }, "I27", {}},
      {"ic_pts", "ic_pts", [] { return ic_pts(0x11, 0x22); }, "C43", {0x11, 0x22}},
      {"tm_rst", "tm_rst", [] { return tm_rst(); }, "C42", {}},
      // MIFARE Classic.
      {"mi_det", "mi_det", [] { return mi_det(); }, "R61", {}},
      {"mi_det_no_sens", "mi_det_no_sens", [] { return mi_det_no_sens(); }, "R62", {}},
      {"mi_rd_blk", "mi_rd_blk", [] { return mi_rd_blk(1, 2); }, "R31", {0x01, 0x02}},
      {"mi_wt_blk", "mi_wt_blk", [] { return mi_wt_blk(1, 2, src()); }, "R32",
       {0x01, 0x02, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F}},
      {"mi_rd_blk_no_sens", "mi_rd_blk_no_sens", [] { return mi_rd_blk_no_sens(3, 1); }, "R33", {0x03, 0x01}},
      {"mi_wt_blk_no_sens", "mi_wt_blk_no_sens", [] { return mi_wt_blk_no_sens(3, 1, src()); }, "R34",
       {0x03, 0x01, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F}},
      {"mi_rd_sct", "mi_rd_sct", [] { return mi_rd_sct(5); }, "R36", {0x05}},
      {"mi_wt_sct", "mi_wt_sct", [] { return mi_wt_sct(5, src()); }, "R37", cat({0x05}, run(0x40, 51))},
      {"mi_bal_inc", "mi_bal_inc", [] { return mi_bal_inc(1, 2, 0x01020304); }, "R41",
       {0x01, 0x02, 0x04, 0x03, 0x02, 0x01}},
      {"mi_bal_dec_negative", "mi_bal_dec", [] { return mi_bal_dec(1, 2, -2); }, "R42",
       {0x01, 0x02, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"mi_bal_inc_no_sens", "mi_bal_inc_no_sens", [] { return mi_bal_inc_no_sens(7, 0, 0x7FFFFFFF); }, "R43",
       {0x07, 0x00, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"mi_bal_dec_no_sens", "mi_bal_dec_no_sens", [] { return mi_bal_dec_no_sens(7, 1, 0x00A0B0C0); }, "R44",
       {0x07, 0x01, 0xC0, 0xB0, 0xA0, 0x00}},
      // Secret keys.
      {"mi_cng_tm_key", "mi_cng_tm_key", [] { return mi_cng_tm_key(5, src()); }, "R51",
       {0x05, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_all_tm_key", "mi_cng_all_tm_key", [] { return mi_cng_all_tm_key(src()); }, "R52",
       {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_card_key_flag0", "mi_cng_card_key", [] { return mi_cng_card_key(5, 0, src()); }, "R54",
       {0x05, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_card_key_flag1", "mi_cng_card_key", [] { return mi_cng_card_key(5, 1, src()); }, "R54",
       {0x05, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F}},
      {"mi_cng_card_key_flag80", "mi_cng_card_key", [] { return mi_cng_card_key(6, 0x80, src()); }, "R54",
       {0x06, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F}},
      {"mi_sel_key", "mi_sel_key", [] { return mi_sel_key(2); }, "R53", {0x02}},
      {"mi_cng_tm_key_of_set", "mi_cng_tm_key_of_set", [] { return mi_cng_tm_key_of_set(1, 2, src()); }, "R55",
       {0x01, 0x02, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_all_tm_key_of_set", "mi_cng_all_tm_key_of_set", [] { return mi_cng_all_tm_key_of_set(3, src()); }, "R56",
       {0x03, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_tm_key_start", "mi_cng_tm_key_start", [] { return mi_cng_tm_key_start(); }, "R71", {}},
      {"mi_cng_tm_key_trans", "mi_cng_tm_key_trans", [] { return mi_cng_tm_key_trans(4, 9, src()); }, "R72",
       {0x04, 0x09, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B}},
      {"mi_cng_tm_key_finish", "mi_cng_tm_key_finish", [] { return mi_cng_tm_key_finish(); }, "R73", {}},
      // MIFARE Ultralight and SL2 ICS20.
      {"mi_ultra_rd", "mi_ultra_rd", [] { return mi_ultra_rd(4); }, "U31", {0x04}},
      {"mi_ultra_wt", "mi_ultra_wt", [] { return mi_ultra_wt(4, src()); }, "U32", {0x04, 0x40, 0x41, 0x42, 0x43}},
      {"mi_ultra_rd_uid", "mi_ultra_rd_uid", [] { return mi_ultra_rd_uid(); }, "U41", {}},
      {"sl2_det", "sl2_det", [] { return sl2_det(); }, "S10", {}},
      {"sl2_rd_blk", "sl2_rd_blk", [] { return sl2_rd_blk(7); }, "S11", {0x07}},
      {"sl2_wt_blk", "sl2_wt_blk", [] { return sl2_wt_blk(7, src()); }, "S12", {0x07, 0x40, 0x41, 0x42, 0x43}},
      {"sl2_rd_all", "sl2_rd_all", [] { return sl2_rd_all(); }, "S16", {}},
      {"sl2_wt_all", "sl2_wt_all", [] { return sl2_wt_all(src()); }, "S17", run(0x40, 112)},
  };
  return table;
}

// The rows cover the export table: every export that sends a command code has a row,
// and every row calls such an export. Exports without a code (port, exchange and
// library functions) are tested elsewhere.
TEST(CommandRows, EveryCommandExportHasARow) {
  const std::set<std::string> exports = test::command_exports();
  ASSERT_FALSE(exports.empty());
  std::set<std::string> called;
  for (const Row &row : rows()) {
    EXPECT_EQ(exports.count(row.function), 1u) << row.name << " calls " << row.function << ", no command export";
    called.insert(row.function);
  }
  for (const std::string &name : exports) EXPECT_EQ(called.count(name), 1u) << name << " has no row";
}

// One scripted terminal and an open port for the whole suite.
class CommandFrames : public ::testing::TestWithParam<Row> {
 protected:
  static void SetUpTestSuite() {
    peer_ = std::make_unique<PtyPeer>();
    ASSERT_EQ(EnablePort(peer_->slave_path().c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  }
  static void TearDownTestSuite() {
    DisablePort();
    peer_.reset();
  }
  static std::unique_ptr<PtyPeer> peer_;
};
std::unique_ptr<PtyPeer> CommandFrames::peer_;

TEST_P(CommandFrames, SendsItsCodeAndDataBytes) {
  ASSERT_TRUE(peer_);
  const Row &row = GetParam();
  const int prc = row.call();
  ASSERT_NE(prc, 0);
  auto frame = peer_->serve(0x0000, {});
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->code, row.code);
  EXPECT_EQ(frame->data, row.data);
  EXPECT_EQ(frame->raw, command_frame(row.code, row.data));
  const Outcome out = wait_outcome();
  ASSERT_TRUE(out.finished);
  EXPECT_EQ(out.result, TOLVEX_OK);
  EXPECT_EQ(out.prc_no, prc);
}

INSTANTIATE_TEST_SUITE_P(AllExports, CommandFrames, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row> &row_info) { return std::string(row_info.param.name); });

// Data that cannot fit the data area of TOLVEX_DATA_MAX bytes, or a missing pointer where
// bytes are needed, is refused before anything is sent; the limit itself is accepted and
// framed.
class CommandLimits : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kMax = TOLVEX_DATA_MAX;

  void SetUp() override {
    peer_ = std::make_unique<PtyPeer>();
    ASSERT_EQ(EnablePort(peer_->slave_path().c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
    // A finished command first, so a refusal can be seen to leave its outcome alone.
    last_prc_ = model();
    ASSERT_NE(last_prc_, 0);
    ASSERT_TRUE(peer_->serve(0x0000, {}).has_value());
    ASSERT_TRUE(wait_outcome().finished);
  }
  void TearDown() override { DisablePort(); }

  void expect_nothing_started() {
    EXPECT_TRUE(peer_->drain(100ms).empty());
    const Outcome out = wait_outcome(100ms);
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.prc_no, last_prc_);
  }

  void expect_framed(int prc, const char *code, const Bytes &data) {
    ASSERT_NE(prc, 0);
    auto frame = peer_->serve(0x0000, {});
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->code, code);
    EXPECT_EQ(frame->data, data);
    EXPECT_EQ(frame->raw.size(), data.size() + 10);
    const Outcome out = wait_outcome();
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.result, TOLVEX_OK);
    last_prc_ = prc;
  }

  std::unique_ptr<PtyPeer> peer_;
  int last_prc_ = 0;
};

TEST_F(CommandLimits, OversizedDataIsRefusedBeforeSending) {
  EXPECT_EQ(ms_wt(0, 1, src(), kMax), 0);      // track byte + kMax
  EXPECT_EQ(ms_wt(4, 2, src(), kMax - 1), 0);  // stacker and track bytes + kMax - 1
  EXPECT_EQ(ms_wt(2, 0, src(), kMax), 0);      // stacker byte + kMax
  EXPECT_EQ(ms_wt(0, 0, src(), kMax + 1), 0);
  EXPECT_EQ(ms_all_wt(1, src(), kMax), 0);
  EXPECT_EQ(ms_all_wt(0, src(), kMax + 1), 0);
  EXPECT_EQ(ic_exe(src(), kMax + 1), 0);
  EXPECT_EQ(sam_exe(src(), kMax + 1), 0);
  EXPECT_EQ(ic_exe(src(), 0xFFFFFFFFu), 0);
  expect_nothing_started();
}

TEST_F(CommandLimits, MissingBytesAreRefusedNotRead) {
  EXPECT_EQ(set_rtc(1, nullptr), 0);
  EXPECT_EQ(buzz_manual(1, nullptr), 0);
  EXPECT_EQ(ms_wt(0, 1, nullptr, 5), 0);
  EXPECT_EQ(ms_all_wt(3, nullptr, 5), 0);
  EXPECT_EQ(ic_exe(nullptr, 4), 0);
  EXPECT_EQ(sam_exe(nullptr, 4), 0);
  EXPECT_EQ(mi_wt_blk(1, 2, nullptr), 0);
  EXPECT_EQ(mi_wt_blk_no_sens(1, 2, nullptr), 0);
  EXPECT_EQ(mi_wt_sct(1, nullptr), 0);
  EXPECT_EQ(mi_cng_tm_key(1, nullptr), 0);
  EXPECT_EQ(mi_cng_all_tm_key(nullptr), 0);
  EXPECT_EQ(mi_cng_card_key(1, 0, nullptr), 0);
  EXPECT_EQ(mi_cng_tm_key_of_set(1, 2, nullptr), 0);
  EXPECT_EQ(mi_cng_all_tm_key_of_set(1, nullptr), 0);
  EXPECT_EQ(mi_cng_tm_key_trans(1, 2, nullptr), 0);
  EXPECT_EQ(mi_ultra_wt(1, nullptr), 0);
  EXPECT_EQ(sl2_wt_blk(1, nullptr), 0);
  EXPECT_EQ(sl2_wt_all(nullptr), 0);
  expect_nothing_started();
}

TEST_F(CommandLimits, FullDataAreaIsAcceptedAndFramed) {
  expect_framed(ic_exe(src(), kMax), "I22", run(0x40, kMax));
  expect_framed(sam_exe(src(), kMax), "I26", run(0x40, kMax));
  expect_framed(ms_wt(0, 1, src(), kMax - 1), "M33", cat({0x01}, run(0x40, kMax - 1)));
  expect_framed(ms_wt(4, 2, src(), kMax - 2), "M34", cat({0x00, 0x02}, run(0x40, kMax - 2)));
  expect_framed(ms_all_wt(0, src(), kMax), "M36", run(0x40, kMax));
}

// With the port closed the command still starts; the refused write ends it in 108.
TEST(CommandsPortClosed, EveryExportStartsAndEndsInTransmissionError) {
  DisablePort();
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    const int prc = row.call();
    ASSERT_NE(prc, 0);
    const Outcome out = wait_outcome(5000ms);
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.prc_no, prc);
    EXPECT_EQ(out.result, TOLVEX_TX_ERROR);
    EXPECT_EQ(out.length, 0);
  }
}

// The two functions that send nothing: the source version goes to the message handler
// (standard error without one) on the caller's thread, and delay sleeps that thread.
TEST(NotCommands, SourceVersionAndDelay) {
  PtyPeer peer;
  ASSERT_EQ(EnablePort(peer.slave_path().c_str(), 8, 0, 0, 38400, 0), 1) << tolvex_port_error();
  struct Seen {
    std::vector<std::string> texts;
    std::thread::id thread;
  } seen;
  tolvex_set_message_handler(
      [](const char *text, void *ctx) {
        auto *s = static_cast<Seen *>(ctx);
        s->texts.emplace_back(text);
        s->thread = std::this_thread::get_id();
      },
      &seen);
  call_src_ver();
  tolvex_set_message_handler(nullptr, nullptr);
  EXPECT_EQ(seen.texts, std::vector<std::string>{"[Source Version: 060607]"});
  EXPECT_EQ(seen.thread, std::this_thread::get_id());

  testing::internal::CaptureStderr();
  call_src_ver();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Source Version: 060607]\n");

  const auto t0 = std::chrono::steady_clock::now();
  delay(40);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 40ms);
  delay(0);
  delay(-5);  // nothing to wait for
  EXPECT_TRUE(peer.drain(100ms).empty()) << "something was sent to the terminal";
  DisablePort();
}

}  // namespace
}  // namespace tolvex::test

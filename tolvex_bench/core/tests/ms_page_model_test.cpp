// The MS/IC page model against the simulated terminal: the frames each handler sends,
// in which order, and what the page shows after each outcome.
#include "ms_page_model.hpp"

#include <array>
#include <chrono>
#include <thread>

#include "page_harness.hpp"
#include "received_frames.hpp"
#include "text.hpp"

namespace tolvex::bench::testing {
namespace {

using M = MsPageModel;

const std::wstring kTrack1 = L"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234";
const std::wstring kTrack2 = L"1234567890123456789012345678901234567";
const std::wstring kTrack3 =
    L"12345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234";
const std::wstring kTracks[] = {kTrack1, kTrack2, kTrack3};

std::wstring rotated(const std::wstring &text, std::size_t times) { return text.substr(times) + text.substr(0, times); }

Bytes track_frame(int track, const std::wstring &text) {
  Bytes data{static_cast<std::uint8_t>(track)};
  const std::string bytes = to_utf8(text);
  data.insert(data.end(), bytes.begin(), bytes.end());
  return data;
}

class MsPageModelTest : public SimulatedTerminal {
 protected:
  void SetUp() override {
    SimulatedTerminal::SetUp();
    model_.init();
  }
  void TearDown() override {
    while (!library_done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SimulatedTerminal::TearDown();
  }

  // A command of the test's own; true when the terminal answered success.
  bool run(const char *code, const CommandStep::Starter &start) {
    return commands_.run(code, start, L"Frame Error") && commands_.state().result == 0;
  }
  void insert_card(std::uint8_t kind) {
    ASSERT_TRUE(run("C31", [kind] { return card_stk_mov(1, kind); }));
    forget_received();
  }
  // Keeps the library busy with "C11" for a while, so the page's next command is refused.
  void occupy_library() {
    ASSERT_TRUE(sim_->add_fault("C11:late=2000"));
    ASSERT_NE(model(), 0);
  }
  void check_only(std::initializer_list<int> boxes) {
    for (int track = 1; track <= 3; ++track) {
      view_.set_checked(M::write_check(track), false);
      view_.set_checked(M::read_check(track), false);
    }
    for (const int box : boxes) view_.set_checked(box, true);
  }
  void set_apdu(const std::wstring &cla, const std::wstring &ins, const std::wstring &p1, const std::wstring &p2,
                const std::wstring &lc, const std::wstring &data, const std::wstring &le) {
    const std::pair<int, std::wstring> boxes[] = {{M::Cla, cla}, {M::Ins, ins}, {M::P1, p1},      {M::P2, p2},
                                                  {M::Lc, lc},   {M::LcData, data}, {M::Le, le}};
    for (const auto &[box, text] : boxes) view_.set_text(box, text);
  }
  std::vector<Frame> sent(std::string_view code = {}) { return frames_in(received(), code); }

  MsPageModel model_{view_, commands_};
};

TEST_F(MsPageModelTest, InitFillsTheListTextsAndHints) {
  EXPECT_EQ(view_.items[M::Coercivity], (std::vector<std::wstring>{L"LOW-CO", L"HI-CO"}));
  EXPECT_EQ(view_.selection(M::Coercivity), 0);
  const std::wstring hints[] = {L"76/76", L"37/37", L"104/104"};
  for (int track = 1; track <= 3; ++track) {
    EXPECT_EQ(view_.text(M::write_box(track)), kTracks[track - 1]);
    EXPECT_EQ(view_.text(M::hint(track)), hints[track - 1]);
    EXPECT_EQ(view_.marked.count(M::hint(track)), 1u);
    EXPECT_FALSE(view_.marked[M::hint(track)]);
  }
}

TEST_F(MsPageModelTest, HintsFollowTheWriteText) {
  struct Case {
    int track;
    std::wstring text;
    std::wstring hint;
    bool warn;
    std::vector<std::size_t> unencodable;
  } cases[] = {
      {2, L"1234", L"4/37", false, {}},
      {2, L"12A4=", L"5/37, 1 not encodable", true, {2}},
      {2, std::wstring(38, L'5'), L"38/37", true, {}},
      {1, L"%B123^", L"6/76", false, {}},
      {1, L"ab\x00C4", L"3/76, 3 not encodable", true, {0, 1, 2}},
      {3, L"", L"0/104", false, {}},
  };
  for (const Case &c : cases) {
    view_.set_text(M::write_box(c.track), c.text);
    model_.write_text_changed(c.track);
    EXPECT_EQ(view_.text(M::hint(c.track)), c.hint);
    EXPECT_EQ(view_.marked[M::hint(c.track)], c.warn) << "track " << c.track;
    EXPECT_EQ(view_.character_marks[M::write_box(c.track)], c.unencodable);
  }
}

TEST_F(MsPageModelTest, AllSelectChecksAllUnlessAllAreChecked) {
  check_only({M::WriteCheck1, M::WriteCheck2, M::WriteCheck3, M::ReadCheck1, M::ReadCheck2});
  for (const bool expected : {true, false, true}) {
    model_.all_select();
    for (int track = 1; track <= 3; ++track) {
      EXPECT_EQ(view_.checked(M::write_check(track)), expected);
      EXPECT_EQ(view_.checked(M::read_check(track)), expected);
    }
  }
  EXPECT_TRUE(received().empty());
}

TEST_F(MsPageModelTest, MsSelectSendsTheCoercivity) {
  const std::pair<int, std::uint8_t> cases[] = {{1, '3'}, {0, '0'}, {-1, '0'}};
  for (const auto &[index, byte] : cases) {
    view_.set_selection(M::Coercivity, index);
    model_.ms_select();
    const auto frames = sent("C48");
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().data, Bytes{byte});
  }
  EXPECT_EQ(sent("C48").size(), 3u);
  EXPECT_EQ(commands_.codes, (std::vector<std::string>{"C48", "C48", "C48"}));
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MsPageModelTest, MsExecuteWithNothingCheckedOnlyClears) {
  for (int track = 1; track <= 3; ++track) view_.set_text(M::read_box(track), L"OLD");
  commands_.report_text = L"old report";
  model_.ms_execute();
  for (int track = 1; track <= 3; ++track) EXPECT_TRUE(view_.text(M::read_box(track)).empty());
  EXPECT_TRUE(commands_.report_text.empty());
  EXPECT_TRUE(received().empty());
}

// Writes and reads go track by track, the write of a track before its read.
TEST_F(MsPageModelTest, MsExecuteSendsInTrackOrder) {
  insert_card(1);
  struct Case {
    std::vector<int> checked;
    std::vector<std::pair<std::string, int>> expected;  // code and track number
  } cases[] = {
      {{M::WriteCheck2}, {{"M33", 2}}},
      {{M::ReadCheck3, M::ReadCheck1}, {{"M31", 1}, {"M31", 3}}},
      {{M::ReadCheck1, M::WriteCheck3, M::WriteCheck1},
       {{"M33", 1}, {"M31", 1}, {"M33", 3}}},
      {{M::ReadCheck3, M::WriteCheck3, M::ReadCheck2, M::WriteCheck2, M::ReadCheck1, M::WriteCheck1},
       {{"M33", 1}, {"M31", 1}, {"M33", 2}, {"M31", 2}, {"M33", 3}, {"M31", 3}}},
  };
  for (const Case &c : cases) {
    forget_received();
    check_only({});
    for (const int box : c.checked) view_.set_checked(box, true);
    model_.ms_execute();
    const auto frames = sent();
    ASSERT_EQ(frames.size(), c.expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].code, c.expected[i].first);
      ASSERT_FALSE(frames[i].data.empty());
      EXPECT_EQ(frames[i].data[0], c.expected[i].second);
    }
  }
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MsPageModelTest, GoodWriteRotatesAndReadsBackUnmarked) {
  insert_card(1);
  check_only({M::WriteCheck2});
  model_.ms_execute();
  model_.ms_execute();
  const auto writes = sent("M33");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].data, track_frame(2, kTrack2));
  EXPECT_EQ(writes[1].data, track_frame(2, rotated(kTrack2, 1)));
  EXPECT_EQ(view_.text(M::Write2), rotated(kTrack2, 2));
  EXPECT_EQ(view_.text(M::Hint2), L"37/37");

  // All six: each read shows what was written before its rotation, unmarked.
  model_.all_select();
  model_.ms_execute();
  const std::wstring written[] = {kTrack1, rotated(kTrack2, 2), kTrack3};
  for (int track = 1; track <= 3; ++track) {
    EXPECT_EQ(view_.text(M::read_box(track)), written[track - 1]);
    EXPECT_FALSE(view_.marked[M::read_box(track)]);
    EXPECT_EQ(view_.text(M::write_box(track)), rotated(written[track - 1], 1));
  }
}

TEST_F(MsPageModelTest, ReadDifferingFromTheLastWriteIsMarked) {
  insert_card(1);
  check_only({M::WriteCheck2});
  model_.ms_execute();
  static const std::uint8_t other[] = {'9', '9', '9'};
  ASSERT_TRUE(run("M33", [] { return ms_wt(0, 2, other, 3); }));
  check_only({M::ReadCheck1, M::ReadCheck2});
  model_.ms_execute();
  EXPECT_EQ(view_.text(M::Read2), L"999");
  EXPECT_TRUE(view_.marked[M::Read2]);
  EXPECT_EQ(view_.marks[M::Read2], L"Differs from the text last written to Track2:\n" + kTrack2);
  // Never written by the page: shown as read, unmarked.
  EXPECT_FALSE(view_.marked[M::Read1]);

  // The next run clears the mark with the box.
  check_only({});
  model_.ms_execute();
  EXPECT_FALSE(view_.marked[M::Read2]);
  EXPECT_TRUE(view_.text(M::Read2).empty());
}

TEST_F(MsPageModelTest, FailedWriteKeepsItsTextAndFailedReadShowsNothing) {
  insert_card(1);
  ASSERT_TRUE(sim_->add_fault("M33:status=0x2202"));
  ASSERT_TRUE(sim_->add_fault("M31:status=0x2209"));
  check_only({M::WriteCheck1, M::ReadCheck1});
  model_.ms_execute();
  EXPECT_EQ(view_.text(M::Write1), kTrack1);
  EXPECT_TRUE(view_.text(M::Read1).empty());
  EXPECT_EQ(sent("M33").size(), 1u);
  EXPECT_EQ(sent("M31").size(), 1u);  // the failed write does not end the run
  // Nothing counts as written: a later read is not compared with the failed text.
  sim_->clear_faults();
  check_only({M::ReadCheck1});
  model_.ms_execute();
  EXPECT_FALSE(view_.marked[M::Read1]);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MsPageModelTest, LongTextsAreSentAndShownWhole) {
  Bytes long_read(400, 'Z');
  long_read.push_back(0);
  commands_.step().set_collector(answering(long_read));
  check_only({M::ReadCheck1, M::WriteCheck3});
  const std::wstring long_write = std::wstring(280, L'7') + L"8";
  view_.set_text(M::Write3, long_write);
  model_.ms_execute();
  EXPECT_EQ(view_.text(M::Read1), std::wstring(400, L'Z'));
  EXPECT_EQ(view_.text(M::Write3), rotated(long_write, 1));
  const auto writes = sent("M33");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data.size(), 282u);
  EXPECT_TRUE(view_.messages.empty());
}

// Texts that do not fit are refused before anything is cleared or sent.
TEST_F(MsPageModelTest, OversizedTextsAreRefusedBeforeAnythingIsSent) {
  view_.set_text(M::Read1, L"KEPT");
  // 150 characters of two bytes each: 300 bytes, one too many.
  const std::wstring wide(150, L'\x00C4');
  view_.set_text(M::Write2, wide);
  check_only({M::WriteCheck1, M::WriteCheck2});
  model_.ms_execute();
  ASSERT_EQ(view_.messages, std::vector<std::wstring>{L"Track2: 300 bytes, at most 299 fit. Nothing was sent."});
  EXPECT_EQ(view_.text(M::Write2), wide);
  EXPECT_EQ(view_.text(M::Write1), kTrack1);
  EXPECT_EQ(view_.text(M::Read1), L"KEPT");

  // "All Write": 100 + 100 + 98 bytes and two separators make 300.
  view_.set_text(M::Write1, std::wstring(100, L'1'));
  view_.set_text(M::Write2, std::wstring(100, L'2'));
  view_.set_text(M::Write3, std::wstring(98, L'3'));
  model_.all_write();
  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_NE(view_.messages.back().find(L"at most 299"), std::wstring::npos) << to_utf8(view_.messages.back());
  EXPECT_EQ(view_.text(M::Write1), std::wstring(100, L'1'));
  EXPECT_TRUE(received().empty());
  EXPECT_TRUE(commands_.codes.empty());
}

// A track text made too long during an earlier step's wait: that write alone is
// skipped, and the message says the earlier step was sent.
TEST_F(MsPageModelTest, WriteSkippedMidRunSaysWhatWasSent) {
  insert_card(1);
  bool edited = false;
  commands_.step().set_collector([this, &edited](std::uint8_t *data, int *length, std::uint8_t *prc, int *res) {
    if (!edited) {
      edited = true;
      view_.set_text(M::Write2, std::wstring(300, L'5'));
    }
    return chk_res(data, length, prc, res);
  });
  check_only({M::WriteCheck1, M::WriteCheck2, M::ReadCheck2});
  model_.ms_execute();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"Track2: 300 bytes, at most 299 fit. This write was not sent. "
                                                      L"The 1 command before it was sent; the steps after it still run."});
  EXPECT_EQ(sent(), (std::vector<Frame>{{"M33", track_frame(1, kTrack1)}, {"M31", Bytes{2}}}));
  EXPECT_EQ(view_.text(M::Write2), std::wstring(300, L'5'));
}

TEST_F(MsPageModelTest, AllWriteSendsOneBlockAndRotatesEveryBox) {
  insert_card(1);
  model_.all_write();
  Bytes block = bytes_of(to_utf8(kTrack1));
  block.push_back(0);
  const Bytes t2 = bytes_of(to_utf8(kTrack2)), t3 = bytes_of(to_utf8(kTrack3));
  block.insert(block.end(), t2.begin(), t2.end());
  block.push_back(0);
  block.insert(block.end(), t3.begin(), t3.end());
  EXPECT_EQ(sent(), (std::vector<Frame>{{"M36", block}}));
  for (int track = 1; track <= 3; ++track) EXPECT_EQ(view_.text(M::write_box(track)), rotated(kTracks[track - 1], 1));

  // A failed "All Write" still rotates every box, and what counts as written stays.
  ASSERT_TRUE(sim_->add_fault("M36:status=0x2202"));
  model_.all_write();
  EXPECT_EQ(view_.text(M::Write1), rotated(kTrack1, 2));
  sim_->clear_faults();

  forget_received();
  model_.all_read();
  EXPECT_EQ(sent(), (std::vector<Frame>{{"M35", Bytes{}}}));
  for (int track = 1; track <= 3; ++track) {
    EXPECT_EQ(view_.text(M::read_box(track)), kTracks[track - 1]);
    EXPECT_FALSE(view_.marked[M::read_box(track)]);
  }
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MsPageModelTest, AllReadSplitsTheAnswer) {
  Bytes no_first(1, 0x07);
  no_first.insert(no_first.end(), 320, 'X');
  Bytes no_second{0x07, 'A', 'B', 0};
  no_second.insert(no_second.end(), 320, 'Y');
  struct Case {
    Bytes answer;
    int result;
    std::array<std::wstring, 3> shown;
    std::vector<std::wstring> messages;
  } cases[] = {
      {{0x07, 'A', 'B', 0, 'C', 'D', 0, 'E', 'F'}, 0, {L"AB", L"CD", L"EF"}, {}},
      {no_first, 0, {L"", L"", L""}, {L"RX Packet Frame Error 2"}},
      {no_second, 0, {L"AB", L"", L""}, {L"RX Packet Frame Error 3"}},
      // A failed read still shows what came, without comparing it.
      {{0x07, 'A', 'B', 0, 'C', 'D', 0, 'E', 'F'}, 0x2209, {L"AB", L"CD", L"EF"}, {}},
  };
  for (const Case &c : cases) {
    view_.messages.clear();
    commands_.step().set_collector(answering(c.answer, c.result));
    model_.all_read();
    for (int track = 1; track <= 3; ++track) EXPECT_EQ(view_.text(M::read_box(track)), c.shown[track - 1]);
    EXPECT_EQ(view_.messages, c.messages);
  }
}

TEST_F(MsPageModelTest, AllReadRefusedShowsFrameError1) {
  for (int track = 1; track <= 3; ++track) view_.set_text(M::read_box(track), L"OLD");
  occupy_library();
  model_.all_read();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>{L"Frame Error 1"});
  for (int track = 1; track <= 3; ++track) EXPECT_TRUE(view_.text(M::read_box(track)).empty());
  while (!library_done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(sent("M35").empty());
}

// "Reset" shows the answer to reset as such, "Execurte" the status word.
TEST_F(MsPageModelTest, IcResultIsNamedForItsCommand) {
  insert_card(2);
  model_.ic_reset();
  EXPECT_EQ(sent(), (std::vector<Frame>{{"I21", Bytes{}}}));
  EXPECT_EQ(view_.text(M::ResultTitle), L"Answer to reset");
  EXPECT_EQ(view_.text(M::Result),
            L"3B 66 00 00 54 56 58 53 49 4D\nTS 3B direct convention\nProtocol T=0\nHistorical: \"TVXSIM\"");

  set_apdu(L"00", L"A4", L"04", L"00", L"02", L"3F00", L"");
  model_.ic_execute();
  EXPECT_EQ(view_.text(M::ResultTitle), L"SW1 SW2");
  EXPECT_EQ(view_.text(M::Result), L"6A 82\nfile not found");

  // Two bytes that are a status word, not an answer to reset; then a failed reset.
  commands_.step().set_collector(answering({0x90, 0x00}));
  model_.ic_reset();
  EXPECT_EQ(view_.text(M::ResultTitle), L"Answer to reset");
  EXPECT_EQ(view_.text(M::Result), L"90 00\nnot a valid answer-to-reset:\nTS 90 is neither 3B nor 3F");
  commands_.step().set_collector(answering({0x3B, 0x00}, 2));
  model_.ic_reset();
  EXPECT_TRUE(view_.text(M::Result).empty());
  EXPECT_TRUE(view_.messages.empty());
}

// A refused APDU names the box at fault, clears an older result and sends nothing.
TEST_F(MsPageModelTest, ApduRefusedBeforeSending) {
  struct Case {
    std::wstring p1, data, named;
  } cases[] = {{L"", L"3F00", L"P1 is empty"},
               {L"04", L"3F0", L"[Lc Data]"},
               // Two characters, three bytes of 8-bit text: an odd number of digits.
               {L"04", L"\x00C4" L"1", L"[Lc Data]"},
               {L"04", std::wstring(588, L'1'), L"298"}};
  for (const Case &c : cases) {
    view_.set_text(M::Result, L"6A 82\nfile not found");
    set_apdu(L"00", L"A4", c.p1, L"00", L"02", c.data, L"");
    model_.ic_execute();
    ASSERT_FALSE(view_.messages.empty());
    EXPECT_NE(view_.messages.back().find(c.named), std::wstring::npos) << to_utf8(view_.messages.back());
    EXPECT_TRUE(view_.text(M::Result).empty());
    EXPECT_EQ(view_.text(M::ResultTitle), L"SW1 SW2");
  }
  EXPECT_EQ(view_.messages.size(), std::size(cases));
  EXPECT_TRUE(received().empty());
}

TEST_F(MsPageModelTest, ApduSeriesOfOneHundred) {
  insert_card(2);
  model_.ic_reset();
  forget_received();
  set_apdu(L"00", L"A4", L"04", L"00", L"02", L"3F00", L"");
  model_.ic_execute();
  auto frames = sent("I22");
  ASSERT_EQ(frames.size(), 100u);
  for (const Frame &frame : frames) EXPECT_EQ(frame.data, (Bytes{0x00, 0x07, 0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}));

  // The header boxes by the byte rule: 5 gives 0, G1 gives 0x01, 1G gives 0.
  forget_received();
  set_apdu(L"5", L"G1", L"1G", L"00", L"", L"", L"");
  model_.ic_execute();
  frames = sent("I22");
  ASSERT_EQ(frames.size(), 100u);
  EXPECT_EQ(frames.back().data, (Bytes{0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(view_.text(M::Result), L"6D 00\nINS not supported");

  // Every send failing (the card is gone): still 100, nothing decoded.
  ASSERT_TRUE(run("C34", [] { return card_capture(); }));
  forget_received();
  model_.ic_execute();
  EXPECT_EQ(sent("I22").size(), 100u);
  EXPECT_TRUE(view_.text(M::Result).empty());
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(MsPageModelTest, ApduSeriesRefusedEveryTimeStillCountsOneHundred) {
  set_apdu(L"00", L"A4", L"04", L"00", L"02", L"3F00", L"");
  occupy_library();
  model_.ic_execute();
  EXPECT_EQ(view_.messages, std::vector<std::wstring>(100, L"Frame Error"));
  while (!library_done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(sent("I22").empty());
}

TEST_F(MsPageModelTest, ApduSeriesEndsWhenTheWindowCloses) {
  insert_card(2);
  int collected = 0;
  commands_.step().set_collector([this, &collected](std::uint8_t *data, int *length, std::uint8_t *prc, int *res) {
    if (chk_res(data, length, prc, res) == 0) return 0;
    if (++collected == 3) commands_.closing = true;
    return 1;
  });
  set_apdu(L"00", L"A4", L"04", L"00", L"02", L"3F00", L"");
  model_.ic_execute();
  EXPECT_EQ(sent("I22").size(), 3u);
}

}  // namespace
}  // namespace tolvex::bench::testing

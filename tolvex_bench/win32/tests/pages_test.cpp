// The ClassMifare and Aging pages made from the resources, in one process under wine,
// against the simulated terminal: the bindings reach the models, the plot is painted,
// the pauses stay live.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "aging_page.hpp"
#include "classic_mifare_page.hpp"
#include "plot_painter.hpp"
#include "tolvex_bench_ids.h"
#include "win32_commands.hpp"

namespace tb = tolvex::bench;
namespace tw = tolvex::bench::win32;

namespace {

// Pixels of `colour` in the columns [left, right) of a bitmap drawn by paint_plot.
int count_colour(HDC dc, int left, int right, int height, COLORREF colour) {
  int n = 0;
  for (int x = left; x < right; ++x) {
    for (int y = 0; y < height; ++y) n += GetPixel(dc, x, y) == colour ? 1 : 0;
  }
  return n;
}

TEST(PlotPainter, EachMediumIsDrawnInItsOwnColourAndNamedInTheLegend) {
  constexpr int kWidth = 320, kHeight = 160;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const RECT area = {0, 0, kWidth, kHeight};
  // The lines take the left part, the legend the right: columns up to half the width
  // hold only lines.
  for (std::size_t m = 0; m <= tb::AgingPlot::kMedia; ++m) {
    tb::AgingPlot plot;
    plot.x_max = 100;
    plot.y_max = 4;
    if (m < tb::AgingPlot::kMedia) {
      for (int cycle = 1; cycle <= 100; cycle += 9) plot.points[m].push_back({double(cycle), cycle * 0.04});
    }
    tw::paint_plot(dc, area, plot);
    for (std::size_t other = 0; other < tb::AgingPlot::kMedia; ++other) {
      const int lines = count_colour(dc, 0, kWidth / 2, kHeight, tw::plot_colour(other));
      EXPECT_EQ(lines > 0, other == m) << "medium " << m << ", colour of " << other;
      // Every medium has its legend entry, plotted or not.
      EXPECT_GT(count_colour(dc, kWidth * 3 / 4, kWidth, kHeight, tw::plot_colour(other)), 0) << other;
    }
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

// Runs `during` from a thread timer after `ms`, that is from inside whatever wait or
// pause is dispatching messages then.
std::function<void()> &pending() {
  static std::function<void()> f;
  return f;
}
void CALLBACK fire(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  auto f = std::move(pending());
  pending() = nullptr;
  if (f) f();
}
void later(UINT ms, std::function<void()> during) {
  pending() = std::move(during);
  SetTimer(nullptr, 0, ms, &fire);
}

// The message box of this thread, answered with `button`; its text.
struct BoxSearch {
  HWND box = nullptr;
};
BOOL CALLBACK find_box(HWND window, LPARAM lparam) {
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (std::wstring(cls) != L"#32770" || GetDlgItem(window, IDNO) == nullptr) return TRUE;
  reinterpret_cast<BoxSearch *>(lparam)->box = window;
  return FALSE;
}
// Answers the question box that comes up while this thread waits; its text in `text`.
void answer_when_asked(int button, std::wstring &text) {
  later(200, [button, &text] {
    for (int tries = 0; tries < 50; ++tries) {
      BoxSearch search;
      EnumThreadWindows(GetCurrentThreadId(), &find_box, reinterpret_cast<LPARAM>(&search));
      if (search.box != nullptr) {
        HWND label = GetDlgItem(search.box, 0xFFFF);
        text = label != nullptr ? tw::window_text(label) : L"?";
        PostMessageW(GetDlgItem(search.box, button), BM_CLICK, 0, 0);
        return;
      }
      // The box is not up yet: look again from the next timer.
      answer_when_asked(button, text);
      return;
    }
  });
}

class Pages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }
  void start(tolvex::sim::Options options) {
    sim_ = std::make_unique<tolvex::sim::Simulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ASSERT_EQ(EnablePort(sim_->path().c_str(), 8, 0, 0, 38400, 0), 1);
    ASSERT_NE(main_.create(nullptr), nullptr);
    commands_ = std::make_unique<tw::Win32Commands>(main_.hwnd(), main_.item(IDC_reportEdit));
  }
  void TearDown() override {
    commands_.reset();
    DisablePort();
    if (sim_) sim_->stop();
  }
  std::wstring report() { return tw::window_text(main_.item(IDC_reportEdit)); }

  tw::DialogWindow main_{IDD_CTolvexBenchDlg};
  std::unique_ptr<tolvex::sim::Simulator> sim_;
  std::unique_ptr<tw::Win32Commands> commands_;
};

class MifarePage : public Pages {
 protected:
  void SetUp() override {
    tolvex::sim::Options options = tolvex::sim::in_process_options();
    options.card_inside = 3;  // a card in the antenna field
    start(options);
    page_ = std::make_unique<tw::CClassicMifare>(*commands_);
    ASSERT_NE(page_->create(main_.hwnd()), nullptr);
  }
  void TearDown() override {
    page_.reset();
    Pages::TearDown();
  }
  // An entry chosen by hand: selected, and the page told.
  void choose(int id, const std::wstring &entry) {
    HWND combo = page_->item(id);
    const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(entry.c_str()));
    ASSERT_NE(index, CB_ERR) << std::string(entry.begin(), entry.end());
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(page_->hwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  void click(int id) { SendMessageW(page_->item(id), BM_CLICK, 0, 0); }
  bool checked(int id) { return IsDlgButtonChecked(page_->hwnd(), id) == BST_CHECKED; }

  std::unique_ptr<tw::CClassicMifare> page_;
};

TEST_F(MifarePage, ListsAndBoxesNotifyTheModel) {
  EXPECT_EQ(tw::window_text(page_->item(IDC_comboTarget)), L" TERMINAL");
  EXPECT_EQ(tw::window_text(page_->item(IDC_editKeyA)), L"FFFFFFFFFFFF");
  // The target decides the access check box and the key set list.
  const struct {
    const wchar_t *target;
    bool access, key_set;
  } targets[] = {{L" CARD", true, false}, {L" TERMINAL", false, true}, {L" CARD", true, false}};
  for (const auto &t : targets) {
    choose(IDC_comboTarget, t.target);
    EXPECT_EQ(checked(IDC_checkAccess), t.access) << t.target;
    EXPECT_EQ(IsWindowEnabled(page_->item(IDC_comboKeySet)) != FALSE, t.key_set) << t.target;
  }
  // The conditions in words follow the access box as it is typed in.
  const std::wstring before = tw::window_text(page_->item(IDC_labelAccessWords));
  SetWindowTextW(page_->item(IDC_editAccess), L"77878869");
  const std::wstring locked = tw::window_text(page_->item(IDC_labelAccessWords));
  EXPECT_NE(locked, before);
  SetWindowTextW(page_->item(IDC_editAccess), L"FF078069");
  EXPECT_EQ(tw::window_text(page_->item(IDC_labelAccessWords)), before);
}

TEST_F(MifarePage, ReadBlockReportsAndALockingTrailerAnsweredNoSendsNothing) {
  choose(IDC_comboKey, L"A ");
  choose(IDC_comboSector, L" SECTOR 1");
  choose(IDC_comboBlock, L"BLOCK 0");
  const std::uint64_t frames = sim_->frames_received();
  click(IDC_buttonReadBlock);
  EXPECT_EQ(sim_->frames_received(), frames + 1);
  EXPECT_EQ(commands_->state().result, 0);
  const std::wstring read = report();
  EXPECT_NE(read, L"");

  choose(IDC_comboSector, L" SECTOR 6");
  choose(IDC_comboBlock, L"BLOCK 3");
  choose(IDC_comboType, L"HEX");
  SetWindowTextW(page_->item(IDC_editInput), L"FFFFFFFFFFFF77878869FFFFFFFFFFFF");
  std::wstring question;
  answer_when_asked(IDNO, question);
  click(IDC_buttonWriteBlock);
  EXPECT_NE(question.find(L"SECTOR 6"), std::wstring::npos) << std::string(question.begin(), question.end());
  EXPECT_EQ(sim_->frames_received(), frames + 1);
  EXPECT_EQ(report(), read);
}

class AgingPage : public Pages {
 protected:
  void SetUp() override {
    tolvex::sim::Options options = tolvex::sim::in_process_options();
    options.stacker_cards[0] = 1000;
    options.stacker_capacity = 1001;
    start(options);
    page_ = std::make_unique<tw::CAging>(*commands_);
    ASSERT_NE(page_->create(main_.hwnd()), nullptr);
    records_ = std::filesystem::temp_directory_path() / ("pages_test_" + std::to_string(GetCurrentProcessId()));
    page_->model().set_record_folder(records_);
    page_->model().engine().set_pause(std::chrono::milliseconds(0));
  }
  void TearDown() override {
    page_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(records_, ignored);
    Pages::TearDown();
  }
  std::wstring text(int id) { return tw::window_text(page_->item(id)); }
  void click(int id) { SendMessageW(page_->item(id), BM_CLICK, 0, 0); }
  bool enabled(int id) { return IsWindowEnabled(page_->item(id)) != FALSE; }

  std::unique_ptr<tw::CAging> page_;
  std::filesystem::path records_;
};

TEST_F(AgingPage, ButtonsAndChoicesReachTheModel) {
  // WR and RD check all three boxes, then none; All Read disables the read boxes; a
  // kind other than MS disables the track row.
  const struct {
    int button;
    int boxes[3];
  } rows[] = {{IDC_buttonWr, {IDC_checkWrite1, IDC_checkWrite2, IDC_checkWrite3}},
              {IDC_buttonRd, {IDC_checkRead1, IDC_checkRead2, IDC_checkRead3}}};
  for (const auto &row : rows) {
    for (bool on : {true, false}) {
      click(row.button);
      for (int box : row.boxes) EXPECT_EQ(IsDlgButtonChecked(page_->hwnd(), box) == BST_CHECKED, on) << box;
    }
  }
  click(IDC_checkAllRead);
  EXPECT_FALSE(enabled(IDC_checkRead1));
  click(IDC_checkAllRead);
  EXPECT_TRUE(enabled(IDC_checkRead1));
  const struct {
    int radio;
    bool ms_row;
  } kinds[] = {{IDC_radioIc, false}, {IDC_radioRf, false}, {IDC_radioMs, true}};
  for (const auto &k : kinds) {
    click(k.radio);
    EXPECT_EQ(enabled(IDC_buttonWr), k.ms_row);
    EXPECT_EQ(enabled(IDC_checkWrite2), k.ms_row);
  }
}

TEST_F(AgingPage, ARunShowsItsProgressAndLeavesItsRecord) {
  SetWindowTextW(page_->item(IDC_editCount), L"3");
  click(IDC_buttonStart);
  EXPECT_EQ(text(IDC_editRemain), L"0");
  EXPECT_EQ(SendMessageW(page_->item(IDC_progressCycles), PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(SendMessageW(page_->item(IDC_progressCycles), PBM_GETRANGE, FALSE, 0), 3);
  EXPECT_TRUE(std::filesystem::exists(page_->model().record_path()));
  EXPECT_NE(text(IDC_labelStatus), L"");
  EXPECT_TRUE(enabled(IDC_buttonStart));
}

TEST_F(AgingPage, StopClickedDuringPausesEndsTheRun) {
  page_->model().engine().set_pause(std::chrono::milliseconds(150));
  SetWindowTextW(page_->item(IDC_editCount), L"500");
  // Posted, as a click arrives: the pause between cycles dispatches it.
  later(400, [this] { PostMessageW(page_->item(IDC_buttonStop), BM_CLICK, 0, 0); });
  click(IDC_buttonStart);
  const int remain = _wtoi(text(IDC_editRemain).c_str());
  EXPECT_GT(remain, 400);
  EXPECT_NE(text(IDC_labelStatus).find(L"stopped"), std::wstring::npos);
}

TEST_F(AgingPage, ClosingCutsALongPauseShort) {
  page_->model().engine().set_pause(std::chrono::milliseconds(60000));
  SetWindowTextW(page_->item(IDC_editCount), L"3");
  later(300, [this] { page_->model().shut_down(); });
  const auto begun = std::chrono::steady_clock::now();
  click(IDC_buttonStart);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(30));
  EXPECT_NE(text(IDC_editRemain), L"0");
}

}  // namespace

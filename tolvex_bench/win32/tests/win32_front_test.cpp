// The Win32 front end's pieces in one process under wine: the page view over a page made
// from the resources, and the command road's wait against the simulated terminal.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <tolvex/tolvex.h>
#include <tolvex_sim/simulator.hpp>

#include "dialog_window.hpp"
#include "tolvex_bench_ids.h"
#include "win32_commands.hpp"
#include "win32_page_view.hpp"

namespace tw = tolvex::bench::win32;

namespace {

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    ASSERT_NE(main_.create(nullptr), nullptr);
    ASSERT_NE(page_.create(main_.hwnd()), nullptr);
  }
  tw::DialogWindow main_{IDD_CTolvexBenchDlg};
  tw::DialogWindow page_{IDD_CMsDlg};
};

TEST(EditLines, ModelLinesBecomeEditLinesAndBack) {
  const struct {
    const wchar_t *model;
    const wchar_t *edit;
  } cases[] = {{L"", L""}, {L"ABC", L"ABC"}, {L"A\nB", L"A\r\nB"}, {L"\n\n", L"\r\n\r\n"}, {L"A\n", L"A\r\n"}};
  for (const auto &c : cases) {
    EXPECT_EQ(tw::to_edit_lines(c.model), c.edit) << c.edit;
    EXPECT_EQ(tw::from_edit_lines(c.edit), c.model) << c.edit;
  }
  // Already converted lines stay as they are; a lone CR is kept.
  EXPECT_EQ(tw::to_edit_lines(L"A\r\nB"), L"A\r\nB");
  EXPECT_EQ(tw::from_edit_lines(L"A\rB"), L"A\rB");
}

enum Control : int { Write1, Cla, Coercivity, Wr1, AllRead, Unbound };

TEST_F(Windows, PageViewReachesEachKindOfControlThroughItsId) {
  tw::Win32PageView view(page_.hwnd(), {{Write1, IDC_editWrite1},
                                        {Cla, IDC_editCLA},
                                        {Coercivity, IDC_comboCoercivity},
                                        {Wr1, IDC_checkWr1},
                                        {AllRead, IDC_buttonAllRead}});
  view.set_text(Write1, L"12\n34");
  EXPECT_EQ(tw::window_text(page_.item(IDC_editWrite1)), L"12\r\n34");
  EXPECT_EQ(view.text(Write1), L"12\n34");
  // Single-line boxes keep their text as given.
  view.set_text(Cla, L"A0");
  EXPECT_EQ(view.text(Cla), L"A0");

  EXPECT_EQ(view.selection(Coercivity), -1);
  view.set_items(Coercivity, {L"LOW-CO", L"HI-CO"});
  EXPECT_EQ(SendDlgItemMessageW(page_.hwnd(), IDC_comboCoercivity, CB_GETCOUNT, 0, 0), 2);
  view.set_selection(Coercivity, 1);
  EXPECT_EQ(view.selection(Coercivity), 1);
  EXPECT_EQ(view.text(Coercivity), L"HI-CO");
  view.set_items(Coercivity, {L"ONE"});  // the list is replaced, not added to
  EXPECT_EQ(SendDlgItemMessageW(page_.hwnd(), IDC_comboCoercivity, CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(view.selection(Coercivity), -1);

  for (bool on : {true, false, true}) {
    view.set_checked(Wr1, on);
    EXPECT_EQ(view.checked(Wr1), on);
    EXPECT_EQ(IsDlgButtonChecked(page_.hwnd(), IDC_checkWr1) == BST_CHECKED, on);
    view.set_enabled(AllRead, !on);
    EXPECT_EQ(IsWindowEnabled(page_.item(IDC_buttonAllRead)) != FALSE, !on);
  }

  // A control the view was not given is empty and unselected, and setting it does nothing.
  view.set_text(Unbound, L"X");
  EXPECT_EQ(view.text(Unbound), L"");
  EXPECT_EQ(view.selection(Unbound), -1);
  EXPECT_FALSE(view.checked(Unbound));
}

TEST_F(Windows, BoxesKeepTheFormsLengthsAndCapitals) {
  HWND cla = page_.item(IDC_editCLA);
  EXPECT_EQ(SendMessageW(cla, EM_GETLIMITTEXT, 0, 0), 2);
  SetWindowTextW(cla, L"");
  for (wchar_t c : std::wstring(L"a1f")) SendMessageW(cla, WM_CHAR, c, 1);
  EXPECT_EQ(tw::window_text(cla), L"A1");
}

// A terminal whose answer to C11 (model) comes late, on the library's port.
class Waits : public Windows {
 protected:
  void start(const char *fault) {
    sim_ = std::make_unique<tolvex::sim::Simulator>(tolvex::sim::in_process_options());
    ASSERT_TRUE(sim_->add_fault(fault));
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ASSERT_EQ(EnablePort(sim_->path().c_str(), 8, 0, 0, 38400, 0), 1);
    commands_ = std::make_unique<tw::Win32Commands>(main_.hwnd(), main_.item(IDC_reportEdit));
  }
  void TearDown() override {
    commands_.reset();
    DisablePort();
    if (sim_) sim_->stop();
  }
  // Runs `during` from a timer that fires while the command waits.
  static void during_wait(std::function<void()> during) {
    pending() = std::move(during);
    SetTimer(nullptr, 0, 100, &fire);
  }
  static void CALLBACK fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (pending()) pending()();
    pending() = nullptr;
  }
  static std::function<void()> &pending() {
    static std::function<void()> f;
    return f;
  }
  std::unique_ptr<tolvex::sim::Simulator> sim_;
  std::unique_ptr<tw::Win32Commands> commands_;
};

TEST_F(Waits, WindowMessagesAreHandledDuringAWaitAndAQuitWaitsForItsEnd) {
  start("C11:late=700");
  int depth_seen = -1;
  during_wait([&] {
    depth_seen = commands_->wait_depth();
    PostQuitMessage(7);
  });
  ASSERT_TRUE(commands_->run("C11", [] { return model(); }));
  EXPECT_EQ(depth_seen, 1);  // the timer ran inside the wait
  EXPECT_EQ(commands_->state().result, 0);
  EXPECT_NE(tw::window_text(main_.item(IDC_reportEdit)), L"");
  // The quit seen inside the wait was put back once the wait was over.
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Waits, ClosingDuringAWaitStopsTheCommandAndClosesAfterIt) {
  start("C11:late=10000");
  bool could_go = true;
  during_wait([&] {
    commands_->shut_down();
    could_go = commands_->may_close();
  });
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(commands_->run("C11", [] { return model(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  EXPECT_FALSE(could_go);
  EXPECT_EQ(commands_->state().result, TOLVEX_STOPPED);
  EXPECT_TRUE(commands_->shutting_down());
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, main_.hwnd(), WM_CLOSE, WM_CLOSE, PM_REMOVE));
  // Nothing starts any more, and with no wait left the window may go at once.
  EXPECT_FALSE(commands_->run("C11", [] { return model(); }));
  commands_->shut_down();
  EXPECT_TRUE(commands_->may_close());
}

}  // namespace

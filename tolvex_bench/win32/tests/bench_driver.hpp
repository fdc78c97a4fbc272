// Steps for driving the bench's windows from another process, as a person would:
// start it, find its windows, type, click, choose list entries, switch tabs, answer
// message boxes and read what is shown. Every wait has a deadline; a step that cannot
// be done returns false or an empty value instead of hanging.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolvex::bench::win32::driver {

constexpr DWORD kPatienceMs = 10000;

class Program {
 public:
  // Starts `command_line` in `folder`; running() tells whether that worked.
  Program(const std::wstring &command_line, const std::wstring &folder);
  ~Program();
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  bool running() const;
  DWORD id() const { return info_.dwProcessId; }
  HANDLE handle() const { return info_.hProcess; }
  // Its exit code once it has ended within `ms`; -1 when it has not (it is then ended).
  long wait_exit(DWORD ms = kPatienceMs);

 private:
  PROCESS_INFORMATION info_{};
};

// A scratch folder of its own under the temporary folder.
std::wstring scratch_folder();

// The visible top-level window of process `pid` with `title` (class `cls`, any when
// null), waited for up to `ms`.
HWND find_window(DWORD pid, const std::wstring &title, const wchar_t *cls = nullptr, DWORD ms = kPatienceMs);
// The program's own top-level window titled `title`: not owned, not a message box.
HWND find_main_window(DWORD pid, const std::wstring &title, DWORD ms = kPatienceMs);
// A descendant of `root` with control ID `id` (pages included), or null.
HWND control(HWND root, int id);
// The page (child dialog) of `root` holding control `id`, for the IDs that several pages share.
HWND page_with(HWND root, int id);
std::wstring class_name(HWND window);

std::wstring read_text(HWND window);
bool set_text(HWND window, const std::wstring &text);
// Typed character by character (WM_CHAR), so the box's own rules (capitals, length) apply.
void type_text(HWND window, const std::wstring &text);
// A click that returns once its handler has run.
void click(HWND button);
// A click whose handler may open a modal box: returns at once.
void click_later(HWND button);
bool checked(HWND button);
// Selects the entry `text` of a drop-down list and tells its dialog, as a choice by hand.
bool choose(HWND combo, const std::wstring &text);
std::wstring chosen(HWND combo);

std::vector<std::wstring> tab_texts(HWND tab);
// Clicks tab `index` and waits until it is the current one.
bool switch_tab(HWND tab, int index, DWORD ms = kPatienceMs);

// Answers the message box of `pid` titled `title` with `button` (IDOK, IDYES, IDNO) and
// returns its text; empty when no box came within `ms`.
std::wstring answer_message_box(DWORD pid, const std::wstring &title, int button, DWORD ms = kPatienceMs);

}  // namespace tolvex::bench::win32::driver

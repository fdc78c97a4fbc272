// What a page of the bench needs from its window, and what it needs to run commands.
// Each page's behaviour is a model in this folder that talks only to these two
// interfaces; the Qt and the Win32 front ends each implement them once, so the pages'
// logic is written once. A model names its controls by its own enum; a view maps each
// value to one widget (Qt) or one dialog control (Win32).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "command_step.hpp"

namespace tolvex::bench {

class PageView {
 public:
  virtual ~PageView() = default;

  // A box's, list's or label's text as shown.
  virtual std::wstring text(int control) const = 0;
  virtual void set_text(int control, std::wstring_view text) = 0;

  // Check boxes and radio buttons.
  virtual bool checked(int control) const = 0;
  virtual void set_checked(int control, bool on) = 0;

  // Lists: the entries, and the selected one (-1 for none).
  virtual void set_items(int control, const std::vector<std::wstring> &items) = 0;
  virtual int selection(int control) const = 0;
  virtual void set_selection(int control, int index) = 0;

  virtual void set_enabled(int control, bool on) = 0;

  // A modal message with an OK button, and a warning that asks yes or no (the answer
  // defaults to no).
  virtual void message(std::wstring_view text) = 0;
  virtual bool ask(std::wstring_view text) = 0;
  // A modal warning with an OK button and, where the front end can, `detail` shown on
  // request (e.g. why a port did not open).
  virtual void warning(std::wstring_view text, std::wstring_view /*detail*/) { message(text); }

  // Emphasis a front end may show or leave out: a box marked as differing from what
  // was expected, with the reason as its tip; characters of a box marked as not
  // encodable (positions in characters).
  virtual void set_marked(int /*control*/, bool /*marked*/, std::wstring_view /*why*/) {}
  virtual void mark_characters(int /*control*/, const std::vector<std::size_t> & /*positions*/) {}
};

// The command road every page takes: the one command step, the report window and the
// program's closing. One instance for the program's life, owned by the front end.
class PageCommands {
 public:
  virtual ~PageCommands() = default;

  // Starts a command (writes its code, calls the export through `start`, keeps the
  // process number) and waits for its outcome while the window stays live. Process
  // number 0 shows `failure_text` (none when empty) and returns false; true once the
  // outcome is in `state()` and reported. Nothing starts while shutting down.
  virtual bool run(std::string_view code, const CommandStep::Starter &start,
                   std::wstring_view failure_text = L"Frame Error") = 0;

  virtual CommandState &state() = 0;
  virtual CommandStep &step() = 0;

  // Replaces the report window's text.
  virtual void set_report_text(std::wstring_view text) = 0;

  // The window is closing: long loops end after their command in flight.
  virtual bool shutting_down() const = 0;
  // Closes the road: a command in flight is given up, nothing new starts.
  virtual void shut_down() {}
};

}  // namespace tolvex::bench

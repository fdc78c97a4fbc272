// The "MS/IC" page: writes, reads and compares the three magnetic-stripe tracks,
// chooses the write coercivity, resets the contact IC card and sends it APDUs.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "page_view.hpp"

namespace tolvex::bench {

class MsPageModel {
 public:
  enum Control : int {
    Coercivity,
    Write1, Write2, Write3,          // the texts to write, per track
    Read1, Read2, Read3,             // the texts read, per track
    WriteCheck1, WriteCheck2, WriteCheck3,
    ReadCheck1, ReadCheck2, ReadCheck3,
    Hint1, Hint2, Hint3,             // a write text's length against its track
    Cla, Ins, P1, P2, Lc, LcData, Le,
    ResultTitle,                     // "SW1 SW2" or "Answer to reset"
    Result,                          // the status word or the answer to reset
  };

  // Track n (1 to 3) of each kind.
  static int write_box(int track) { return Write1 + track - 1; }
  static int read_box(int track) { return Read1 + track - 1; }
  static int write_check(int track) { return WriteCheck1 + track - 1; }
  static int read_check(int track) { return ReadCheck1 + track - 1; }
  static int hint(int track) { return Hint1 + track - 1; }

  // APDUs sent by one "Execurte".
  static constexpr int kApduSends = 100;

  MsPageModel(PageView &view, PageCommands &commands) : view_(view), commands_(commands) {}

  // The coercivity list and the initial write texts with their hints.
  void init();

  void all_select();
  void ms_select();
  void ms_execute();
  void all_read();
  void all_write();
  void ic_reset();
  void ic_execute();

  // A write text changed: its hint, the warning mark and the unencodable characters.
  void write_text_changed(int track);

 private:
  // Each returns whether its command was started.
  bool write_track(int track, std::size_t sent_before);
  bool read_track(int track);
  // Shows a read text and marks the box when it differs from the last text written.
  void show_read(int track, const std::wstring &text);
  void clear_reads();
  void set_write_text(int track, const std::wstring &text);
  // After a successful "Execurte": the first two response bytes as a status word.
  void show_status_word();
  // After a successful "Reset": the response as an answer to reset.
  void show_answer_to_reset();
  // Empties the IC result and titles it for the command about to run.
  void clear_ic_result(std::wstring_view title);

  PageView &view_;
  PageCommands &commands_;
  // The text last written to each track with success, before its rotation.
  std::array<std::optional<std::wstring>, 3> last_written_;
};

}  // namespace tolvex::bench

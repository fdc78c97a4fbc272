#include "ms_page_model.hpp"

#include <algorithm>

#include <tolvex/tolvex.h>

#include "ms_ic.hpp"
#include "records.hpp"
#include "text.hpp"

namespace tolvex::bench {

namespace {

constexpr std::wstring_view kStatusWordTitle = L"SW1 SW2";
constexpr std::wstring_view kAnswerToResetTitle = L"Answer to reset";

// Byte count of a box's text in the library's 8-bit form, however long it is.
std::size_t narrow_size(std::wstring_view text) { return to_utf8(text).size(); }

std::wstring join_lines(const std::vector<std::wstring> &lines) {
  std::wstring out;
  for (const std::wstring &line : lines) {
    if (!out.empty()) out += L'\n';
    out += line;
  }
  return out;
}

}  // namespace

void MsPageModel::init() {
  view_.set_items(Coercivity, {L"LOW-CO", L"HI-CO"});
  view_.set_selection(Coercivity, 0);
  set_write_text(1, L"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234");
  set_write_text(2, L"1234567890123456789012345678901234567");
  set_write_text(
      3, L"12345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234");
}

// ---- magnetic stripe -------------------------------------------------------------------

void MsPageModel::all_select() {
  bool all = true;
  for (int track = 1; track <= 3; ++track) {
    all = all && view_.checked(write_check(track)) && view_.checked(read_check(track));
  }
  for (int track = 1; track <= 3; ++track) {
    view_.set_checked(write_check(track), !all);
    view_.set_checked(read_check(track), !all);
  }
}

void MsPageModel::ms_select() {
  commands_.set_report_text(L"Please Wait!! \r\n Processing.....");
  const std::uint8_t coercivity = view_.selection(Coercivity) == 1 ? '3' : '0';
  // The command argument is the current-command code itself.
  commands_.run("C48", [this, &coercivity] { return exe_cmd(commands_.state().code, &coercivity, 1); });
}

void MsPageModel::ms_execute() {
  // Every text to be written must fit its buffer before anything happens.
  for (int track = 1; track <= 3; ++track) {
    if (!view_.checked(write_check(track))) continue;
    const std::wstring problem = track_text_problem(track, narrow_size(view_.text(write_box(track))));
    if (!problem.empty()) {
      view_.message(problem);
      return;
    }
  }
  clear_reads();
  commands_.set_report_text(L"");
  std::size_t sent = 0;
  for (int track = 1; track <= 3; ++track) {
    if (view_.checked(write_check(track)) && write_track(track, sent)) ++sent;
    if (view_.checked(read_check(track)) && read_track(track)) ++sent;
  }
}

bool MsPageModel::write_track(int track, std::size_t sent_before) {
  const std::wstring text = view_.text(write_box(track));
  // The box may have been edited during an earlier step's wait.
  const std::wstring problem = track_step_skipped(track, narrow_size(text), sent_before);
  if (!problem.empty()) {
    view_.message(problem);
    return false;
  }
  const std::string bytes = to_narrow(text);
  const auto number = static_cast<std::uint8_t>(track);
  if (!commands_.run("M33", [&bytes, number] {
        return ms_wt(0, number, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                     static_cast<std::uint32_t>(bytes.size()));
      })) {
    return false;
  }
  if (commands_.state().result != 0) return true;
  last_written_[static_cast<std::size_t>(track - 1)] = text;
  // The next write of this track writes different data.
  set_write_text(track, rotate_text(text));
  return true;
}

bool MsPageModel::read_track(int track) {
  const auto number = static_cast<std::uint8_t>(track);
  if (!commands_.run("M31", [number] { return ms_rd(number); })) return false;
  const CommandState &state = commands_.state();
  if (state.result != 0) return true;
  show_read(track, response_text(state.response.data(), state.response.size(), 0));
  return true;
}

void MsPageModel::all_read() {
  clear_reads();
  commands_.set_report_text(L"");
  // Without a wait the response buffer still holds an older command's data: nothing to show.
  if (!commands_.run("M35", [] { return ms_rd(0); }, L"Frame Error 1")) return;
  const CommandState &state = commands_.state();
  const AllReadTracks split = split_all_read(state.response.data(), state.response.size());
  for (int part = 0; part < split.filled; ++part) {
    const std::wstring text = to_wide(split.tracks[static_cast<std::size_t>(part)]);
    if (state.result == 0) {
      show_read(part + 1, text);
    } else {
      view_.set_text(read_box(part + 1), text);
    }
  }
  if (split.frame_error != 0) view_.message(split.message());
}

void MsPageModel::all_write() {
  std::array<std::wstring, 3> texts;
  std::array<std::string, 3> bytes;
  for (std::size_t i = 0; i < 3; ++i) {
    texts[i] = view_.text(write_box(static_cast<int>(i) + 1));
    bytes[i] = to_utf8(texts[i]);
  }
  const std::wstring problem = all_write_problem(bytes[0].size(), bytes[1].size(), bytes[2].size());
  const auto block = all_write_block(bytes[0], bytes[1], bytes[2]);
  if (!problem.empty() || !block) {
    view_.message(problem);
    return;
  }
  clear_reads();
  commands_.set_report_text(L"");
  // Each box shows its rotated text at once, whatever the outcome.
  for (std::size_t i = 0; i < 3; ++i) set_write_text(static_cast<int>(i) + 1, rotate_text(texts[i]));
  const auto &payload = *block;
  if (!commands_.run("M36", [this, &payload] {
        return exe_cmd(commands_.state().code, payload.data(), static_cast<std::uint32_t>(payload.size()));
      })) {
    return;
  }
  if (commands_.state().result == 0) {
    for (std::size_t i = 0; i < 3; ++i) last_written_[i] = texts[i];
  }
}

void MsPageModel::show_read(int track, const std::wstring &text) {
  view_.set_text(read_box(track), text);
  const auto &written = last_written_[static_cast<std::size_t>(track - 1)];
  const bool differs = written.has_value() && *written != text;
  view_.set_marked(read_box(track), differs,
                   differs ? L"Differs from the text last written to Track" + std::to_wstring(track) + L":\n" + *written
                           : std::wstring());
}

void MsPageModel::clear_reads() {
  for (int track = 1; track <= 3; ++track) {
    view_.set_text(read_box(track), L"");
    view_.set_marked(read_box(track), false, L"");
  }
}

void MsPageModel::set_write_text(int track, const std::wstring &text) {
  view_.set_text(write_box(track), text);
  // A view may or may not report its own change; the hint is the same either way.
  write_text_changed(track);
}

void MsPageModel::write_text_changed(int track) {
  if (track < 1 || track > 3) return;
  const TrackHint hint = track_hint(track, view_.text(write_box(track)));
  view_.set_text(MsPageModel::hint(track), hint.text());
  view_.set_marked(MsPageModel::hint(track), hint.too_long() || !hint.unencodable.empty(), L"");
  view_.mark_characters(write_box(track), hint.unencodable);
}

// ---- IC card -----------------------------------------------------------------------------

void MsPageModel::ic_reset() {
  clear_ic_result(kAnswerToResetTitle);
  if (commands_.run("I21", [] { return ::ic_reset(); })) show_answer_to_reset();
}

void MsPageModel::ic_execute() {
  const auto bytes = [this](int box) { return to_narrow(view_.text(box)); };
  const Apdu apdu =
      assemble_apdu({bytes(Cla), bytes(Ins), bytes(P1), bytes(P2), bytes(Lc), bytes(LcData), bytes(Le)});
  // A refused APDU leaves no older status word behind to be taken for its answer.
  clear_ic_result(kStatusWordTitle);
  if (!apdu.ok()) {
    view_.message(apdu.problem);
    return;
  }
  // A fixed series: a send that fails or is refused does not end it.
  for (int i = 0; i < kApduSends && !commands_.shutting_down(); ++i) {
    clear_ic_result(kStatusWordTitle);
    if (commands_.run("I22", [&apdu] { return ic_exe(apdu.buffer.data(), apdu.call_length()); })) {
      show_status_word();
    }
  }
}

void MsPageModel::show_status_word() {
  const CommandState &state = commands_.state();
  // A failed command's response holds the terminal's own status, not the card's.
  if (state.result != 0 || state.length < 2) return;
  const std::uint8_t sw1 = state.response[0];
  const std::uint8_t sw2 = state.response[1];
  view_.set_text(Result, status_word_hex(sw1, sw2) + L'\n' + status_word_text(sw1, sw2));
}

void MsPageModel::show_answer_to_reset() {
  const CommandState &state = commands_.state();
  if (state.result != 0) return;
  const std::size_t length = std::min<std::size_t>(state.length, state.response.size());
  view_.set_text(Result, join_lines(answer_to_reset_lines(state.response.data(), length)));
}

void MsPageModel::clear_ic_result(std::wstring_view title) {
  view_.set_text(ResultTitle, title);
  view_.set_text(Result, L"");
}

}  // namespace tolvex::bench

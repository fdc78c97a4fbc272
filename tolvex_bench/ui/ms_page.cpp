#include "ms_page.hpp"

#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

#include <tolvex/tolvex.h>

#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "message_service.hpp"
#include "ms_ic.hpp"
#include "records.hpp"
#include "text.hpp"
#include "ui_ms_page.h"
#include "upper_case_edit.hpp"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

namespace {

constexpr int kApduSends = 100;
const QString kStatusWordTitle = QStringLiteral("SW1 SW2");
const QString kAnswerToResetTitle = QStringLiteral("Answer to reset");

// Byte count of a box's text in the library's 8-bit form, however long it is.
std::size_t narrow_size(const QString &text) { return tb::to_utf8(text.toStdWString()).size(); }

void set_marked(QWidget *box, bool marked, const QString &why) {
  box->setProperty("differs", marked);
  box->setStyleSheet(marked ? QStringLiteral("QPlainTextEdit { background: #ffd8d8; }") : QString());
  box->setToolTip(marked ? why : QString());
}

}  // namespace

CMsDlg::CMsDlg(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), runner_(runner), ui_(std::make_unique<Ui::CMsDlg>()) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);

  ui_->comboCoercivity->addItems({QStringLiteral("LOW-CO"), QStringLiteral("HI-CO")});
  ui_->comboCoercivity->setCurrentIndex(0);
  ui_->editWrite1->setPlainText(
      QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ1234"));
  ui_->editWrite2->setPlainText(QStringLiteral("1234567890123456789012345678901234567"));
  ui_->editWrite3->setPlainText(QStringLiteral(
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234"));
  for (QLineEdit *box : {ui_->editCLA, ui_->editINS, ui_->editP1, ui_->editP2, ui_->editLc, ui_->editLe}) {
    box->setMaxLength(2);
    box->setValidator(new tbu::UpperCaseValidator(box));
  }

  for (int track = 1; track <= 3; ++track) {
    connect(write_box(track), &QPlainTextEdit::textChanged, this, [this, track] { update_hint(track); });
    update_hint(track);
  }
  connect(ui_->buttonAllSelect, &QPushButton::clicked, this, &CMsDlg::handle_all_select);
  connect(ui_->buttonMsSelect, &QPushButton::clicked, this, &CMsDlg::handle_ms_select);
  connect(ui_->buttonMsExecute, &QPushButton::clicked, this, &CMsDlg::handle_ms_execute);
  connect(ui_->buttonAllRead, &QPushButton::clicked, this, &CMsDlg::handle_all_read);
  connect(ui_->buttonAllWrite, &QPushButton::clicked, this, &CMsDlg::handle_all_write);
  connect(ui_->buttonIcReset, &QPushButton::clicked, this, &CMsDlg::handle_ic_reset);
  connect(ui_->buttonIcExecute, &QPushButton::clicked, this, &CMsDlg::handle_ic_execute);
}

CMsDlg::~CMsDlg() = default;

QPlainTextEdit *CMsDlg::write_box(int track) const {
  return track == 1 ? ui_->editWrite1 : track == 2 ? ui_->editWrite2 : ui_->editWrite3;
}
QPlainTextEdit *CMsDlg::read_box(int track) const {
  return track == 1 ? ui_->editRead1 : track == 2 ? ui_->editRead2 : ui_->editRead3;
}
QCheckBox *CMsDlg::write_check(int track) const {
  return track == 1 ? ui_->checkWr1 : track == 2 ? ui_->checkWr2 : ui_->checkWr3;
}
QCheckBox *CMsDlg::read_check(int track) const {
  return track == 1 ? ui_->checkRd1 : track == 2 ? ui_->checkRd2 : ui_->checkRd3;
}

// ---- magnetic stripe -------------------------------------------------------------------

void CMsDlg::handle_all_select() {
  bool all = true;
  for (int track = 1; track <= 3; ++track) all = all && write_check(track)->isChecked() && read_check(track)->isChecked();
  for (int track = 1; track <= 3; ++track) {
    write_check(track)->setChecked(!all);
    read_check(track)->setChecked(!all);
  }
}

void CMsDlg::handle_ms_select() {
  runner_.set_report_text(QStringLiteral("Please Wait!! \r\n Processing....."));
  const std::uint8_t coercivity = ui_->comboCoercivity->currentIndex() == 1 ? '3' : '0';
  // The command argument is the current-command code itself.
  runner_.run("C48", [this, &coercivity] { return exe_cmd(runner_.state().code, &coercivity, 1); });
}

void CMsDlg::handle_ms_execute() {
  // Every text to be written must fit its buffer before anything happens.
  for (int track = 1; track <= 3; ++track) {
    if (!write_check(track)->isChecked()) continue;
    const std::wstring problem = tb::track_text_problem(track, narrow_size(write_box(track)->toPlainText()));
    if (!problem.empty()) {
      tbu::show_message(QString::fromStdWString(problem));
      return;
    }
  }
  clear_reads();
  runner_.set_report_text(QString());
  std::size_t sent = 0;
  for (int track = 1; track <= 3; ++track) {
    if (write_check(track)->isChecked() && write_track(track, sent)) ++sent;
    if (read_check(track)->isChecked() && read_track(track)) ++sent;
  }
}

bool CMsDlg::write_track(int track, std::size_t sent_before) {
  const QString text = write_box(track)->toPlainText();
  // The box may have been edited during an earlier step's wait.
  const std::wstring problem = tb::track_step_skipped(track, narrow_size(text), sent_before);
  if (!problem.empty()) {
    tbu::show_message(QString::fromStdWString(problem));
    return false;
  }
  const std::string bytes = tb::to_narrow(text.toStdWString());
  const auto number = static_cast<std::uint8_t>(track);
  if (!runner_.run("M33", [&bytes, number] {
        return ms_wt(0, number, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                     static_cast<std::uint32_t>(bytes.size()));
      })) {
    return false;
  }
  if (runner_.state().result != 0) return true;
  last_written_[static_cast<std::size_t>(track - 1)] = text;
  // The next write of this track writes different data.
  write_box(track)->setPlainText(QString::fromStdWString(tb::rotate_text(text.toStdWString())));
  return true;
}

bool CMsDlg::read_track(int track) {
  const auto number = static_cast<std::uint8_t>(track);
  if (!runner_.run("M31", [number] { return ms_rd(number); })) return false;
  const auto &state = runner_.state();
  if (state.result != 0) return true;
  show_read(track, QString::fromStdWString(tb::response_text(state.response.data(), state.response.size(), 0)));
  return true;
}

void CMsDlg::handle_all_read() {
  clear_reads();
  runner_.set_report_text(QString());
  // Without a wait the response buffer still holds an older command's data: nothing to show.
  if (!runner_.run("M35", [] { return ms_rd(0); }, QStringLiteral("Frame Error 1"))) return;
  const auto &state = runner_.state();
  const tb::AllReadTracks split = tb::split_all_read(state.response.data(), state.response.size());
  for (int part = 0; part < split.filled; ++part) {
    const QString text = QString::fromStdWString(tb::to_wide(split.tracks[static_cast<std::size_t>(part)]));
    if (state.result == 0) {
      show_read(part + 1, text);
    } else {
      read_box(part + 1)->setPlainText(text);
    }
  }
  if (split.frame_error != 0) tbu::show_message(QString::fromStdWString(split.message()));
}

void CMsDlg::handle_all_write() {
  std::array<QString, 3> texts;
  std::array<std::string, 3> bytes;
  for (std::size_t i = 0; i < 3; ++i) {
    texts[i] = write_box(static_cast<int>(i) + 1)->toPlainText();
    bytes[i] = tb::to_utf8(texts[i].toStdWString());
  }
  const std::wstring problem = tb::all_write_problem(bytes[0].size(), bytes[1].size(), bytes[2].size());
  const auto block = tb::all_write_block(bytes[0], bytes[1], bytes[2]);
  if (!problem.empty() || !block) {
    tbu::show_message(QString::fromStdWString(problem));
    return;
  }
  clear_reads();
  runner_.set_report_text(QString());
  // Each box shows its rotated text at once, whatever the outcome.
  for (std::size_t i = 0; i < 3; ++i) {
    write_box(static_cast<int>(i) + 1)->setPlainText(QString::fromStdWString(tb::rotate_text(texts[i].toStdWString())));
  }
  const auto &payload = *block;
  if (!runner_.run("M36", [this, &payload] {
        return exe_cmd(runner_.state().code, payload.data(), static_cast<std::uint32_t>(payload.size()));
      })) {
    return;
  }
  if (runner_.state().result == 0) {
    for (std::size_t i = 0; i < 3; ++i) last_written_[i] = texts[i];
  }
}

void CMsDlg::show_read(int track, const QString &text) {
  QPlainTextEdit *box = read_box(track);
  box->setPlainText(text);
  const auto &written = last_written_[static_cast<std::size_t>(track - 1)];
  const bool differs = written.has_value() && *written != text;
  set_marked(box, differs,
             differs ? QStringLiteral("Differs from the text last written to Track%1:\n%2").arg(track).arg(*written)
                     : QString());
}

void CMsDlg::clear_reads() {
  for (int track = 1; track <= 3; ++track) {
    read_box(track)->clear();
    set_marked(read_box(track), false, QString());
  }
}

void CMsDlg::update_hint(int track) {
  QPlainTextEdit *box = write_box(track);
  const std::wstring text = box->toPlainText().toStdWString();
  const tb::TrackHint hint = tb::track_hint(track, text);
  QLabel *label = track == 1 ? ui_->labelHint1 : track == 2 ? ui_->labelHint2 : ui_->labelHint3;
  label->setText(QString::fromStdWString(hint.text()));
  const bool warn = hint.too_long() || !hint.unencodable.empty();
  label->setStyleSheet(warn ? QStringLiteral("color: #b00000;") : QString());

  // Positions count whole characters; the box counts UTF-16 units.
  std::vector<int> offsets(text.size() + 1, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    offsets[i + 1] = offsets[i] + (static_cast<std::uint32_t>(text[i]) > 0xFFFF ? 2 : 1);
  }
  QList<QTextEdit::ExtraSelection> marks;
  for (const std::size_t pos : hint.unencodable) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(box->document());
    mark.cursor.setPosition(offsets[pos]);
    mark.cursor.setPosition(offsets[pos + 1], QTextCursor::KeepAnchor);
    mark.format.setBackground(QColor(0xFF, 0xB0, 0xB0));
    marks << mark;
  }
  box->setExtraSelections(marks);
}

// ---- IC card -----------------------------------------------------------------------------

void CMsDlg::handle_ic_reset() {
  clear_ic_result(kAnswerToResetTitle);
  if (runner_.run("I21", [] { return ic_reset(); })) show_answer_to_reset();
}

void CMsDlg::handle_ic_execute() {
  const auto bytes = [](const QString &text) { return tb::to_narrow(text.toStdWString()); };
  const tb::Apdu apdu = tb::assemble_apdu({bytes(ui_->editCLA->text()), bytes(ui_->editINS->text()),
                                          bytes(ui_->editP1->text()), bytes(ui_->editP2->text()),
                                          bytes(ui_->editLc->text()), bytes(ui_->editLcData->toPlainText()),
                                          bytes(ui_->editLe->text())});
  // A refused APDU leaves no older status word behind to be taken for its answer.
  clear_ic_result(kStatusWordTitle);
  if (!apdu.ok()) {
    tbu::show_message(QString::fromStdWString(apdu.problem));
    return;
  }
  // A fixed series: a send that fails or is refused does not end it.
  for (int i = 0; i < kApduSends && !runner_.shutting_down(); ++i) {
    clear_ic_result(kStatusWordTitle);
    if (runner_.run("I22", [&apdu] { return ic_exe(apdu.buffer.data(), apdu.call_length()); })) show_status_word();
  }
}

void CMsDlg::show_status_word() {
  const auto &state = runner_.state();
  // A failed command's response holds the terminal's own status, not the card's.
  if (state.result != 0 || state.length < 2) return;
  const std::uint8_t sw1 = state.response[0];
  const std::uint8_t sw2 = state.response[1];
  ui_->labelStatusWord->setText(QString::fromStdWString(tb::status_word_hex(sw1, sw2)) + QLatin1Char('\n') +
                                QString::fromStdWString(tb::status_word_text(sw1, sw2)));
}

void CMsDlg::show_answer_to_reset() {
  const auto &state = runner_.state();
  if (state.result != 0) return;
  const std::size_t length = std::min<std::size_t>(state.length, state.response.size());
  QStringList lines;
  for (const std::wstring &line : tb::answer_to_reset_lines(state.response.data(), length)) {
    lines << QString::fromStdWString(line);
  }
  ui_->labelStatusWord->setText(lines.join(QLatin1Char('\n')));
}

void CMsDlg::clear_ic_result(const QString &title) {
  ui_->labelSwTitle->setText(title);
  ui_->labelStatusWord->clear();
}

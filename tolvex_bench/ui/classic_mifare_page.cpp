#include "classic_mifare_page.hpp"

#include <array>

#include <tolvex/tolvex.h>

#include "access_bits.hpp"
#include "command_runner.hpp"
#include "decimal.hpp"
#include "dialog_units.hpp"
#include "hex.hpp"
#include "message_service.hpp"
#include "records.hpp"
#include "text.hpp"
#include "ui_classic_mifare_page.h"
#include "upper_case_edit.hpp"

namespace tb = tolvex::bench;
namespace tbu = tolvex::bench::ui;

namespace {

// Target list entries.
constexpr int kTargetCard = 1;
// Type list entries.
constexpr int kTypeBalance = 1;
constexpr int kTypeHex = 2;
constexpr int kTypeAscii = 3;
// Sector list index of the first sixteen-block sector (sector 32).
constexpr int kFirstLargeSectorIndex = 33;

// A text box's text as the 300-byte work buffer holds it: 8-bit, at most 299 bytes.
std::string work_text(const QLineEdit *edit) { return tb::work_text(edit->text().toStdWString()); }
// The whole 8-bit text, for the uses that need more than the work buffer holds.
std::string whole_text(const QLineEdit *edit) { return tb::to_narrow(edit->text().toStdWString()); }

QStringList numbered(const QString &prefix, int first, int last) {
  QStringList out;
  for (int v = first; v <= last; ++v) out << prefix + QString::number(v);
  return out;
}

}  // namespace

CClassicMifare::CClassicMifare(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), runner_(runner), ui_(std::make_unique<Ui::CClassicMifare>()) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  fill_lists();
  bind();
  handle_target_changed(ui_->comboTarget->currentIndex());
  update_access_words();
}

CClassicMifare::~CClassicMifare() = default;

void CClassicMifare::fill_lists() {
  ui_->comboTarget->addItems({QStringLiteral(" TERMINAL"), QStringLiteral(" CARD")});
  ui_->comboKeySector->addItem(QStringLiteral(" SECTOR All"));
  ui_->comboKeySector->addItems(numbered(QStringLiteral(" SECTOR "), 0, 39));
  ui_->comboKeySet->addItems({QStringLiteral(" 1"), QStringLiteral(" 2"), QStringLiteral(" 3")});
  ui_->comboKeySet->setToolTip(
      QStringLiteral("What a key set means is up to the terminal; the commands of this page do not send it."));
  ui_->comboFormat->addItems({QStringLiteral(" HEX"), QStringLiteral(" ASCII")});

  ui_->comboKey->addItems({QStringLiteral("- KEY -"), QStringLiteral("A "), QStringLiteral("B ")});
  ui_->comboSector->addItem(QStringLiteral("-SECTOR-"));
  ui_->comboSector->addItems(numbered(QStringLiteral(" SECTOR "), 0, 39));
  ui_->comboBlock->addItem(QStringLiteral("-BLOCK-"));
  ui_->comboBlock->addItems(numbered(QStringLiteral("BLOCK "), 0, 15));
  ui_->comboType->addItems(
      {QStringLiteral("-TYPE-"), QStringLiteral("BALANCE"), QStringLiteral("HEX"), QStringLiteral("ASCII")});
  ui_->comboPage->addItem(QStringLiteral(" - PAGE -"));
  ui_->comboPage->addItems(numbered(QStringLiteral("PAGE "), 0, 47));

  // The access conditions in words take a point less than the dialog font, so that a
  // data group fits one line.
  QFont small = ui_->labelAccessWords->font();
  small.setPointSizeF(small.pointSizeF() - 1);
  ui_->labelAccessWords->setFont(small);

  for (QLineEdit *edit : {ui_->editKeyA, ui_->editKeyB, ui_->editAccess, ui_->editInput, ui_->editUlInput}) {
    edit->setValidator(new tbu::UpperCaseValidator(edit));
  }
  // The transport key of a card as delivered, and its transport access conditions.
  ui_->editKeyA->setText(QStringLiteral("FFFFFFFFFFFF"));
  ui_->editKeyB->setText(QStringLiteral("FFFFFFFFFFFF"));
  ui_->editAccess->setText(QStringLiteral("FF078069"));
}

void CClassicMifare::bind() {
  connect(ui_->comboTarget, &QComboBox::currentIndexChanged, this, &CClassicMifare::handle_target_changed);
  connect(ui_->editAccess, &QLineEdit::textChanged, this, &CClassicMifare::update_access_words);
  connect(ui_->comboKeySector, &QComboBox::currentIndexChanged, this, &CClassicMifare::update_access_words);
  connect(ui_->buttonChange, &QPushButton::clicked, this, &CClassicMifare::handle_change);
  connect(ui_->buttonSelect, &QPushButton::clicked, this, &CClassicMifare::handle_select);
  connect(ui_->buttonGetUid, &QPushButton::clicked, this, &CClassicMifare::handle_get_uid);
  connect(ui_->buttonReadBlock, &QPushButton::clicked, this, &CClassicMifare::handle_read_block);
  connect(ui_->buttonWriteBlock, &QPushButton::clicked, this, &CClassicMifare::handle_write_block);
  connect(ui_->buttonReadSector, &QPushButton::clicked, this, &CClassicMifare::handle_read_sector);
  connect(ui_->buttonWriteSector, &QPushButton::clicked, this, &CClassicMifare::handle_write_sector);
  connect(ui_->buttonIncrement, &QPushButton::clicked, this, &CClassicMifare::handle_increment);
  connect(ui_->buttonDecrement, &QPushButton::clicked, this, &CClassicMifare::handle_decrement);
  connect(ui_->buttonUlGetUid, &QPushButton::clicked, this, &CClassicMifare::handle_ul_get_uid);
  connect(ui_->buttonUlRead, &QPushButton::clicked, this, &CClassicMifare::handle_ul_read);
  connect(ui_->buttonUlWrite, &QPushButton::clicked, this, &CClassicMifare::handle_ul_write);
  connect(ui_->buttonUlAuth, &QPushButton::clicked, this, &CClassicMifare::handle_ul_auth);
}

// The terminal's key store takes 12-byte records; a card's trailer takes 16 with the
// access bytes. The check box follows the target and is never clicked itself.
void CClassicMifare::handle_target_changed(int index) {
  const bool card = index == kTargetCard;
  ui_->checkAccess->setEnabled(false);
  ui_->checkAccess->setChecked(card);
  ui_->editAccess->setEnabled(card);
  ui_->labelAccessWords->setEnabled(card);
  ui_->comboKeySet->setEnabled(!card);
}

void CClassicMifare::update_access_words() {
  const std::vector<std::uint8_t> bytes = tb::hex_to_bytes_fixed(work_text(ui_->editAccess), 4);
  const int index = ui_->comboKeySector->currentIndex();
  QStringList lines;
  for (const std::wstring &line : tb::access_in_words({bytes[0], bytes[1], bytes[2], bytes[3]}, index - 1)) {
    lines << QString::fromStdWString(line);
  }
  ui_->labelAccessWords->setText(lines.join(QLatin1Char('\n')));
}

bool CClassicMifare::confirm_access(const tb::AccessBytes &access, std::uint8_t sector) {
  if (const std::wstring error = tb::access_error_text(access); !error.empty()) {
    tbu::show_message(QString::fromStdWString(error));
    return false;
  }
  const std::wstring warning = tb::lock_warning_text(access, sector);
  if (warning.empty()) return true;
  tbu::Message question{QString::fromStdWString(warning), tbu::MessageIcon::Warning, {},
                        QMessageBox::Yes | QMessageBox::No};
  return tbu::messages().show(question) == QMessageBox::Yes;
}

bool CClassicMifare::keys_are_whole() {
  const bool ascii = ui_->comboFormat->currentIndex() == 1;
  for (const auto &[box, edit] : {std::pair{L"KEY A", ui_->editKeyA}, std::pair{L"KEY B", ui_->editKeyB}}) {
    if (const std::wstring problem = tb::key_text_problem(box, whole_text(edit), ascii); !problem.empty()) {
      tbu::show_message(QString::fromStdWString(problem));
      return false;
    }
  }
  return true;
}

bool CClassicMifare::confirm_trailer(int type, const std::array<std::uint8_t, 16> &content, std::uint8_t sector) {
  // A value block has no text to check; its bytes 6 to 8 still meet the access check.
  if (type != kTypeBalance) {
    const std::wstring problem = tb::trailer_text_problem(whole_text(ui_->editInput), type == kTypeAscii);
    if (!problem.empty()) {
      tbu::show_message(QString::fromStdWString(problem));
      return false;
    }
  }
  return confirm_access({content[6], content[7], content[8], content[9]}, sector);
}

void CClassicMifare::handle_change() {
  const int index = ui_->comboKeySector->currentIndex();
  if (index < 0 || index > 40) {
    tbu::show_message(QStringLiteral("SECTOR ERROR"));
    return;
  }
  const bool all = index == 0;
  const auto sector = static_cast<std::uint8_t>(all ? 0 : index - 1);
  const bool with_access = ui_->checkAccess->isChecked();
  const std::string access_text = work_text(ui_->editAccess);
  const std::vector<std::uint8_t> record =
      tb::key_record(work_text(ui_->editKeyA), work_text(ui_->editKeyB), ui_->comboFormat->currentIndex() == 1,
                     with_access ? std::optional<std::string_view>(access_text) : std::nullopt);

  const bool card = ui_->comboTarget->currentIndex() == kTargetCard;
  if (card && all) {
    tbu::show_message(QStringLiteral("ERROR: Select Sector!(Exclude \"SECTOR All\" item)"));
    return;
  }
  if (!keys_are_whole()) return;
  if (card) {
    if (with_access && !confirm_access({record[6], record[7], record[8], record[9]}, sector)) return;
    const std::uint8_t flag = with_access ? 1 : 0;
    runner_.run("R54", [&] { return mi_cng_card_key(sector, flag, record.data()); });
    return;
  }
  if (all) {
    runner_.run("R52", [&] { return mi_cng_all_tm_key(record.data()); });
  } else {
    runner_.run("R51", [&] { return mi_cng_tm_key(sector, record.data()); });
  }
}

void CClassicMifare::handle_select() {
  const int index = ui_->comboKey->currentIndex();
  if (index <= 0) return;
  const auto key = static_cast<std::uint8_t>(index);
  runner_.run("R53", [key] { return mi_sel_key(key); });
}

void CClassicMifare::handle_get_uid() { runner_.run("R61", [] { return mi_det(); }); }

std::optional<std::pair<std::uint8_t, std::uint8_t>> CClassicMifare::checked_block() {
  const int sector = ui_->comboSector->currentIndex();
  const int block = ui_->comboBlock->currentIndex();
  // Sectors 0 to 31 (and the placeholder) have blocks 0 to 3 only.
  if (sector < kFirstLargeSectorIndex && block >= 5) {
    tbu::show_message(QStringLiteral("Please select BLOCK again"));
    return std::nullopt;
  }
  if (sector <= 0) {
    tbu::show_message(QStringLiteral("SECTOR ERROR"));
    return std::nullopt;
  }
  if (block <= 0) {
    tbu::show_message(QStringLiteral("BLOCK ERROR"));
    return std::nullopt;
  }
  return std::make_pair(static_cast<std::uint8_t>(sector - 1), static_cast<std::uint8_t>(block - 1));
}

std::optional<std::uint8_t> CClassicMifare::checked_sector() {
  const int sector = ui_->comboSector->currentIndex();
  if (sector <= 0) {
    tbu::show_message(QStringLiteral("SECTOR ERROR"));
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(sector - 1);
}

std::optional<std::uint8_t> CClassicMifare::checked_page() {
  const int page = ui_->comboPage->currentIndex();
  if (page <= 0) {
    tbu::show_message(QStringLiteral("PAGE ERROR"));
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(page - 1);
}

void CClassicMifare::handle_read_block() {
  const auto place = checked_block();
  if (!place) return;
  const auto [sector, block] = *place;
  runner_.run("R31", [sector, block] { return mi_rd_blk(sector, block); });
}

void CClassicMifare::handle_write_block() {
  const auto place = checked_block();
  if (!place) return;
  const int type = ui_->comboType->currentIndex();
  if (type <= 0) {
    tbu::show_message(QStringLiteral("TYPE ERROR"));
    return;
  }
  const std::string text = work_text(ui_->editInput);
  std::array<std::uint8_t, 16> content{};
  switch (type) {
    case kTypeBalance: content = tb::value_block(tb::parse_decimal(text)); break;
    case kTypeHex: content = tb::block_from_hex(text); break;
    case kTypeAscii: content = tb::block_from_ascii(text); break;
    default: return;
  }
  const auto [sector, block] = *place;
  // A trailer written with inconsistent access bytes makes the sector unusable.
  if (block == tb::trailer_block(sector) && !confirm_trailer(type, content, sector)) return;
  runner_.run("R32", [&, sector, block] { return mi_wt_blk(sector, block, content.data()); });
}

void CClassicMifare::handle_read_sector() {
  const auto sector = checked_sector();
  if (!sector) return;
  runner_.run("R36", [s = *sector] { return mi_rd_sct(s); });
}

void CClassicMifare::handle_write_sector() {
  const auto sector = checked_sector();
  if (!sector) return;
  if (ui_->comboType->currentIndex() != kTypeHex) {
    tbu::show_message(QStringLiteral("WRITE TYPE ERROR"));
    return;
  }
  const std::uint8_t s = *sector;
  // A refused start shows nothing here: the page simply does not wait.
  if (s < 32) {
    const std::vector<std::uint8_t> image = tb::sector_data(s, work_text(ui_->editInput));
    runner_.run("R37", [&] { return mi_wt_sct(s, image.data()); }, QString());
  } else {
    // The sixteen-block form needs 510 characters: the whole text is read.
    const std::vector<std::uint8_t> image = tb::sector_data(s, whole_text(ui_->editInput));
    runner_.run("R37", [&] { return exe_cmd("R37", image.data(), static_cast<std::uint32_t>(image.size())); },
                QString());
  }
}

void CClassicMifare::change_balance(bool increase) {
  const auto place = checked_block();
  if (!place) return;
  const auto [sector, block] = *place;
  const std::int32_t value = tb::parse_decimal(work_text(ui_->editInput));
  if (increase) {
    runner_.run("R41", [=] { return mi_bal_inc(sector, block, value); });
  } else {
    runner_.run("R42", [=] { return mi_bal_dec(sector, block, value); });
  }
}

void CClassicMifare::handle_increment() { change_balance(true); }
void CClassicMifare::handle_decrement() { change_balance(false); }

void CClassicMifare::handle_ul_get_uid() { runner_.run("U41", [] { return mi_ultra_rd_uid(); }); }

void CClassicMifare::handle_ul_read() {
  const auto page = checked_page();
  if (!page) return;
  runner_.run("U31", [p = *page] { return mi_ultra_rd(p); });
}

void CClassicMifare::handle_ul_write() {
  const auto page = checked_page();
  if (!page) return;
  const std::array<std::uint8_t, 4> bytes = tb::ultralight_page(work_text(ui_->editUlInput));
  runner_.run("U32", [&, p = *page] { return mi_ultra_wt(p, bytes.data()); });
}

void CClassicMifare::handle_ul_auth() {
  // The whole text goes out: one too long for the work buffer is refused, not cut.
  const std::string text = whole_text(ui_->editUlInput);
  if (const std::wstring problem = tb::auth_text_problem(text); !problem.empty()) {
    tbu::show_message(QString::fromStdWString(problem));
    return;
  }
  const auto bytes = tb::auth_bytes(text);
  if (!bytes) {
    tbu::show_message(QStringLiteral("Frame Error"));
    return;
  }
  // The command goes out under the current-command code, which the runner has just set.
  runner_.run("U33", [&] {
    return exe_cmd(runner_.state().code, bytes->data(), static_cast<std::uint32_t>(bytes->size()));
  });
}

// The "ClassMifare" tab: key changes in the terminal and on the card, block, sector
// and value operations on MIFARE Classic cards, and the Ultralight commands.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Ui {
class CClassicMifare;
}

namespace tolvex::bench::ui {
class CommandRunner;
}

class CClassicMifare final : public QWidget {
  Q_OBJECT
 public:
  explicit CClassicMifare(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CClassicMifare() override;

 private slots:
  void handle_target_changed(int index);
  void update_access_words();
  void handle_change();
  void handle_select();
  void handle_get_uid();
  void handle_read_block();
  void handle_write_block();
  void handle_read_sector();
  void handle_write_sector();
  void handle_increment();
  void handle_decrement();
  void handle_ul_get_uid();
  void handle_ul_read();
  void handle_ul_write();
  void handle_ul_auth();

 private:
  void fill_lists();
  void bind();
  // The sector and block of a block operation once its checks have passed; each failed
  // check shows its message.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> checked_block();
  // The "SECTOR:" list of the Mifare Classic group: the sector, or "SECTOR ERROR" shown.
  std::optional<std::uint8_t> checked_sector();
  // The "PAGE:" list: the page, or "PAGE ERROR" shown.
  std::optional<std::uint8_t> checked_page();
  // Access bytes about to go to a sector trailer, by "Change" or by "Write Block":
  // refused when malformed, asked about when they lock the trailer. True when they may
  // be sent.
  bool confirm_access(const std::array<std::uint8_t, 4> &access, std::uint8_t sector);
  // The "KEY A:" and "KEY B:" texts: refused, with a message, when they are not whole keys.
  bool keys_are_whole();
  // "Write Block" to a sector trailer: the text and the access bytes it would write.
  bool confirm_trailer(int type, const std::array<std::uint8_t, 16> &content, std::uint8_t sector);
  void change_balance(bool increase);

  tolvex::bench::ui::CommandRunner &runner_;
  std::unique_ptr<Ui::CClassicMifare> ui_;
};

// The "MS/IC" tab: writes, reads and compares the three magnetic-stripe tracks,
// chooses the write coercivity, resets the contact IC card and sends it APDUs.
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QCheckBox;
class QPlainTextEdit;

namespace Ui {
class CMsDlg;
}

namespace tolvex::bench::ui {
class CommandRunner;
}

class CMsDlg final : public QWidget {
  Q_OBJECT
 public:
  explicit CMsDlg(tolvex::bench::ui::CommandRunner &runner, QWidget *parent = nullptr);
  ~CMsDlg() override;

 private slots:
  void handle_all_select();
  void handle_ms_select();
  void handle_ms_execute();
  void handle_all_read();
  void handle_all_write();
  void handle_ic_reset();
  void handle_ic_execute();

 private:
  QPlainTextEdit *write_box(int track) const;
  QPlainTextEdit *read_box(int track) const;
  QCheckBox *write_check(int track) const;
  QCheckBox *read_check(int track) const;

  // Each returns whether its command was started.
  bool write_track(int track, std::size_t sent_before);
  bool read_track(int track);
  // Shows a read text and marks the box when it differs from the last text written.
  void show_read(int track, const QString &text);
  void clear_reads();
  void update_hint(int track);
  // After a successful "Execurte": the first two response bytes as a status word.
  void show_status_word();
  // After a successful "Reset": the response as an answer to reset.
  void show_answer_to_reset();
  // Empties the IC result and titles it for the command about to run.
  void clear_ic_result(const QString &title);

  tolvex::bench::ui::CommandRunner &runner_;
  std::unique_ptr<Ui::CMsDlg> ui_;
  // The text last written to each track with success, before its rotation.
  std::array<std::optional<QString>, 3> last_written_;
};

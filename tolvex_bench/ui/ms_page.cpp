#include "ms_page.hpp"

#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "ui_ms_page.h"
#include "upper_case_edit.hpp"

namespace tbu = tolvex::bench::ui;
using Model = tolvex::bench::MsPageModel;

CMsDlg::CMsDlg(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CMsDlg>()), model_(view_, runner) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);

  const std::pair<int, QWidget *> bindings[] = {
      {Model::Coercivity, ui_->comboCoercivity},
      {Model::Write1, ui_->editWrite1},     {Model::Write2, ui_->editWrite2},     {Model::Write3, ui_->editWrite3},
      {Model::Read1, ui_->editRead1},       {Model::Read2, ui_->editRead2},       {Model::Read3, ui_->editRead3},
      {Model::WriteCheck1, ui_->checkWr1},  {Model::WriteCheck2, ui_->checkWr2},  {Model::WriteCheck3, ui_->checkWr3},
      {Model::ReadCheck1, ui_->checkRd1},   {Model::ReadCheck2, ui_->checkRd2},   {Model::ReadCheck3, ui_->checkRd3},
      {Model::Hint1, ui_->labelHint1},      {Model::Hint2, ui_->labelHint2},      {Model::Hint3, ui_->labelHint3},
      {Model::Cla, ui_->editCLA},           {Model::Ins, ui_->editINS},           {Model::P1, ui_->editP1},
      {Model::P2, ui_->editP2},             {Model::Lc, ui_->editLc},             {Model::LcData, ui_->editLcData},
      {Model::Le, ui_->editLe},             {Model::ResultTitle, ui_->labelSwTitle},
      {Model::Result, ui_->labelStatusWord},
  };
  for (const auto &[control, widget] : bindings) view_.bind(control, widget);

  for (QLineEdit *box : {ui_->editCLA, ui_->editINS, ui_->editP1, ui_->editP2, ui_->editLc, ui_->editLe}) {
    box->setMaxLength(2);
    box->setValidator(new tbu::UpperCaseValidator(box));
  }
  model_.init();

  for (int track = 1; track <= 3; ++track) {
    auto *box = qobject_cast<QPlainTextEdit *>(view_.widget(Model::write_box(track)));
    connect(box, &QPlainTextEdit::textChanged, this, [this, track] { model_.write_text_changed(track); });
  }
  connect(ui_->buttonAllSelect, &QPushButton::clicked, this, [this] { model_.all_select(); });
  connect(ui_->buttonMsSelect, &QPushButton::clicked, this, [this] { model_.ms_select(); });
  connect(ui_->buttonMsExecute, &QPushButton::clicked, this, [this] { model_.ms_execute(); });
  connect(ui_->buttonAllRead, &QPushButton::clicked, this, [this] { model_.all_read(); });
  connect(ui_->buttonAllWrite, &QPushButton::clicked, this, [this] { model_.all_write(); });
  connect(ui_->buttonIcReset, &QPushButton::clicked, this, [this] { model_.ic_reset(); });
  connect(ui_->buttonIcExecute, &QPushButton::clicked, this, [this] { model_.ic_execute(); });
}

CMsDlg::~CMsDlg() = default;

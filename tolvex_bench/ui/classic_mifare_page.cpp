#include "classic_mifare_page.hpp"

#include "command_runner.hpp"
#include "dialog_units.hpp"
#include "ui_classic_mifare_page.h"
#include "upper_case_edit.hpp"

namespace tbu = tolvex::bench::ui;
using Model = tolvex::bench::MifarePageModel;

CClassicMifare::CClassicMifare(tbu::CommandRunner &runner, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CClassicMifare>()), model_(view_, runner) {
  ui_->setupUi(this);
  tbu::DialogUnits(tbu::dialog_font()).apply(this);
  bind_controls();

  ui_->comboKeySet->setToolTip(
      QStringLiteral("What a key set means is up to the terminal; the commands of this page do not send it."));
  // The access conditions in words take a point less than the dialog font, so that a
  // data group fits one line.
  QFont small = ui_->labelAccessWords->font();
  small.setPointSizeF(small.pointSizeF() - 1);
  ui_->labelAccessWords->setFont(small);
  for (QLineEdit *edit : {ui_->editKeyA, ui_->editKeyB, ui_->editAccess, ui_->editInput, ui_->editUlInput}) {
    edit->setValidator(new tbu::UpperCaseValidator(edit));
  }

  model_.init();
  connect_signals();
}

CClassicMifare::~CClassicMifare() = default;

void CClassicMifare::bind_controls() {
  const std::pair<Model::Control, QWidget *> bindings[] = {
      {Model::TargetList, ui_->comboTarget},   {Model::KeySectorList, ui_->comboKeySector},
      {Model::KeySetList, ui_->comboKeySet},   {Model::AccessCheck, ui_->checkAccess},
      {Model::AccessBox, ui_->editAccess},     {Model::AccessWords, ui_->labelAccessWords},
      {Model::FormatList, ui_->comboFormat},   {Model::KeyABox, ui_->editKeyA},
      {Model::KeyBBox, ui_->editKeyB},         {Model::InputBox, ui_->editInput},
      {Model::KeyList, ui_->comboKey},         {Model::SectorList, ui_->comboSector},
      {Model::BlockList, ui_->comboBlock},     {Model::TypeList, ui_->comboType},
      {Model::UlInputBox, ui_->editUlInput},   {Model::PageList, ui_->comboPage},
  };
  for (const auto &[control, widget] : bindings) view_.bind(control, widget);
}

void CClassicMifare::connect_signals() {
  connect(ui_->comboTarget, &QComboBox::currentIndexChanged, this, [this] { model_.target_changed(); });
  connect(ui_->editAccess, &QLineEdit::textChanged, this, [this] { model_.access_changed(); });
  connect(ui_->comboKeySector, &QComboBox::currentIndexChanged, this, [this] { model_.access_changed(); });
  const std::pair<QPushButton *, void (Model::*)()> buttons[] = {
      {ui_->buttonChange, &Model::change},
      {ui_->buttonSelect, &Model::select},
      {ui_->buttonGetUid, &Model::get_uid},
      {ui_->buttonReadBlock, &Model::read_block},
      {ui_->buttonWriteBlock, &Model::write_block},
      {ui_->buttonReadSector, &Model::read_sector},
      {ui_->buttonWriteSector, &Model::write_sector},
      {ui_->buttonIncrement, &Model::increment},
      {ui_->buttonDecrement, &Model::decrement},
      {ui_->buttonUlGetUid, &Model::ul_get_uid},
      {ui_->buttonUlRead, &Model::ul_read},
      {ui_->buttonUlWrite, &Model::ul_write},
      {ui_->buttonUlAuth, &Model::ul_auth},
  };
  for (const auto &[button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this, [this, handler = handler] { (model_.*handler)(); });
  }
}

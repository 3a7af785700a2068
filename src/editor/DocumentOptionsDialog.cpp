#include "editor/DocumentOptionsDialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "drawing/FitNetwork.h"
#include "editor/EditorWindow.h"
#include "gui/IntegerText.h"
#include "gui/Prompts.h"
#include "picture/QtFonts.h"

namespace busweave {
namespace {

// The dialog's font with the colour the sample had (the font dialog has no colour).
TFontSpec fromQFont(const QFont& Font, TColor Color) {
  TFontSpec spec;
  spec.Name = Font.family().toStdString();
  spec.Size = Font.pointSize() > 0 ? Font.pointSize() : 8;
  spec.Color = Color;
  spec.Bold = Font.bold();
  spec.Italic = Font.italic();
  spec.Underline = Font.underline();
  spec.StrikeOut = Font.strikeOut();
  return spec;
}

void showSample(QLabel* Label, const TFontSpec& Font) {
  Label->setFont(QFontOf(Font));
  QPalette palette = Label->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, QColor(Font.Color.R, Font.Color.G, Font.Color.B));
  Label->setPalette(palette);
  Label->setText(QString::fromStdString(Font.Name));
}

QLineEdit* addField(QFormLayout* Form, const QString& Label, const char* Name) {
  auto* field = new QLineEdit;
  field->setObjectName(Name);
  Form->addRow(Label, field);
  return field;
}

// Any number of digits is read, so that a number too large for the document is told apart from
// a text that is no number (which falls back without a word, as it always has).
std::optional<std::int64_t> integerIn(const QLineEdit* Field) {
  return WholeInteger(Field->text().trimmed().toStdString());
}

// The largest document size the fields take, in 0.01 mm: the largest extent at the drawing scale.
constexpr std::int64_t kLargestSize = std::int64_t{kLargestExtent} * DrawingScale.X;

}  // namespace

void TFontSample::mousePressEvent(QMouseEvent* Event) {
  QLabel::mousePressEvent(Event);
  if (OnClick) OnClick();
}

TFormOptions::TFormOptions(TPrompts& Prompts, QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint), FPrompts(Prompts) {
  setWindowTitle("Options");
  setFont(QFont("Arial"));
  setFixedSize(359, 189);

  PageControl = new QTabWidget(this);
  PageControl->setGeometry(4, 4, 351, 146);
  TabSheetCANPref = new QWidget;
  TabSheetLayout = new QWidget;
  TabSheetFonts = new QWidget;

  auto* can = new QFormLayout(TabSheetCANPref);
  EditLineZL = addField(can, "Impedance of CAN line [ohms]", "EditLineZL");
  EditZLTerm = addField(can, "Impedance of termination [ohms]", "EditZLTerm");
  EditNoZL = addField(can, "Impedance of line wo/ termination [ohms]", "EditNoZL");

  auto* layout = new QFormLayout(TabSheetLayout);
  EditSizeX = addField(layout, " Size (X) of document [0.01 mm]", "EditSizeX");
  EditSizeY = addField(layout, " Size (Y) of document [0.01 mm]", "EditSizeY");
  CheckBoxShowNames = new QCheckBox("Display node names");
  CheckBoxShowNames->setObjectName("CheckBoxShowNames");
  layout->addRow(CheckBoxShowNames);

  auto* fonts = new QFormLayout(TabSheetFonts);
  LabelFontDraw = new TFontSample;
  LabelFontDraw->setObjectName("LabelFontDraw");
  LabelFontDraw->setAutoFillBackground(true);
  LabelFontClip = new TFontSample;
  LabelFontClip->setObjectName("LabelFontClip");
  LabelFontClip->setAutoFillBackground(true);
  fonts->addRow("Font  for drawing the network", LabelFontDraw);
  fonts->addRow("Font  using with the clipboard", LabelFontClip);
  LabelFontDraw->OnClick = [this] { LabelFontDrawClick(); };
  LabelFontClip->OnClick = [this] { LabelFontClipClick(); };

  PageControl->addTab(TabSheetCANPref, "&CAN");
  PageControl->addTab(TabSheetLayout, "&Layout");
  PageControl->addTab(TabSheetFonts, "&Fonts");
  PageControl->setCurrentWidget(TabSheetLayout);

  BitBtnOK = new QPushButton("&OK", this);
  BitBtnOK->setObjectName("BitBtnOK");
  BitBtnOK->setGeometry(60, 156, 90, 27);
  BitBtnOK->setDefault(true);
  BitBtnCancel = new QPushButton("&Cancel", this);
  BitBtnCancel->setObjectName("BitBtnCancel");
  BitBtnCancel->setGeometry(209, 156, 90, 27);
  connect(BitBtnOK, &QPushButton::clicked, this, [this] { okClicked(); });
  connect(BitBtnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
  BitBtnOK->setFocus();
}

void TFormOptions::SetFont(TFontSlot Kind, const TFontSpec& Font) {
  if (Kind == TFontSlot::Picture) {
    FClipFont = Font;
    showSample(LabelFontClip, Font);
  } else if (Kind == TFontSlot::Drawing) {
    FDrawFont = Font;
    showSample(LabelFontDraw, Font);
  }
}

TFontSpec TFormOptions::GetFont(TFontSlot Kind) const {
  if (Kind == TFontSlot::Picture) return FClipFont;
  if (Kind == TFontSlot::Drawing) return FDrawFont;
  return {};
}

void TFormOptions::chooseFont(TFontSample* Label, TFontSpec& Font) {
  if (const auto chosen = FPrompts.ChooseFont(this, QFontOf(Font))) Font = fromQFont(*chosen, Font.Color);
  showSample(Label, Font);
}

void TFormOptions::LabelFontDrawClick() { chooseFont(LabelFontDraw, FDrawFont); }
void TFormOptions::LabelFontClipClick() { chooseFont(LabelFontClip, FClipFont); }

void TFormOptions::okClicked() {
  // A number typed outside what the document can keep is refused, in the words of the node and
  // line dialogs; texts that are not numbers, and sizes of 0 or less, fall back to the current
  // values when the dialog closes.
  const auto refuse = [this](QWidget* Page, QLineEdit* Field, const QString& Name, std::int64_t Low,
                             std::int64_t High) {
    const auto value = integerIn(Field);
    if (!value || (*value >= Low && *value <= High)) return false;
    PageControl->setCurrentWidget(Page);
    FPrompts.ShowError(this, QString("%1: %2 is outside the range %3 to %4.")
                                 .arg(Name.trimmed(), Field->text().trimmed())
                                 .arg(Low)
                                 .arg(High));
    Field->setFocus();
    Field->selectAll();
    return true;
  };
  for (const auto& [field, name] :
       {std::pair{EditLineZL, "Impedance of CAN line [ohms]"}, std::pair{EditZLTerm, "Impedance of termination [ohms]"},
        std::pair{EditNoZL, "Impedance of line wo/ termination [ohms]"}})
    if (refuse(TabSheetCANPref, field, name, 0, 65535)) return;
  for (const auto& [field, name] : {std::pair{EditSizeX, " Size (X) of document [0.01 mm]"},
                                    std::pair{EditSizeY, " Size (Y) of document [0.01 mm]"}})
    if (integerIn(field).value_or(0) > 0 && refuse(TabSheetLayout, field, name, 1, kLargestSize)) return;
  done(mrOk);
}

void TFormOptions::reject() { done(mrCancel); }

void RunOptions(TSubForm& Editor, TPrompts& Prompts) {
  TFormOptions dialog(Prompts, &Editor);
  const TDocumentOptions current = Editor.Options();
  dialog.SetFont(TFontSlot::Picture, current.PictureFont);
  dialog.SetFont(TFontSlot::Drawing, current.DrawingFont);
  const TPoint scale = Editor.FScale();
  dialog.EditSizeX->setText(QString::number(std::int64_t{current.Extent.X} * scale.X));
  dialog.EditSizeY->setText(QString::number(std::int64_t{current.Extent.Y} * scale.Y));
  dialog.EditLineZL->setText(QString::number(current.LineZL));
  dialog.EditZLTerm->setText(QString::number(current.ZLTerm));
  dialog.EditNoZL->setText(QString::number(current.NoZL));
  dialog.CheckBoxShowNames->setChecked(current.ShowNames);
  if (Prompts.ExecDialog(dialog) != mrOk) return;

  TDocumentOptions next = current;
  // Values were checked against 0..65535 when OK was pressed.
  const auto lineZL = integerIn(dialog.EditLineZL);
  next.LineZL = lineZL ? static_cast<std::uint16_t>(*lineZL) : current.ZLTerm;
  const auto zlTerm = integerIn(dialog.EditZLTerm);
  next.ZLTerm = zlTerm ? static_cast<std::uint16_t>(*zlTerm) : next.LineZL;
  const auto noZL = integerIn(dialog.EditNoZL);
  next.NoZL = noZL ? static_cast<std::uint16_t>(*noZL) : current.NoZL;
  next.ShowNames = dialog.CheckBoxShowNames->isChecked();
  const auto sizeX = integerIn(dialog.EditSizeX);
  const auto sizeY = integerIn(dialog.EditSizeY);
  // Sizes were checked against the largest document when OK was pressed.
  const auto extentOf = [](std::optional<std::int64_t> Size, std::int32_t Scale, std::int32_t Current) {
    if (!Size || *Size <= 0 || Scale <= 0) return Current;
    return static_cast<std::int32_t>(std::min<std::int64_t>(*Size / Scale, kLargestExtent));
  };
  next.Extent.X = extentOf(sizeX, scale.X, current.Extent.X);
  next.Extent.Y = extentOf(sizeY, scale.Y, current.Extent.Y);
  next.PictureFont = dialog.GetFont(TFontSlot::Picture);
  next.DrawingFont = dialog.GetFont(TFontSlot::Drawing);
  Editor.ApplyOptions(next);
}

}  // namespace busweave

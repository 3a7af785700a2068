#pragma once

// TFormOptions: the dialog "Options" for one document: default impedances, document size,
// node names, and the drawing and picture fonts. RunOptions is the editor's "&Options" command.

#include <QDialog>
#include <QLabel>
#include <functional>

#include "drawing/Canvas.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace busweave {

class TPrompts;
class TSubForm;

// A font sample that opens the font dialog when clicked.
class TFontSample : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
};

// The two font samples of the dialog; the values are the kinds SetFont and GetFont have always
// taken.
enum class TFontSlot : int {
  Picture = 1,  // LabelFontClip: names and labels in exported pictures
  Drawing = 2,  // LabelFontDraw: names and labels on the screen
};

class TFormOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TFormOptions(TPrompts& Prompts, QWidget* Owner = nullptr);

  QTabWidget* PageControl;
  QWidget* TabSheetCANPref;
  QWidget* TabSheetLayout;
  QWidget* TabSheetFonts;
  QLineEdit* EditLineZL;
  QLineEdit* EditZLTerm;
  QLineEdit* EditNoZL;
  QLineEdit* EditSizeX;
  QLineEdit* EditSizeY;
  QCheckBox* CheckBoxShowNames;
  TFontSample* LabelFontDraw;
  TFontSample* LabelFontClip;
  QPushButton* BitBtnOK;
  QPushButton* BitBtnCancel;

  // The font a sample shows and the dialog gives back; a slot of neither kind has none.
  void SetFont(TFontSlot Kind, const TFontSpec& Font);
  TFontSpec GetFont(TFontSlot Kind) const;

  void LabelFontDrawClick();
  void LabelFontClipClick();

 public slots:
  void reject() override;

 private:
  void chooseFont(TFontSample* Label, TFontSpec& Font);
  void okClicked();

  TPrompts& FPrompts;
  TFontSpec FClipFont;
  TFontSpec FDrawFont;
};

// The editor's options command: shows the dialog and applies what it gives on OK.
void RunOptions(TSubForm& Editor, TPrompts& Prompts);

}  // namespace busweave

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

  // Kind 1: the picture font sample, Kind 2: the drawing font sample.
  void SetFont(int Kind, const TFontSpec& Font);
  TFontSpec GetFont(int Kind) const;

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

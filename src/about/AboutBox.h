#pragma once

// TAboutBox: the modal about box. It first shows the product name and major version above a
// spinning cube; OK switches it to a ten-second credits view (portrait, contact text with a copy
// button, build version, and a pie gauge that fills while its colour cycles), after which the
// box closes by itself. It has no other way to close. The credits view is driven by a timer, so
// the interface stays live and the processor idle while it runs.
//
// ShowAboutBox is the one entry point for the main window: it creates the box, shows it modally
// and discards it.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QPainter;
class QPlainTextEdit;
class QPushButton;

namespace busweave {

class TCubeSpin;
class TGauge;

// Milliseconds of a free-running counter that may wrap: only differences count.
using TTickClock = std::function<std::uint32_t()>;
std::uint32_t SystemTickCount();

// The gauge's colour this many milliseconds into the credits view: it steps every 20 ms, red
// rising and green falling over 255 steps, blue falling from 254 to 2 over 127 steps.
QColor CreditsColour(std::uint32_t Elapsed);
// The lines of the contact memo.
QString ContactText();
// Our portrait, stretched to fill Box.
void DrawPortrait(QPainter& Painter, const QRectF& Box);

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::uint32_t CreditsMs = 10000;

  explicit TAboutBox(QWidget* Owner = nullptr);
  ~TAboutBox() override;

  QFrame* Panel1;
  QPushButton* OKButton;
  TCubeSpin* CubeSpin1;
  QWidget* ImagePortrait;
  QLabel* LabelAppName;
  QLabel* LabelAppVersion;
  QLabel* LabelBuild;
  QPlainTextEdit* MemoContact;
  TGauge* GaugeWait;
  QPushButton* BitBtnCToClip;

  // Where the credits view reads the time; tests put in their own.
  TTickClock Clock = SystemTickCount;
  // Where the build label gets the version strings by index.
  std::function<QString(int)> VersionInfo;

  // The caption: the application title followed by " - About".
  void FormCreate();
  // Switches to the credits view and starts its ten seconds.
  void OKButtonClick();
  // The contact text onto the clipboard as plain text.
  void BitBtnCToClipClick();
  bool CreditsRunning() const { return FCreditsTimer.isActive(); }

 public slots:
  // Escape and the like do nothing: the box closes only at the end of the credits view.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  // One pass of the credits view: gauge and colour, and the end after ten seconds.
  void creditsPass();

  QTimer FCreditsTimer;
  std::uint32_t FCreditsStart = 0;
  bool FCreditsOver = false;
};

void ShowAboutBox(QWidget* Owner);

}  // namespace busweave

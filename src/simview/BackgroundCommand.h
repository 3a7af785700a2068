#pragma once

// What the Simulate, Analyze bus and How to make it work commands of one editor share while their
// work goes on in the background: the progress panel in the status bar of the main window that
// holds the editor (what goes on, how far, and Cancel), whether work is running, whether the
// network was edited meanwhile, and a failure said in one message. Each command says what its
// work is and what its Cancel stops; the panel has no parent until it is shown, and the command
// deletes it.

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace busweave {

class TPrompts;

class TBackgroundCommand : public QObject {
  Q_OBJECT

 public:
  ~TBackgroundCommand() override;

  // From the command until its outcome is shown, it fails or it is cancelled.
  bool Running() const { return FRunning; }
  // Stops the work of this document, if any.
  virtual void Cancel() = 0;

  // The status bar parts shown while the work goes on.
  QPointer<QWidget> StatusPanel;
  QLabel* ProgressLabel;
  QProgressBar* ProgressBar;
  QPushButton* CancelButton;

 signals:
  // The work has ended: shown, failed (with its message) or cancelled.
  void Finished();

 protected:
  // What names the work in the status bar; CancelTip says what Cancel stops.
  TBackgroundCommand(QWidget* Editor, TPrompts& Prompts, const QString& What, const QString& CancelTip, int BarWidth);

  // The work starts: the panel shows it busy until a first count comes.
  void begin();
  // The work ends (done, failed or cancelled): the panel leaves the status bar.
  void end();
  void showCount(std::size_t Done, std::size_t Total, const QString& Format);
  void showBusy(const QString& Format);
  // An edit of the network: whether it came while the work ran is kept until the next begin().
  void noteEdit();
  bool editedDuringRun() const { return FEditedDuringRun; }
  // The sentence a failure is told in: Prefix and Why, ended by a full stop.
  QString failure(const QString& Prefix, const QString& Why) const;

  QWidget* FEditor;
  TPrompts& FPrompts;

 private:
  void showPanel(bool Visible);

  bool FRunning = false;
  bool FEditedDuringRun = false;
};

}  // namespace busweave

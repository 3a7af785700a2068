#pragma once

// The Simulate command of one editor: builds the circuit from the current templates, translates
// it for ngspice on a worker thread, runs it on the engine in the background with a progress
// bar and a Cancel button in the main window's status bar, and shows the outcome in the
// document's waveform window. Cancel reaches both the translation and the run. The editor owns
// the command (as its child); the command owns the waveform window. Closing the document
// cancels its run.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/LatestJob.h"
#include "simview/BackgroundCommand.h"

class QWidget;

namespace busweave {

class TCanNodes;
class TPrompts;
struct TNgspiceCircuit;
class TWaveformWindow;

class TSimulateCommand : public TBackgroundCommand {
  Q_OBJECT

 public:
  // Editor is the parent of the command and the owner of the window's dialogs; Repaint redraws
  // the network, whose node names the circuit numbers.
  TSimulateCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts, std::function<void()> Repaint);
  ~TSimulateCommand() override;

  // The command: starts a run (or tells why it cannot).
  void Run();
  // Ends the run of this document, if any; nothing is shown.
  void Cancel() override;

  // The document's waveform window, once a run has ended.
  TWaveformWindow* Window() const;

 private:
  struct Translated;
  void onTranslated(const std::shared_ptr<Translated>& Outcome);
  void startEngine(const TNgspiceCircuit& Circuit);
  void onEngineChanged();
  void finish();
  TWaveformWindow& window();

  TCanNodes& FNet;
  std::function<void()> FRepaint;
  QPointer<TWaveformWindow> FWindow;
  std::vector<std::string> FNotes;
  bool FTranslating = false;  // the job has the circuit, ngspice not yet
  // The translation of the latest run; last, so that it has stopped before the rest goes.
  TLatestJob<std::shared_ptr<Translated>> FTranslation{this};
};

}  // namespace busweave

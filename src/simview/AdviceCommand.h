#pragma once

// The "How to make it work" command of one editor: asks for the rates to reach, then searches on
// a worker thread, on a copy of the network, for the smallest changes that make the bus work
// there (Advise, whose simulations run in worker processes of busweave-cli), with a progress bar
// and a Cancel button in the main window's status bar, as the bus analysis does. The proposals go
// to the document's advice panel; Apply there hands the picked change to the editor, which makes
// it as one undo step. The editor owns the command (as its child); the command owns the panel.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "advice/AdviceSearch.h"
#include "gui/LatestJob.h"
#include "simview/AdviceRatesDialog.h"
#include "simview/BackgroundCommand.h"

class QWidget;

namespace busweave {

class TAdvicePanel;
class TCanNodes;
class TPrompts;

class TAdviceCommand : public TBackgroundCommand {
  Q_OBJECT

 public:
  // Apply makes the edits in the document as one undo step and returns why it could not
  // (nothing changed then); Show brings the panel into view (in front when its argument is true).
  TAdviceCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts,
                 std::function<std::optional<QString>(const std::vector<TEdit>&)> Apply,
                 std::function<void(bool)> Show);
  ~TAdviceCommand() override;

  // The command: asks for the rates (those of this document's last search proposed), then starts
  // the search (or tells why it cannot).
  void Run();
  // Starts the search for these rates without asking.
  void Search(const TAdviceRates& Rates);
  // Stops the search of this document, if any; its worker processes are ended and the advice
  // on view stays.
  void Cancel() override;
  // The network was edited: advice shown, or one still being searched, is of the old network.
  void NetworkChanged();
  // Makes the panel's Proposal-th change in the document; a change whose values the document no
  // longer holds is refused with a message naming the element.
  void ApplyProposal(std::size_t Proposal);

  TAdvicePanel* Panel() const { return FPanel; }

  // The worker program; found by FindAnalysisProgram() when empty.
  QString Program;

 private:
  struct Outcome;
  void onProgress(const TRunProgress& Progress);
  void onDone(const std::shared_ptr<Outcome>& Result);
  void fail(const QString& Message);

  TCanNodes& FNet;
  std::function<std::optional<QString>(const std::vector<TEdit>&)> FApply;
  std::function<void(bool)> FShow;
  TAdvicePanel* FPanel;                                // owned; shown in the main window's dock
  std::optional<TAdviceRates> FLastRates;              // asked last for this document; the dialog proposes them
  TLatestJob<std::shared_ptr<Outcome>> FSearch{this};  // the latest search
};

}  // namespace busweave

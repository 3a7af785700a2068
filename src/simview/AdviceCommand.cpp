#include "simview/AdviceCommand.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

#include "gui/ModalResult.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "simview/AdvicePanel.h"
#include "simview/AnalysisCommand.h"

namespace busweave {

// What the worker hands back: the advice, or why there is none.
struct TAdviceCommand::Outcome {
  TAdvice Advice;
  std::string Error;
};

TAdviceCommand::TAdviceCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts,
                               std::function<std::optional<QString>(const std::vector<TEdit>&)> Apply,
                               std::function<void(bool)> Show)
    : TBackgroundCommand(Editor, Prompts, "Searching how to make it work", "Stop the search", 180),
      FNet(Net),
      FApply(std::move(Apply)),
      FShow(std::move(Show)) {
  FPanel = new TAdvicePanel;
  FPanel->OnApply = [this](std::size_t Proposal) { ApplyProposal(Proposal); };
}

TAdviceCommand::~TAdviceCommand() {
  // The search stops within moments of the request (its worker processes are killed); its news
  // is dropped with this object. The editor is half destroyed by now: nothing of it is touched.
  FSearch.Cancel();
  delete FPanel;
}

void TAdviceCommand::Run() {
  if (Running() || !FNet.FNetworkExists()) return;
  TAdviceRatesDialog dialog(FEditor);
  dialog.ReportError = [this, &dialog](const QString& Message) { FPrompts.ShowError(&dialog, Message); };
  if (FLastRates) dialog.SetRates(*FLastRates);
  if (FPrompts.ExecDialog(dialog) != mrOk) return;
  if (const auto rates = dialog.Rates()) Search(*rates);
}

void TAdviceCommand::Search(const TAdviceRates& Rates) {
  if (Running() || !FNet.FNetworkExists()) return;
  FLastRates = Rates;
  QString program = Program;
  if (program.isEmpty()) {
    const auto found = FindAnalysisProgram();
    if (!found) {
      fail("No advice can be searched: busweave-cli, which runs the simulations, was not found beside this program (" +
           QCoreApplication::applicationDirPath() + ") nor in its build tree. Set BUSWEAVE_CLI to its path.");
      return;
    }
    program = *found;
  }
  TAdviceOptions options;
  options.DataRate = Rates.DataRate;
  options.ArbitrationRate = Rates.ArbitrationRate;
  options.Run.Program = program.toLocal8Bit().toStdString();
  options.Run.Jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // The search reads a copy: the document stays free to edit (and to take a change) meanwhile.
  std::shared_ptr<const TCanNodes> net = FNet.Snapshot();

  begin();
  // Advice on view stays until the new one replaces it (a cancelled search keeps it).
  if (FPanel->HasAdvice())
    FPanel->ShowNote("Searching again; below, the last advice.");
  else
    FPanel->ShowMessage("Searching the smallest changes that make the bus work: every step is a simulation.");
  if (FShow) FShow(true);
  // A former search still stopping ends first, on the job's thread; it was told to stop when
  // cancelled.
  FSearch.Run(
      [this, net, options = std::move(options)](const TJobRun& Job) mutable {
        auto outcome = std::make_shared<Outcome>();
        options.Run.Stop = Job.Stop;
        // Called on the search's threads: the news goes to the window's.
        options.Run.Progress = [this, &Job](const TRunProgress& Progress) {
          Job.Post([this, Progress] { onProgress(Progress); });
        };
        try {
          outcome->Advice = Advise(*net, net->FFileName(), options);
        } catch (const std::exception& error) {
          outcome->Error = error.what();
        }
        return outcome;
      },
      [this](std::shared_ptr<Outcome> Result) {
        if (!Result->Advice.Cancelled) onDone(Result);
      });
}

void TAdviceCommand::onProgress(const TRunProgress& Progress) {
  showCount(Progress.Done, Progress.Total, "%v of %m steps");
}

void TAdviceCommand::onDone(const std::shared_ptr<Outcome>& Result) {
  end();
  if (!Result->Error.empty()) {
    fail(failure("No advice can be searched: ", QString::fromStdString(Result->Error)));
    emit Finished();
    return;
  }
  FPanel->ShowAdvice(Result->Advice);
  if (editedDuringRun()) FPanel->MarkOutdated();
  if (FShow) FShow(true);
  emit Finished();
}

void TAdviceCommand::NetworkChanged() {
  noteEdit();
  FPanel->MarkOutdated();
}

void TAdviceCommand::ApplyProposal(std::size_t Proposal) {
  const std::vector<TProposal>& proposals = FPanel->ProposalList();
  if (Proposal >= proposals.size() || !FApply) return;
  // A copy: the edit tells the panel of the change while the call runs.
  const std::vector<TEdit> edits = proposals[Proposal].Edits;
  if (const std::optional<QString> why = FApply(edits)) {
    FPrompts.ShowError(FEditor, "This change cannot be made: " + *why);
    return;
  }
  // Saving the network ends its undo history, and the note stays on view until the next change.
  FPanel->ShowNote(QString("Change %1 made; until the network is saved, Edit > Undo takes it back.").arg(Proposal + 1));
}

void TAdviceCommand::fail(const QString& Message) {
  FPanel->ShowMessage(Message);
  if (FShow) FShow(false);
  FPrompts.ShowError(FEditor, Message);
}

void TAdviceCommand::Cancel() {
  if (!Running()) return;
  // The job kills its worker processes and ends; what it still sends is dropped.
  FSearch.Cancel();
  end();
  if (FPanel->HasAdvice()) {
    FPanel->ShowNote("The search was cancelled; below, the last advice.");
    if (editedDuringRun()) FPanel->MarkOutdated();
  } else {
    FPanel->ShowMessage("The search was cancelled.");
  }
  emit Finished();
}

}  // namespace busweave

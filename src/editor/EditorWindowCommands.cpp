// The editor's commands on the network as a whole: the bus check after every change and its
// findings, the network dialog, simulation, analysis, and the advice with the edits it proposes.

#include <QString>
#include <QTimer>
#include <memory>

#include "advice/AdviceSearch.h"
#include "editor/CircuitExportCommand.h"
#include "editor/EditorWindow.h"
#include "editor/FindingsPanel.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "simview/AdviceCommand.h"
#include "simview/AnalysisCommand.h"
#include "simview/SimulateCommand.h"

namespace busweave {

void TSubForm::RecheckBus() {
  TCheckSettings settings;
  settings.BitRate = FFindingsPanel->BitRate();
  // The highlight of a finding ends with the change that follows it.
  if (FMarksSet) {
    bool unmarked = false;
    for (int i = 0; i < FNodes->Count(); ++i) {
      TMyClasses* element = FNodes->Objects(i);
      unmarked = unmarked || element->FMarked != 0;
      element->FMarked = 0;
    }
    FMarksSet = false;
    if (unmarked) drawingChanged();
  }
  if (FNodes->Count() < FBackgroundCheckFrom) {
    FCheckDelay->stop();
    FCheck.Cancel();
    showFindings(CheckBus(*FNodes, settings));
    return;
  }
  // The copy of a large network for the check is made once a burst of edits has ended, after the
  // edit has been painted; a result still to come for an earlier state is dropped meanwhile.
  FCheck.Cancel();
  FCheckSettings = settings;
  FCheckDelay->start();
}

void TSubForm::startBackgroundCheck() {
  std::shared_ptr<const TCanNodes> snapshot = NetworkSnapshot();
  FCheck.Run([snapshot, settings = FCheckSettings](const TJobRun&) { return CheckBus(*snapshot, settings); },
             [this](std::vector<TFinding> Findings) { showFindings(std::move(Findings)); });
}

bool TSubForm::CheckPending() const { return FCheckDelay->isActive() || FCheck.Busy(); }

void TSubForm::showFindings(std::vector<TFinding> Findings) {
  FFindingsPanel->ShowFindings(std::move(Findings));
  if (FHost) FHost->ShowFindings(*this, false);
}

void TSubForm::CheckBus1Click() {
  RecheckBus();
  if (FHost) FHost->ShowFindings(*this, true);
}

void TSubForm::selectFinding(const TFinding* Finding) {
  for (int i = 0; i < FNodes->Count(); ++i) FNodes->Objects(i)->FMarked = 0;
  FMarksSet = Finding != nullptr;
  if (Finding) {
    std::optional<TPoint> first;
    for (const TPoint& p : Finding->Nodes)
      if (TNode* node = FNodes->NodeAt(p)) {
        node->FMarked = 1;
        if (!first) first = p;
      }
    for (const std::string& key : Finding->Wires) {
      int index = 0;
      if (TTrmLine* wire = FNodes->Find(key, index) ? FNodes->WireAtIndex(index) : nullptr) {
        wire->FMarked = 1;
        if (!first)
          first = TPoint{wire->FStart.X + (wire->FEnd.X - wire->FStart.X) / 2,
                         wire->FStart.Y + (wire->FEnd.Y - wire->FStart.Y) / 2};
      }
    }
    // Bring the first element to the middle of the editor.
    if (first) scrollToMiddle({first->X, FExtent.Y - first->Y});
  }
  drawingChanged();
  FPaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
}

void TSubForm::Network1Click() {
  if (!FHost) return;
  Network(
      this, *FNodes, [this] { repaintNumberedNames(); }, FHost->Prompts());
}

// Generating a circuit numbers the node names ("[3] ECU2"): the drawing shows the new names, but
// the bus is the same, so an analysis or advice on view stays current.
void TSubForm::repaintNumberedNames() {
  drawingChanged();
  FPaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
  RecheckBus();
}

void TSubForm::Simulate1Click() {
  if (!FHost) return;
  if (!FSimulation)
    FSimulation = new TSimulateCommand(this, *FNodes, FHost->Prompts(), [this] { repaintNumberedNames(); });
  FSimulation->Run();
}

void TSubForm::AnalyzeBus1Click() {
  if (!FHost) return;
  if (!FAnalysis) {
    const auto mark = [this](const std::vector<TPoint>& Nodes) {
      TFinding pair;
      pair.Nodes = Nodes;
      selectFinding(&pair);
    };
    const auto show = [this](bool Raise) {
      if (FHost) FHost->ShowAnalysis(*this, Raise);
    };
    FAnalysis = new TAnalysisCommand(
        this, *FNodes, FHost->Prompts(), [this] { repaintNumberedNames(); }, mark, show);
  }
  FAnalysis->Run();
}

TAnalysisPanel* TSubForm::AnalysisPanel() const { return FAnalysis ? FAnalysis->Panel() : nullptr; }

void TSubForm::Advise1Click() {
  if (!FHost) return;
  if (!FAdvice) {
    const auto apply = [this](const std::vector<TEdit>& Edits) { return ApplyEdits(Edits); };
    const auto show = [this](bool Raise) {
      if (FHost) FHost->ShowAdvice(*this, Raise);
    };
    FAdvice = new TAdviceCommand(this, *FNodes, FHost->Prompts(), apply, show);
  }
  FAdvice->Run();
}

TAdvicePanel* TSubForm::AdvicePanel() const { return FAdvice ? FAdvice->Panel() : nullptr; }

std::optional<QString> TSubForm::ApplyEdits(const std::vector<TEdit>& Edits) {
  for (const TEdit& edit : Edits)
    if (const std::optional<QString> why = editOutOfDate(edit)) return why;
  // A value that does not fit its field is refused before anything changes.
  try {
    busweave::ApplyEdits(*FNodes->Snapshot(), Edits);
  } catch (const std::exception& error) {
    return QString::fromStdString(error.what());
  }
  stampAction();
  std::vector<TReach> changed;
  for (const TEdit& edit : Edits) {
    const int index = FNodes->IndexOf(edit.Key);
    changed.push_back(reachOf(*FNodes->Objects(index)));
    if (const TNode* node = FNodes->NodeAtIndex(index))
      FNodes->BackupNode(node);
    else
      FNodes->BackupWire(FNodes->WireAtIndex(index));
  }
  busweave::ApplyEdits(*FNodes, Edits);
  TFinding applied;
  for (const TEdit& edit : Edits) {
    const int index = FNodes->IndexOf(edit.Key);
    changed.push_back(reachOf(*FNodes->Objects(index)));
    if (const TNode* node = FNodes->NodeAtIndex(index))
      applied.Nodes.push_back(node->FPos);
    else
      applied.Wires.push_back(edit.Key);
  }
  repaintChanged(changed);
  // The changed elements are marked, and the first brought into view, as a picked finding's are;
  // the next change ends the mark.
  selectFinding(&applied);
  UpdateEditMenu();
  return std::nullopt;
}

std::optional<QString> TSubForm::editOutOfDate(const TEdit& Edit) const {
  const int index = FNodes->IndexOf(Edit.Key);
  const auto nodeName = [this](TPoint P) {
    const TNode* node = FNodes->NodeAt(P);
    return node ? QString::fromStdString(NameToUtf8(node->FName))
                : QString("the wire end at (%1, %2)").arg(P.X).arg(P.Y);
  };
  const TNode* node = index >= 0 ? FNodes->NodeAtIndex(index) : nullptr;
  const TTrmLine* wire = index >= 0 ? FNodes->WireAtIndex(index) : nullptr;
  if (node && Edit.Field == "resistance") {
    if (node->FResistance == Edit.Was) return std::nullopt;
    return QString("the resistance of %1 is %2 ohms now, not the %3 ohms the change was found for.")
        .arg(nodeName(node->FPos))
        .arg(node->FResistance)
        .arg(Edit.Was);
  }
  if (wire && Edit.Field == "length") {
    if (wire->FLength == Edit.Was) return std::nullopt;
    return QString("the wire from %1 to %2 is %3 mm long now, not the %4 mm the change was found for.")
        .arg(nodeName(wire->FStart), nodeName(wire->FEnd))
        .arg(wire->FLength)
        .arg(Edit.Was);
  }
  return QString("the network no longer has the %1 %2 the change edits; it was moved or deleted since the search.")
      .arg(Edit.Field == "length" ? "wire" : "node", QString::fromStdString(Edit.Key));
}

}  // namespace busweave

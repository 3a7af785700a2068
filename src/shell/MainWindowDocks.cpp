#include <QDockWidget>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStackedWidget>

#include "editor/EditorWindow.h"
#include "editor/FindingsPanel.h"
#include "frame/DocumentFrame.h"
#include "shell/DocumentDock.h"
#include "shell/MainWindow.h"
#include "simview/AnalysisPanel.h"

// The docks of the main window, each showing the current document's panel of its kind: the
// bus check's findings and the bus analysis.

namespace busweave {
namespace {

// A dock at the bottom of Window that shows one of a stack of panels, one per document.
QDockWidget* addStackDock(QMainWindow& Window, const QString& Title, const QString& Name, QStackedWidget*& Stack) {
  auto* dock = new QDockWidget(Title, &Window);
  dock->setObjectName(Name);
  Stack = new QStackedWidget(dock);
  dock->setWidget(Stack);
  Window.addDockWidget(Qt::BottomDockWidgetArea, dock);
  dock->hide();
  return dock;
}

}  // namespace

// Every dock is made here, tabbed together at the bottom; each is hidden until a document shows
// its panel there.
void TMDIMainForm::buildDocks() {
  FindingsDock = addStackDock(*this, "Bus check", "FindingsDock", FFindingsStack);
  AnalysisDock = addStackDock(*this, "Bus analysis", "AnalysisDock", FAnalysisStack);
  auto* notAnalysed = new QLabel("This document has not been analysed yet: Edit > Analyze bus (Shift+F9).");
  notAnalysed->setAlignment(Qt::AlignCenter);
  FAnalysisStack->addWidget(notAnalysed);
  tabifyDockWidget(FindingsDock, AnalysisDock);
  AdviceDock = MakeAdviceDock(
      [this]() -> TSubForm* {
        const TMDIChild* document = currentDocument();
        return document ? document->Editor() : nullptr;
      },
      this);
  addDockWidget(Qt::BottomDockWidgetArea, AdviceDock);
  tabifyDockWidget(AnalysisDock, AdviceDock);
  AdviceDock->hide();
  // A window losing the focus activates none while documents stay open: that changes nothing.
  connect(MdiArea, &QMdiArea::subWindowActivated, AdviceDock, [this](QMdiSubWindow* Window) {
    if (!FDestroying && (Window || MdiArea->subWindowList().isEmpty())) AdviceDock->Follow();
  });
}

void TMDIMainForm::ShowFindings(TSubForm& Editor, bool Raise) {
  if (FDestroying) return;
  TFindingsPanel* panel = Editor.FindingsPanel();
  // Only the active document's findings show; another document's check only updates its list.
  if (&Editor != ActiveEditor() && !Raise && FFindingsStack->currentWidget() != panel) return;
  if (FFindingsStack->indexOf(panel) < 0) FFindingsStack->addWidget(panel);
  FFindingsStack->setCurrentWidget(panel);
  FindingsDock->setWindowTitle("Bus check - " + FileNamePart(Editor.Caption()));
  CheckSummary->setText(panel->Summary());
  if (Raise) {
    FindingsDock->show();
    FindingsDock->raise();
  }
}

void TMDIMainForm::ShowAnalysis(TSubForm& Editor, bool Raise) {
  if (FDestroying) return;
  QWidget* panel = Editor.AnalysisPanel();
  if (!panel) return;
  if (FAnalysisStack->indexOf(panel) < 0) FAnalysisStack->addWidget(panel);
  // Another document's analysis ending only updates its panel, shown when it becomes current.
  const TMDIChild* document = currentDocument();
  if (!document || document->Editor() != &Editor) return;
  FAnalysisStack->setCurrentWidget(panel);
  AnalysisDock->setWindowTitle("Bus analysis - " + FileNamePart(Editor.Caption()));
  AnalysisDock->show();
  if (Raise) AnalysisDock->raise();
}

void TMDIMainForm::showCurrentDocks() {
  const TMDIChild* document = currentDocument();
  TSubForm* editor = document ? document->Editor() : nullptr;
  // The analysis dock follows the current document alike; one not analysed shows how to.
  QWidget* analysis = editor ? editor->AnalysisPanel() : nullptr;
  if (analysis && FAnalysisStack->indexOf(analysis) >= 0) {
    FAnalysisStack->setCurrentWidget(analysis);
    AnalysisDock->setWindowTitle("Bus analysis - " + FileNamePart(editor->Caption()));
  } else {
    FAnalysisStack->setCurrentIndex(0);
    AnalysisDock->setWindowTitle("Bus analysis");
    if (Documents().isEmpty()) AnalysisDock->hide();
  }
  TFindingsPanel* panel = editor ? editor->FindingsPanel() : nullptr;
  if (panel && FFindingsStack->indexOf(panel) >= 0) {
    FFindingsStack->setCurrentWidget(panel);
    FindingsDock->setWindowTitle("Bus check - " + FileNamePart(editor->Caption()));
    CheckSummary->setText(panel->Summary());
    return;
  }
  CheckSummary->clear();
  if (Documents().isEmpty() || FFindingsStack->count() == 0) {
    FindingsDock->setWindowTitle("Bus check");
    FindingsDock->hide();
  }
}

}  // namespace busweave

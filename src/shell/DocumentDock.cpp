#include "shell/DocumentDock.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTimer>

#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "simview/AdvicePanel.h"

namespace busweave {

TDocumentDock::TDocumentDock(const QString& Title, const QString& Placeholder, std::function<TSubForm*()> Current,
                             std::function<QWidget*(const TSubForm&)> PanelOf, QWidget* Parent)
    : QDockWidget(Title, Parent), FTitle(Title), FCurrent(std::move(Current)), FPanelOf(std::move(PanelOf)) {
  FStack = new QStackedWidget(this);
  auto* placeholder = new QLabel(Placeholder, FStack);
  placeholder->setAlignment(Qt::AlignCenter);
  placeholder->setWordWrap(true);
  FStack->addWidget(placeholder);
  setWidget(FStack);
  // The stack would show another document's panel in place of one deleted. The document is being
  // closed then: which one is current is asked once it is gone.
  connect(FStack, &QStackedWidget::widgetRemoved, this, [this] {
    FStack->setCurrentIndex(0);
    setWindowTitle(FTitle);
    QTimer::singleShot(0, this, [this] { Follow(); });
  });
}

void TDocumentDock::Follow() {
  TSubForm* editor = FCurrent();
  QWidget* panel = editor ? FPanelOf(*editor) : nullptr;
  if (panel && FStack->indexOf(panel) >= 0) {
    FStack->setCurrentWidget(panel);
    setWindowTitle(FTitle + " - " + FileNamePart(editor->Caption()));
    return;
  }
  FStack->setCurrentIndex(0);
  setWindowTitle(FTitle);
  if (!editor) hide();
}

void TDocumentDock::ShowPanel(TSubForm& Editor, bool Raise) {
  QWidget* panel = FPanelOf(Editor);
  if (!panel) return;
  if (FStack->indexOf(panel) < 0) FStack->addWidget(panel);
  if (FCurrent() != &Editor) return;
  Follow();
  show();
  if (Raise) raise();
}

TDocumentDock* MakeAdviceDock(std::function<TSubForm*()> Current, QWidget* Parent) {
  auto* dock = new TDocumentDock(
      "How to make it work",
      "Edit > How to make it work searches the smallest changes that make this document's bus work.",
      std::move(Current), [](const TSubForm& Editor) -> QWidget* { return Editor.AdvicePanel(); }, Parent);
  dock->setObjectName("AdviceDock");
  return dock;
}

}  // namespace busweave

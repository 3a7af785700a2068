#pragma once

// A dock of the main window that shows one panel per document: the current document's, titled
// after its file, or a placeholder for a document that has none yet. The documents' commands own
// the panels; a panel deleted with its document leaves the dock by itself.

#include <QDockWidget>
#include <functional>

class QStackedWidget;

namespace busweave {

class TSubForm;

class TDocumentDock : public QDockWidget {
  Q_OBJECT

 public:
  // Current is the current document's editor (none without documents); PanelOf an editor's panel
  // for this dock, none before its command was used.
  TDocumentDock(const QString& Title, const QString& Placeholder, std::function<TSubForm*()> Current,
                std::function<QWidget*(const TSubForm&)> PanelOf, QWidget* Parent);

  // Shows the current document's panel, or the placeholder; without documents the dock hides.
  void Follow();
  // An editor's panel has news: it joins the dock, and shows (in front when Raise) when it is the
  // current document's; another document's panel shows once that document becomes current.
  void ShowPanel(TSubForm& Editor, bool Raise);

 private:
  QString FTitle;
  QStackedWidget* FStack;
  std::function<TSubForm*()> FCurrent;
  std::function<QWidget*(const TSubForm&)> FPanelOf;
};

// The "How to make it work" dock of the editors' advice panels.
TDocumentDock* MakeAdviceDock(std::function<TSubForm*()> Current, QWidget* Parent);

}  // namespace busweave

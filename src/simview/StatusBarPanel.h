#pragma once

// The progress panel a background command shows in the status bar of the main window that
// holds its editor, and takes back when it is done.

#include <QMainWindow>
#include <QStatusBar>
#include <QWidget>

namespace busweave {

inline void ShowInStatusBar(QWidget* Panel, QWidget* Editor, bool Visible) {
  if (!Panel) return;
  auto* main = qobject_cast<QMainWindow*>(Editor->window());
  if (Visible) {
    if (main && Panel->parent() != main->statusBar()) main->statusBar()->addWidget(Panel);
    Panel->show();
  } else {
    if (main && Panel->parent() == main->statusBar()) {
      main->statusBar()->removeWidget(Panel);
      Panel->setParent(nullptr);
    }
    Panel->hide();
  }
}

}  // namespace busweave

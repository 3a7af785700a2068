#pragma once

// The progress panel a background command shows in the status bar of the main window that
// holds its editor, and takes back when it is done.

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <vector>

namespace busweave {

// The panel's parts: what goes on, how far, and the button that stops it. The panel has no
// parent until it is shown; its owner deletes it.
struct TProgressPanel {
  QWidget* Panel;
  QLabel* Label;
  QProgressBar* Bar;
  QPushButton* Cancel;
};

inline TProgressPanel MakeProgressPanel(const QString& What, const QString& CancelTip, int BarWidth) {
  auto* panel = new QWidget;
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  TProgressPanel parts{panel, new QLabel(What, panel), new QProgressBar(panel), new QPushButton("Cancel", panel)};
  parts.Bar->setMinimumWidth(110);
  parts.Bar->setMaximumWidth(BarWidth);
  parts.Cancel->setToolTip(CancelTip);
  parts.Cancel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  parts.Label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  layout->addWidget(parts.Label);
  layout->addWidget(parts.Bar);
  layout->addWidget(parts.Cancel);
  panel->hide();
  return parts;
}

inline void ShowInStatusBar(QWidget* Panel, QWidget* Editor, bool Visible) {
  if (!Panel) return;
  auto* main = qobject_cast<QMainWindow*>(Editor->window());
  if (Visible) {
    if (main && Panel->parent() != main->statusBar()) main->statusBar()->addWidget(Panel);
    Panel->show();
  } else {
    if (main && Panel->parent() == main->statusBar()) {
      // Qt 6.4's removeWidget hides the widget that follows the one removed (the permanent check
      // count, say): whatever was shown beside the panel is shown again.
      std::vector<QWidget*> shown;
      for (QWidget* widget : main->statusBar()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (widget != Panel && !widget->isHidden()) shown.push_back(widget);
      main->statusBar()->removeWidget(Panel);
      Panel->setParent(nullptr);
      for (QWidget* widget : shown) widget->show();
    }
    Panel->hide();
  }
}

}  // namespace busweave

#include "simview/BackgroundCommand.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <vector>

namespace busweave {

TBackgroundCommand::TBackgroundCommand(QWidget* Editor, TPrompts& Prompts, const QString& What,
                                       const QString& CancelTip, int BarWidth)
    : QObject(Editor), FEditor(Editor), FPrompts(Prompts) {
  auto* panel = new QWidget;
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  StatusPanel = panel;
  ProgressLabel = new QLabel(What, panel);
  ProgressBar = new QProgressBar(panel);
  CancelButton = new QPushButton("Cancel", panel);
  ProgressBar->setMinimumWidth(110);
  ProgressBar->setMaximumWidth(BarWidth);
  CancelButton->setToolTip(CancelTip);
  CancelButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  ProgressLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  layout->addWidget(ProgressLabel);
  layout->addWidget(ProgressBar);
  layout->addWidget(CancelButton);
  panel->hide();
  connect(CancelButton, &QPushButton::clicked, this, [this] { Cancel(); });
}

TBackgroundCommand::~TBackgroundCommand() {
  // The status bar may have deleted the panel already, when the main window went first.
  delete StatusPanel.data();
}

void TBackgroundCommand::begin() {
  FRunning = true;
  FEditedDuringRun = false;
  showBusy(QString());
  showPanel(true);
}

void TBackgroundCommand::end() {
  FRunning = false;
  showPanel(false);
}

void TBackgroundCommand::showCount(std::size_t Done, std::size_t Total, const QString& Format) {
  ProgressBar->setRange(0, static_cast<int>(Total));
  ProgressBar->setValue(static_cast<int>(Done));
  ProgressBar->setFormat(Format);
}

void TBackgroundCommand::showBusy(const QString& Format) {
  ProgressBar->setRange(0, 0);
  ProgressBar->setValue(0);
  ProgressBar->setFormat(Format);
}

void TBackgroundCommand::noteEdit() {
  if (FRunning) FEditedDuringRun = true;
}

QString TBackgroundCommand::failure(const QString& Prefix, const QString& Why) const {
  return Prefix + Why + (Why.endsWith('.') ? "" : ".");
}

void TBackgroundCommand::showPanel(bool Visible) {
  QWidget* panel = StatusPanel;
  if (!panel) return;
  auto* main = qobject_cast<QMainWindow*>(FEditor->window());
  if (Visible) {
    if (main && panel->parent() != main->statusBar()) main->statusBar()->addWidget(panel);
    panel->show();
    return;
  }
  if (main && panel->parent() == main->statusBar()) {
    // Qt 6.4's removeWidget hides the widget that follows the one removed (the permanent check
    // count, say): whatever was shown beside the panel is shown again.
    std::vector<QWidget*> shown;
    for (QWidget* widget : main->statusBar()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (widget != panel && !widget->isHidden()) shown.push_back(widget);
    main->statusBar()->removeWidget(panel);
    panel->setParent(nullptr);
    for (QWidget* widget : shown) widget->show();
  }
  panel->hide();
}

}  // namespace busweave

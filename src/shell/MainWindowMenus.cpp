#include <QAction>
#include <QDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolButton>

#include "about/AboutBox.h"
#include "editor/EditorWindow.h"
#include "gui/Icons.h"
#include "gui/Prompts.h"
#include "shell/MainWindow.h"

// The main window's menus, tool panel and status bar, and the commands of the View, Window and
// Help menus.

namespace busweave {
namespace {

QToolButton* makeButton(QWidget* Parent, const char* Name, const QIcon& Icon, const QString& Hint, QRect Geometry) {
  auto* button = new QToolButton(Parent);
  button->setObjectName(Name);
  button->setIcon(Icon);
  button->setIconSize(Geometry.size() - QSize(6, 6));
  button->setAutoRaise(true);
  // The text before '|' is the tooltip; the rest would be the long hint.
  button->setToolTip(Hint.section('|', 0, 0));
  button->setGeometry(Geometry);
  return button;
}

QAction* addItem(QMenu* Menu, const QString& Caption, const QKeySequence& Shortcut, const QString& Hint) {
  QAction* action = Menu->addAction(Caption);
  if (!Shortcut.isEmpty()) action->setShortcut(Shortcut);
  if (!Hint.isEmpty()) action->setStatusTip(Hint);
  return action;
}

}  // namespace

void TMDIMainForm::buildMenus() {
  File1 = menuBar()->addMenu("&File");
  FileNewItem = addItem(File1, "&New", {}, "Create new file");
  FileOpenItem = addItem(File1, "&Open", QKeySequence(Qt::CTRL | Qt::Key_O), "Open exisitng file");
  FileCloseItem = addItem(File1, "&Close", {}, "Close current file");
  FileSaveItem = addItem(File1, "&Save", QKeySequence(Qt::CTRL | Qt::Key_S), "Save current file");
  FileSaveAsItem = addItem(File1, "Save file as ...", QKeySequence(Qt::CTRL | Qt::Key_A), "Save current file as ...");
  FileRecentMenu = File1->addMenu("&Recent");
  FileRecentMenu->setObjectName("FileRecentMenu");
  connect(FileRecentMenu, &QMenu::aboutToShow, this, &TMDIMainForm::rebuildRecentMenu);
  File1->addSeparator();
  FilePrintItem = addItem(File1, "&Print ...", QKeySequence(Qt::CTRL | Qt::Key_P), "Print current file");
  FilePrintPreviewItem = addItem(File1, "Print pre&view ...", {}, "Show the pages of current file");
  connect(FilePrintItem, &QAction::triggered, this, &TMDIMainForm::FilePrintItemClick);
  connect(FilePrintPreviewItem, &QAction::triggered, this, &TMDIMainForm::FilePrintPreviewItemClick);
  File1->addSeparator();
  FileExitItem = addItem(File1, "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), "Exit applcation");

  View1 = menuBar()->addMenu("&View");
  ViewGridItem = addItem(View1, "&Grid", {}, "Show the grid");
  ViewGridItem->setCheckable(true);
  ViewFindItem = addItem(View1, "&Find node ...", QKeySequence(Qt::CTRL | Qt::Key_F), "Find a node by name");
  connect(ViewGridItem, &QAction::triggered, this, &TMDIMainForm::ViewGridItemClick);
  connect(ViewFindItem, &QAction::triggered, this, &TMDIMainForm::ViewFindItemClick);
  View1->addSeparator();
  ViewZoomInItem = addItem(View1, "Zoom &in", QKeySequence(Qt::CTRL | Qt::Key_Plus), "Zoom in about the pointer");
  ViewZoomInItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  ViewZoomOutItem = addItem(View1, "Zoom &out", QKeySequence(Qt::CTRL | Qt::Key_Minus), "Zoom out about the pointer");
  ViewActualSizeItem = addItem(View1, "&100 %", QKeySequence(Qt::CTRL | Qt::Key_0), "One pixel per unit");
  ViewFitItem = addItem(View1, "Fi&t", QKeySequence(Qt::CTRL | Qt::Key_9), "Show the whole network");
  for (auto [item, zoom] :
       {std::pair{ViewZoomInItem, &TSubForm::ZoomIn}, std::pair{ViewZoomOutItem, &TSubForm::ZoomOut},
        std::pair{ViewActualSizeItem, &TSubForm::ZoomActualSize}, std::pair{ViewFitItem, &TSubForm::ZoomFit}})
    connect(item, &QAction::triggered, this, [this, zoom = zoom] {
      if (TSubForm* editor = ActiveEditor()) (editor->*zoom)();
    });

  Window1 = menuBar()->addMenu("&Window");
  WindowCascadeItem = addItem(Window1, "&Cascade", {}, {});
  WindowTileItem = addItem(Window1, "&Tile", {}, {});
  WindowArrangeItem = addItem(Window1, "&Arrange Icons", {}, {});
  WindowMinimizeItem = addItem(Window1, "&Minimize all", {}, {});
  connect(Window1, &QMenu::aboutToShow, this, &TMDIMainForm::rebuildWindowList);

  Help1 = menuBar()->addMenu("&Help");
  HelpAboutItem = addItem(Help1, "&About", QKeySequence(Qt::CTRL | Qt::Key_F1), {});
  Contents1 = addItem(Help1, "&Contents", QKeySequence(Qt::Key_F1), {});

  connect(FileNewItem, &QAction::triggered, this, &TMDIMainForm::FileNewItemClick);
  connect(FileOpenItem, &QAction::triggered, this, &TMDIMainForm::FileOpenItemClick);
  connect(FileCloseItem, &QAction::triggered, this, &TMDIMainForm::FileCloseItemClick);
  connect(FileSaveItem, &QAction::triggered, this, &TMDIMainForm::FileSaveItemClick);
  connect(FileSaveAsItem, &QAction::triggered, this, &TMDIMainForm::FileSaveAsItemClick);
  connect(FileExitItem, &QAction::triggered, this, &TMDIMainForm::FileExitItemClick);
  connect(WindowCascadeItem, &QAction::triggered, MdiArea, &QMdiArea::cascadeSubWindows);
  connect(WindowTileItem, &QAction::triggered, MdiArea, &QMdiArea::tileSubWindows);
  connect(WindowArrangeItem, &QAction::triggered, this, [this] {
    // Lines up the minimised windows along the bottom edge.
    int x = 0;
    for (QMdiSubWindow* window : MdiArea->subWindowList()) {
      if (!window->isMinimized()) continue;
      window->move(x, MdiArea->viewport()->height() - window->height());
      x += window->width();
    }
  });
  connect(WindowMinimizeItem, &QAction::triggered, this, [this] {
    const auto windows = MdiArea->subWindowList();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) (*it)->showMinimized();
  });
  connect(Contents1, &QAction::triggered, this, &TMDIMainForm::Contents1Click);
  connect(HelpAboutItem, &QAction::triggered, this, [this] { ShowAboutBox(this); });
}

void TMDIMainForm::buildSpeedPanel() {
  OpenBtn = makeButton(SpeedPanel, "OpenBtn", icons::Open(), "Open|", {0, 2, 25, 25});
  SaveBtn = makeButton(SpeedPanel, "SaveBtn", icons::Save(), "Save|", {24, 2, 25, 25});
  ExitBtn = makeButton(SpeedPanel, "ExitBtn", icons::Exit(), "Terminate", {24, 26, 25, 25});
  SpeedButtonPFNode = makeButton(SpeedPanel, "SpeedButtonPFNode", icons::ModifyNode(), "Modify node|", {8, 73, 35, 35});
  SpeedButtonPFWire =
      makeButton(SpeedPanel, "SpeedButtonPFWire", icons::ModifyWire(), "Modify wire|", {8, 109, 35, 35});
  SpeedButtonLtg = makeButton(SpeedPanel, "SpeedButtonLtg", icons::DrawWire(), "Draw new wire|", {8, 176, 35, 35});
  SpeedButtonZL =
      makeButton(SpeedPanel, "SpeedButtonZL", icons::PlaceTermination(), "Place termination|", {8, 212, 35, 35});
  SpeedButtonQuelle =
      makeButton(SpeedPanel, "SpeedButtonQuelle", icons::PlaceDriver(), "Place CAN driver|", {8, 248, 35, 35});
  SpeedButtonMove = makeButton(SpeedPanel, "SpeedButtonMove", icons::MoveNode(), "Move node|", {8, 284, 35, 35});
  SaveBtn->setEnabled(false);
  connect(OpenBtn, &QToolButton::clicked, this, &TMDIMainForm::FileOpenItemClick);
  connect(SaveBtn, &QToolButton::clicked, this, &TMDIMainForm::FileSaveItemClick);
  connect(ExitBtn, &QToolButton::clicked, this, &TMDIMainForm::FileExitItemClick);

  for (const auto& [button, mode] : modeButtons()) {
    button->setCheckable(true);
    button->setVisible(false);
    connect(button, &QToolButton::clicked, this,
            [this, button = button, mode = mode] { modeButtonClicked(button, mode); });
  }
}

void TMDIMainForm::buildStatusBar() {
  const std::array<int, 4> widths = {48, 60, 60, 150};
  for (std::size_t i = 0; i < widths.size(); ++i) {
    FPanels[i] = new QLabel(statusBar());
    FPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
    FPanels[i]->setFixedWidth(widths[i]);
    FPanels[i]->setFrameShape(QFrame::Panel);
    FPanels[i]->setFrameShadow(QFrame::Sunken);
    statusBar()->addWidget(FPanels[i]);
  }
  FPanels[3]->setMinimumWidth(150);
  FPanels[3]->setMaximumWidth(QWIDGETSIZE_MAX);
  CheckSummary = new QLabel(statusBar());
  CheckSummary->setObjectName("CheckSummary");
  statusBar()->addPermanentWidget(CheckSummary);
}

void TMDIMainForm::UpdateMenuItems() {
  if (FDestroying) return;
  const bool any = !MdiArea->subWindowList().isEmpty();
  for (QAction* action : {FileCloseItem, FileSaveItem, FileSaveAsItem, FilePrintItem, FilePrintPreviewItem,
                          WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem})
    action->setEnabled(any);
  SaveBtn->setEnabled(any);
  const TSubForm* editor = FActiveEditor;
  ViewGridItem->setEnabled(editor != nullptr);
  ViewFindItem->setEnabled(editor != nullptr);
  for (QAction* item : {ViewZoomInItem, ViewZoomOutItem, ViewActualSizeItem, ViewFitItem})
    item->setEnabled(editor != nullptr);
  ViewGridItem->setChecked(editor && editor->ShowGrid());
}

std::array<std::pair<QToolButton*, TMode>, 6> TMDIMainForm::modeButtons() const {
  return {{{SpeedButtonPFNode, mGetNode},
           {SpeedButtonPFWire, mGetWire},
           {SpeedButtonLtg, mDrawTRMLine},
           {SpeedButtonZL, mPlaceZL},
           {SpeedButtonQuelle, mPlaceSrc},
           {SpeedButtonMove, mMoveNode}}};
}

void TMDIMainForm::ShowModeButtons(bool Visible, TMode Mode) {
  for (const auto& [button, mode] : modeButtons()) {
    button->setVisible(Visible);
    if (Visible) button->setChecked(mode == Mode);
  }
}

void TMDIMainForm::modeButtonClicked(QToolButton* Button, TMode Mode) {
  // One group in which all buttons may be up: pressing one releases the others.
  if (Button->isChecked())
    for (const auto& [other, mode] : modeButtons())
      if (other != Button) other->setChecked(false);
  if (TSubForm* editor = ActiveEditor()) {
    editor->SetFMode(Button->isChecked() ? Mode : mNone);
    showModePointer(*editor);
  }
}

void TMDIMainForm::showModePointer(TSubForm& Editor) {
  const TMode mode = Editor.FMode();
  if (mode == mDrawTRMLine || mode == mPlaceZL || mode == mPlaceSrc)
    Editor.PaintBox1()->setCursor(Qt::CrossCursor);
  else if (mode == mMoveNode)
    Editor.PaintBox1()->setCursor(Qt::SizeAllCursor);
  else
    Editor.PaintBox1()->unsetCursor();
}

void TMDIMainForm::ShowPosition(const QString& X, const QString& Y) {
  FPanels[1]->setText(X);
  FPanels[2]->setText(Y);
}

void TMDIMainForm::ShowMessage(const QString& Text) { FPanels[3]->setText(Text); }

void TMDIMainForm::rebuildWindowList() {
  const QList<QAction*> fixed = {WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem};
  for (QAction* action : Window1->actions())
    if (!fixed.contains(action)) {
      Window1->removeAction(action);
      action->deleteLater();
    }
  const auto windows = MdiArea->subWindowList(QMdiArea::CreationOrder);
  if (windows.isEmpty()) return;
  Window1->addSeparator();
  int number = 1;
  for (QMdiSubWindow* window : windows) {
    QAction* action = Window1->addAction(QString("&%1 %2").arg(number++).arg(window->windowTitle()));
    action->setCheckable(true);
    action->setChecked(window == MdiArea->currentSubWindow());
    QPointer<QMdiSubWindow> target(window);
    connect(action, &QAction::triggered, this, [this, target] {
      if (target) MdiArea->setActiveSubWindow(target);
    });
  }
}

void TMDIMainForm::ViewGridItemClick(bool Show) {
  if (TSubForm* editor = ActiveEditor()) editor->SetShowGrid(Show);
}

void TMDIMainForm::ViewFindItemClick() {
  TSubForm* editor = ActiveEditor();
  if (!editor) return;
  const auto part = FPrompts.AskText(this, "Find node", "Name or part of a name:");
  if (!part || part->isEmpty()) return;
  if (const auto found = editor->FindNode(*part)) {
    FPanels[3]->setText("Node " + *found + " found");
    return;
  }
  FPanels[3]->setText("No node " + *part);
  FPrompts.Inform(this, "Find node", "No node's name contains \"" + *part + "\".");
}

void TMDIMainForm::Contents1Click() {
  if (!FHelpViewer) {
    auto* viewer = new QDialog(this);
    viewer->setWindowTitle("Busweave-V2 Help");
    viewer->resize(720, 640);
    auto* browser = new QTextBrowser(viewer);
    browser->setObjectName("HelpBrowser");
    browser->setOpenExternalLinks(true);
    QFile file(":/help/Busweave.html");
    if (file.open(QIODevice::ReadOnly)) browser->setHtml(QString::fromUtf8(file.readAll()));
    auto* layout = new QHBoxLayout(viewer);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    FHelpViewer = viewer;
  }
  FHelpViewer->show();
  FHelpViewer->raise();
  FHelpViewer->activateWindow();
}

}  // namespace busweave

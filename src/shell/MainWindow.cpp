#include "shell/MainWindow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <iostream>
#include <utility>

#include "about/AboutBox.h"
#include "editor/DocumentOptionsDialog.h"
#include "editor/EditorWindow.h"
#include "editor/FindingsPanel.h"
#include "frame/DocumentFrame.h"
#include "gui/Icons.h"
#include "gui/IntegerText.h"
#include "gui/Prompts.h"
#include "settings/SettingsFile.h"
#include "simview/AnalysisPanel.h"

// The help text is compiled into this static library, where nothing else refers to it; the
// linker keeps it only when the program asks for it by name.
static void initHelpResource() { Q_INIT_RESOURCE(help); }

namespace busweave {
namespace {

// Folders of installed software: a program there keeps no settings beside itself, even where
// it could write (as root). The bin folder of any prefix counts too (an install for one user in
// ~/.local).
bool isInstalledSoftwareFolder(const QString& Folder) {
  for (const char* system : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt", "/etc", "/var",
                             "/snap", "/app", "/nix", "/gnu"})
    if (Folder == system || Folder.startsWith(QString(system) + "/")) return true;
  return Folder == "/" || QFileInfo(Folder).fileName() == "bin";
}

// The frame's share of a window: the outer window minus its client area.
QMargins frameMarginsOf(const QWidget& Window) {
  const QRect outer = Window.frameGeometry();
  const QRect inner = Window.geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

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

TMDIMainForm::TMDIMainForm(TPrompts& Prompts, QWidget* Parent) : QMainWindow(Parent), FPrompts(Prompts) {
  initHelpResource();
  setWindowIcon(icons::Application());
  FPlacement = QRect(340, 96, 613, 611);
  QFont font("MS Sans Serif");
  font.setPointSize(8);

  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  SpeedPanel = new QWidget(central);
  SpeedPanel->setObjectName("SpeedPanel");
  SpeedPanel->setFixedWidth(50);
  MdiArea = new QMdiArea(central);
  MdiArea->setObjectName("MdiArea");
  MdiArea->setBackground(QColor(0, 128, 128));
  MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  layout->addWidget(SpeedPanel);
  layout->addWidget(MdiArea, 1);
  setCentralWidget(central);

  buildMenus();
  buildSpeedPanel();
  buildStatusBar();

  FindingsDock = new QDockWidget("Bus check", this);
  FindingsDock->setObjectName("FindingsDock");
  FFindingsStack = new QStackedWidget(FindingsDock);
  FindingsDock->setWidget(FFindingsStack);
  addDockWidget(Qt::BottomDockWidgetArea, FindingsDock);
  FindingsDock->hide();
  AnalysisDock = new QDockWidget("Bus analysis", this);
  AnalysisDock->setObjectName("AnalysisDock");
  FAnalysisStack = new QStackedWidget(AnalysisDock);
  auto* notAnalysed = new QLabel("This document has not been analysed yet: Edit > Analyze bus (Shift+F9).");
  notAnalysed->setAlignment(Qt::AlignCenter);
  FAnalysisStack->addWidget(notAnalysed);
  AnalysisDock->setWidget(FAnalysisStack);
  addDockWidget(Qt::BottomDockWidgetArea, AnalysisDock);
  tabifyDockWidget(FindingsDock, AnalysisDock);
  AnalysisDock->hide();
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
  connect(MdiArea, &QMdiArea::subWindowActivated, this, &TMDIMainForm::subWindowActivated);
  UpdateMenuItems();
  ReadSettings();
  readRecentFiles();
  readWindowState();
}

TMDIMainForm::~TMDIMainForm() {
  FDestroying = true;
  WriteSettings();
  writeRecentFiles();
  writeWindowState();
  disconnect(MdiArea, nullptr, this, nullptr);
  // The documents go first, while everything their last signals reach still exists.
  delete takeCentralWidget();
}

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

bool TMDIMainForm::event(QEvent* Event) {
  // The status bar keeps its four panels; menu hints do not replace them.
  if (Event->type() == QEvent::StatusTip) return true;
  const QEvent::Type type = Event->type();
  if (FPlacementPending && (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)) {
    if (type == QEvent::Show && isVisible()) {
      // Without a window manager no frame ever comes; the placement is final after a while.
      QTimer::singleShot(2000, this, [this] { placementSettled(); });
    }
    QTimer::singleShot(0, this, &TMDIMainForm::settlePlacement);
  }
  if (type == QEvent::WindowStateChange && !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)))
    QTimer::singleShot(0, this, &TMDIMainForm::restoredPlacement);
  return QMainWindow::event(Event);
}

void TMDIMainForm::applyPlacement() {
  // A window's position is that of its frame; its size is that of its client area.
  FPlacedMargins = frameMarginsOf(*this);
  move(FPlacement.topLeft());
  resize(FPlacement.size().shrunkBy(FPlacedMargins).expandedTo(QSize(1, 1)));
}

void TMDIMainForm::settlePlacement() {
  if (!FPlacementPending) return;
  // A maximised window's size is the screen's; it is final once the window manager framed it.
  if (isMaximized() && !frameMarginsOf(*this).isNull()) placementSettled();
  if (isMaximized() || isMinimized() || isFullScreen()) return;
  const QMargins frame = frameMarginsOf(*this);
  if (frame == FPlacedMargins) return;
  applyPlacement();
  if (!frame.isNull()) placementSettled();
}

void TMDIMainForm::restoredPlacement() {
  if (!isVisible() || isMaximized() || isMinimized() || isFullScreen()) return;
  // A window that opened maximised had no frame when its normal placement was applied; now that
  // it has one, the stored outer placement is applied again.
  const QMargins frame = frameMarginsOf(*this);
  if (!frame.isNull() && frame != FPlacedMargins) applyPlacement();
}

void TMDIMainForm::placementSettled() {
  if (!FPlacementPending) return;
  FPlacementPending = false;
  for (auto& action : std::exchange(FWhenPlaced, {})) action();
}

void TMDIMainForm::WhenPlaced(std::function<void()> Action) {
  if (FPlacementPending)
    FWhenPlaced.push_back(std::move(Action));
  else
    Action();
}

QRect TMDIMainForm::OuterPlacement() const {
  const bool normal = !(isMaximized() || isMinimized() || isFullScreen());
  if (normal) return geometry().marginsAdded(frameMarginsOf(*this));
  // The normal placement, with the frame it was given for (a maximised window's own frame may
  // differ, and one maximised before it was shown never had one).
  return normalGeometry().marginsAdded(FPlacedMargins);
}

QRect TMDIMainForm::FitPlacement(const TPlacement& Stored, const QList<QRect>& Available, QSize Minimum) {
  // Stored values may be anything a file holds: everything is computed in 64 bits.
  const auto overlap = [](std::int64_t Start, std::int64_t Length, std::int64_t AreaStart, std::int64_t AreaLength) {
    return std::max<std::int64_t>(0, std::min(Start + Length, AreaStart + AreaLength) - std::max(Start, AreaStart));
  };
  const std::int64_t width = std::max<std::int64_t>(Stored.Width, Minimum.width());
  const std::int64_t height = std::max<std::int64_t>(Stored.Height, Minimum.height());
  QRect area(0, 0, 32767, 32767);
  if (!Available.isEmpty()) area = Available.front();
  std::int64_t shown = 0;
  for (const QRect& candidate : Available) {
    const std::int64_t common = overlap(Stored.Left, width, candidate.x(), candidate.width()) *
                                overlap(Stored.Top, height, candidate.y(), candidate.height());
    if (common > shown) {
      shown = common;
      area = candidate;
    }
  }
  const auto fit = [](std::int64_t Value, std::int64_t Least, std::int64_t Most) {
    return static_cast<int>(std::clamp(Value, std::min(Least, Most), Most));
  };
  const int w = fit(width, Minimum.width(), area.width());
  const int h = fit(height, Minimum.height(), area.height());
  const int left = fit(Stored.Left, area.x(), std::int64_t{area.x()} + area.width() - w);
  const int top = fit(Stored.Top, area.y(), std::int64_t{area.y()} + area.height() - h);
  return {left, top, w, h};
}

TMDIChild* TMDIMainForm::frameOf(QMdiSubWindow* Window) const {
  return Window ? qobject_cast<TMDIChild*>(Window->widget()) : nullptr;
}

TSubForm* TMDIMainForm::editorOf(QMdiSubWindow* Window) const {
  return Window ? qobject_cast<TSubForm*>(Window->widget()) : nullptr;
}

QList<TMDIChild*> TMDIMainForm::Documents() const {
  QList<TMDIChild*> documents;
  for (QMdiSubWindow* window : MdiArea->subWindowList(QMdiArea::CreationOrder))
    if (TMDIChild* frame = frameOf(window); frame && frame->Editor()) documents << frame;
  return documents;
}

TMDIChild* TMDIMainForm::currentDocument() const {
  QMdiSubWindow* current = MdiArea->currentSubWindow();
  if (TMDIChild* frame = frameOf(current)) return frame;
  if (TSubForm* editor = editorOf(current))
    for (TMDIChild* frame : Documents())
      if (frame->Editor() == editor) return frame;
  return nullptr;
}

TSubForm* TMDIMainForm::ActiveEditor() const { return editorOf(MdiArea->currentSubWindow()); }

TMDIChild* TMDIMainForm::OpenDocument(const std::string& Path) {
  // A busy pointer while the file loads; it is gone before any report of a damaged file.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  TMDIChild* frame = nullptr;
  try {
    frame = TMDIChild::Open(MdiArea, this, Path, {200, 200});
  } catch (...) {
    QApplication::restoreOverrideCursor();
    throw;
  }
  QApplication::restoreOverrideCursor();
  const QString caption = FileNamePart(QString::fromLocal8Bit(Path));
  frame->Window()->setWindowTitle(caption + (frame->Editor()->ReadOnly() ? " (read-only)" : ""));
  const TLoadOutcome outcome = frame->Editor()->Nodes().LastLoadError().Outcome;
  if (outcome == TLoadOutcome::NotOpened)
    FPanels[3]->setText("File " + caption + " could not be opened");
  else if (outcome == TLoadOutcome::Damaged)
    FPanels[3]->setText("File " + caption + " could not be read completely");
  else
    FPanels[3]->setText("File " + caption + " open!");
  UpdateMenuItems();
  if (frame->Editor()->LoadFailed()) frame->Editor()->ReportLoadProblem();
  return frame;
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

void TMDIMainForm::subWindowActivated(QMdiSubWindow* Window) {
  if (FDestroying) return;
  // The main window losing focus deactivates its children too; that changes nothing here.
  if (!Window && !MdiArea->subWindowList().isEmpty()) return;
  TSubForm* editor = editorOf(Window);
  if (FActiveEditor && FActiveEditor != editor) {
    FActiveEditor->FormDeactivate();
    FActiveEditor = nullptr;
  }
  for (QAction* action : FMergedMenus) menuBar()->removeAction(action);
  FMergedMenus.clear();
  if (editor) {
    FActiveEditor = editor;
    FMergedMenus = editor->MergedMenus();
    connect(editor, &QObject::destroyed, this, [this, editor] {
      if (FDestroying) return;
      if (FActiveEditor == editor) FActiveEditor = nullptr;
      for (QAction* action : editor->MergedMenus()) FMergedMenus.removeAll(action);
      // A closed document's findings and count leave with it.
      showCurrentFindings();
    });
    editor->FormActivate();
  } else if (TMDIChild* frame = frameOf(Window)) {
    FMergedMenus = frame->MergedMenus();
  } else {
    ShowModeButtons(false, mNone);
  }
  showCurrentFindings();
  // A child's own menus stand between "&File" and "&View".
  menuBar()->insertActions(View1->menuAction(), FMergedMenus);
  UpdateMenuItems();
}

void TMDIMainForm::showCurrentFindings() {
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

void TMDIMainForm::FileNewItemClick() {
  const std::string path = "NONAME" + std::to_string(MdiArea->subWindowList().size() + 1) + ".BWN";
  OpenDocument(path);
}

void TMDIMainForm::FileOpenItemClick() {
  TOpenDialogRequest request;
  request.Title = "Open";
  request.Filter = "CAN network (*.bwn)";
  request.DefaultSuffix = "BWN";
  const auto chosen = FPrompts.OpenFileName(this, request);
  if (!chosen) return;
  OpenFile(*chosen);
}

void TMDIMainForm::OpenFile(const QString& Path) {
  const QString name = FileNamePart(Path);
  for (const TMDIChild* document : Documents()) {
    if (!document->Editor() || FileNamePart(document->Editor()->Caption()) != name) continue;
    FPrompts.Inform(this, "File open error", "File " + Path + " already open");
    FPanels[3]->setText("File " + Path + " already open!");
    return;
  }
  // A file that cannot be written back opens read-only: its editor sends Save to Save As.
  const QFileInfo info(Path);
  const bool existed = info.exists();
  const TMDIChild* document = OpenDocument(Path.toLocal8Bit().toStdString());
  // A file that could not be read is not one to come back to.
  if (existed && !document->Editor()->LoadFailed()) AddRecentFile(Path);
}

void TMDIMainForm::FileCloseItemClick() {
  if (TMDIChild* document = currentDocument()) document->CloseDocument();
}

void TMDIMainForm::FileSaveItemClick() {
  TMDIChild* document = currentDocument();
  if (!document || !document->Editor()) return;
  std::string name;
  document->Editor()->SaveCAN(name);
  // Saving starts the undo history afresh.
  document->Editor()->UpdateEditMenu();
  if (!name.empty()) FPanels[3]->setText("File " + QString::fromLocal8Bit(name) + " saved");
}

void TMDIMainForm::FileSaveAsItemClick() {
  TMDIChild* document = currentDocument();
  if (!document || !document->Editor()) return;
  std::string name;
  document->Editor()->SaveCANAs(this, name);
  document->Editor()->UpdateEditMenu();
  if (name.empty()) return;
  FPanels[3]->setText("File " + QString::fromLocal8Bit(name) + " saved");
}

void TMDIMainForm::FileSavedAs(const QString& Path) { AddRecentFile(Path); }

void TMDIMainForm::FileExitItemClick() { close(); }

void TMDIMainForm::FilePrintItemClick() {
  if (TMDIChild* document = currentDocument()) document->Print();
}

void TMDIMainForm::FilePrintPreviewItemClick() {
  if (TMDIChild* document = currentDocument()) document->PrintPreview();
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

void TMDIMainForm::AddRecentFile(const QString& Path) {
  const QString full = QFileInfo(Path).absoluteFilePath();
  // A name with a line break could not be kept in the settings file.
  if (full.contains('\n') || full.contains('\r')) return;
  FRecentFiles.removeAll(full);
  FRecentFiles.prepend(full);
  while (FRecentFiles.size() > MaxRecentFiles) FRecentFiles.removeLast();
}

void TMDIMainForm::rebuildRecentMenu() {
  FileRecentMenu->clear();
  if (FRecentFiles.isEmpty()) {
    FileRecentMenu->addAction("(none)")->setEnabled(false);
    return;
  }
  int number = 1;
  for (const QString& path : FRecentFiles) {
    QString shown = path;
    QAction* action = FileRecentMenu->addAction(QString("&%1 %2").arg(number++).arg(shown.replace("&", "&&")));
    connect(action, &QAction::triggered, this, [this, path] { openRecentFile(path); });
  }
}

void TMDIMainForm::openRecentFile(const QString& Path) {
  if (!QFileInfo(Path).isFile()) {
    FRecentFiles.removeAll(Path);
    FPrompts.Inform(this, "File open error", "File " + Path + " no longer exists; it is removed from the list.");
    return;
  }
  OpenFile(Path);
}

// The recent files have a section of their own, so that the placement's section keeps its keys.
static const char* const RecentSection = "Busweave-Recent";

void TMDIMainForm::readRecentFiles() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(RecentSection);
  FRecentFiles.clear();
  for (int i = 1; i <= MaxRecentFiles; ++i) {
    profile.SetKeyName("File" + std::to_string(i));
    profile.DefaultValue.clear();
    profile.Execute();
    const QString path = QString::fromLocal8Bit(profile.DataString).trimmed();
    if (!path.isEmpty() && !FRecentFiles.contains(path)) FRecentFiles << path;
  }
  FRecentFilesRead = FRecentFiles;
}

void TMDIMainForm::writeRecentFiles() {
  if (FSettingsUnreadable || FRecentFiles == FRecentFilesRead) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(RecentSection);
  // Keys beyond a list that shrank are emptied.
  const qsizetype keys = std::max(FRecentFiles.size(), FRecentFilesRead.size());
  for (int i = 1; i <= keys; ++i) {
    profile.SetKeyName("File" + std::to_string(i));
    profile.DataString = i <= FRecentFiles.size() ? FRecentFiles[i - 1].toLocal8Bit().toStdString() : std::string();
    if (profile.Execute()) continue;
    std::cerr << "busweave: the recent files were not saved: " << profile.Problem() << "\n";
    return;
  }
}

static const char* const WindowSection = "Busweave-Window";

void TMDIMainForm::readWindowState() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(WindowSection);
  profile.SetKeyName("Maximized");
  profile.DefaultValue = "0";
  profile.Execute();
  FMaximizedRead = StrictInteger(RemoveSpaces(profile.DataString)).value_or(0) == 1;
  // Shown later as it is set now: maximised, over the normal placement just applied.
  if (FMaximizedRead) setWindowState(windowState() | Qt::WindowMaximized);
}

void TMDIMainForm::writeWindowState() {
  const bool maximized = isMaximized();
  if (FSettingsUnreadable || maximized == FMaximizedRead) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(WindowSection);
  profile.SetKeyName("Maximized");
  profile.DataString = maximized ? "1" : "0";
  if (!profile.Execute()) std::cerr << "busweave: the window state was not saved: " << profile.Problem() << "\n";
}

void TMDIMainForm::closeEvent(QCloseEvent* Event) {
  // Every editor is asked first; one refusal keeps every document open.
  const auto documents = Documents();
  for (TMDIChild* document : documents) {
    bool canClose = true;
    document->Editor()->FormCloseQuery(canClose);
    if (!canClose) {
      Event->ignore();
      return;
    }
  }
  for (TMDIChild* document : documents) document->DestroyDocument();
  if (FHelpViewer) FHelpViewer->close();
  Event->accept();
}

QString TMDIMainForm::SettingsFilePath() {
  const QString chosen = qEnvironmentVariable("BUSWEAVE_INI");
  if (!chosen.isEmpty()) return chosen;
  const QFileInfo program(QCoreApplication::applicationFilePath());
  const QString name = program.completeBaseName() + ".INI";
  if (KeepsSettingsBeside(program.absolutePath())) return program.absolutePath() + "/" + name;
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(folder);
  return folder + "/" + name;
}

bool TMDIMainForm::KeepsSettingsBeside(const QString& ProgramFolder) {
  const QString folder = QFileInfo(ProgramFolder).canonicalFilePath();
  struct stat info {};
  if (folder.isEmpty() || ::stat(QFile::encodeName(folder).constData(), &info) != 0) return false;
  return info.st_uid == ::getuid() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0 &&
         !isInstalledSoftwareFolder(folder);
}

void TMDIMainForm::ReadSettings() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory("Busweave-V2");
  // A file that cannot be read gives the designed values and is left alone at exit, so that
  // nothing the user keeps in it is lost.
  const auto checkReadable = [this, &profile] {
    if (profile.Problem().empty() || FSettingsUnreadable) return;
    FSettingsUnreadable = true;
    std::cerr << "busweave: " << profile.Problem()
              << "\nbusweave: starting with the designed settings; the settings file is not written at exit\n";
  };
  const std::array<const char*, 4> keys = {"Left", "Top", "Width", "Height"};
  std::array<std::int64_t, 4> values = {FPlacement.x(), FPlacement.y(), FPlacement.width(), FPlacement.height()};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    profile.SetKeyName(keys[i]);
    profile.DefaultValue = std::to_string(values[i]);
    profile.Execute();
    checkReadable();
    // A value that is not a number keeps the designed one for that key only.
    if (const auto number = StrictInteger(RemoveSpaces(profile.DataString))) values[i] = *number;
  }
  QList<QRect> available;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary) available << primary->availableGeometry();
  for (QScreen* screen : QGuiApplication::screens())
    if (screen != primary) available << screen->availableGeometry();
  FPlacement = FitPlacement({values[0], values[1], values[2], values[3]}, available, QSize(200, 200));
  applyPlacement();

  profile.SetKeyName("IDirectory");
  profile.DefaultValue = QDir::currentPath().toLocal8Bit().toStdString();
  profile.Execute();
  checkReadable();
  const QString folder = QString::fromLocal8Bit(profile.DataString);
  if (QFileInfo(folder).isDir()) QDir::setCurrent(folder);
}

void TMDIMainForm::WriteSettings() {
  if (FSettingsUnreadable) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory("Busweave-V2");
  const QRect placement = OuterPlacement();
  const std::array<std::pair<const char*, std::string>, 5> values = {
      {{"Left", std::to_string(placement.x())},
       {"Top", std::to_string(placement.y())},
       {"Width", std::to_string(placement.width())},
       {"Height", std::to_string(placement.height())},
       {"IDirectory", QDir::currentPath().toLocal8Bit().toStdString()}}};
  for (const auto& [key, value] : values) {
    profile.SetKeyName(key);
    profile.DataString = value;
    if (profile.Execute()) continue;
    // The next keys would fail alike, or write over a file that could not be read.
    std::cerr << "busweave: the settings were not saved: " << profile.Problem() << "\n";
    return;
  }
}

void TMDIMainForm::EditOptions(TSubForm& Editor) { RunOptions(Editor, FPrompts); }

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

void SetApplicationTitle() {
  QApplication::setApplicationName("Busweave-V2");
  // No display name: the platform would append it to every window's title.
  // The desktop entry's name, so that docks and task bars link the windows to their launcher.
  QGuiApplication::setDesktopFileName("org.busweave.Busweave");
}

}  // namespace busweave

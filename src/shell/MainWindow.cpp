#include "shell/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>

#include "editor/DocumentOptionsDialog.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "gui/Icons.h"

// The help text is compiled into this static library, where nothing else refers to it; the
// linker keeps it only when the program asks for it by name.
static void initHelpResource() { Q_INIT_RESOURCE(help); }

namespace busweave {

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

  buildDocks();
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
      showCurrentDocks();
    });
    editor->FormActivate();
  } else if (TMDIChild* frame = frameOf(Window)) {
    FMergedMenus = frame->MergedMenus();
  } else {
    ShowModeButtons(false, mNone);
  }
  showCurrentDocks();
  // A child's own menus stand between "&File" and "&View".
  menuBar()->insertActions(View1->menuAction(), FMergedMenus);
  UpdateMenuItems();
}

void TMDIMainForm::EditOptions(TSubForm& Editor) { RunOptions(Editor, FPrompts); }

void SetApplicationTitle() {
  QApplication::setApplicationName("Busweave-V2");
  // No display name: the platform would append it to every window's title.
  // The desktop entry's name, so that docks and task bars link the windows to their launcher.
  QGuiApplication::setDesktopFileName("org.busweave.Busweave");
}

}  // namespace busweave

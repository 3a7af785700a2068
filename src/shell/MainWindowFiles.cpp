#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>

#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "gui/Prompts.h"
#include "shell/MainWindow.h"

// The file commands of the main window: new, open, close, save, print, and the recent files.

namespace busweave {

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

void TMDIMainForm::FileSavedAs(const QString& Path) {
  AddRecentFile(Path);
  // The docks' titles name the current document's file.
  showCurrentDocks();
  AdviceDock->Follow();
}

void TMDIMainForm::FileExitItemClick() { close(); }

void TMDIMainForm::FilePrintItemClick() {
  if (TMDIChild* document = currentDocument()) document->Print();
}

void TMDIMainForm::FilePrintPreviewItemClick() {
  if (TMDIChild* document = currentDocument()) document->PrintPreview();
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

}  // namespace busweave

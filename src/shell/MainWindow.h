#pragma once

// TMDIMainForm: the program's main window. It holds the documents' windows in a
// multiple-document area, the menus with the file, window and help commands, the tool panel
// with the file and mode buttons, and the status bar. It points at the active editor only;
// every document keeps its own network, mode and options.

#include <QMainWindow>
#include <array>
#include <string>

#include "editor/EditorHost.h"

class QDockWidget;
class QLabel;
class QStackedWidget;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolButton;

namespace busweave {

class TMDIChild;
class TPrompts;
class TSubForm;

class TMDIMainForm : public QMainWindow, public TEditorHost {
  Q_OBJECT

 public:
  explicit TMDIMainForm(TPrompts& Prompts, QWidget* Parent = nullptr);
  ~TMDIMainForm() override;

  QMdiArea* MdiArea;
  QMenu* File1;
  QAction* FileNewItem;
  QAction* FileOpenItem;
  QAction* FileCloseItem;
  QAction* FileSaveItem;
  QAction* FileSaveAsItem;
  QAction* FileExitItem;
  QMenu* Window1;
  QAction* WindowCascadeItem;
  QAction* WindowTileItem;
  QAction* WindowArrangeItem;
  QAction* WindowMinimizeItem;
  QMenu* Help1;
  QAction* HelpAboutItem;
  QAction* Contents1;
  QWidget* SpeedPanel;
  QToolButton* OpenBtn;
  QToolButton* SaveBtn;
  QToolButton* ExitBtn;
  QToolButton* SpeedButtonPFNode;
  QToolButton* SpeedButtonPFWire;
  QToolButton* SpeedButtonLtg;
  QToolButton* SpeedButtonZL;
  QToolButton* SpeedButtonQuelle;

  // Status bar panel 0 to 3.
  QLabel* StatusPanel(int Index) const { return FPanels.at(static_cast<std::size_t>(Index)); }

  // Opens a document window pair for Path (loading the file when it exists).
  TMDIChild* OpenDocument(const std::string& Path);
  void UpdateMenuItems();

  // The documents, oldest first.
  QList<TMDIChild*> Documents() const;
  // The editor of the active document window pair, if any.
  TSubForm* ActiveEditor() const;

  void FileNewItemClick();
  void FileOpenItemClick();
  void FileCloseItemClick();
  void FileSaveItemClick();
  void FileSaveAsItemClick();
  void FileExitItemClick();
  void Contents1Click();

  // TEditorHost
  void ShowModeButtons(bool Visible, TMode Mode) override;
  void ShowPosition(const QString& X, const QString& Y) override;
  TPrompts& Prompts() override { return FPrompts; }
  void EditOptions(TSubForm& Editor) override;
  void ShowFindings(TSubForm& Editor, bool Raise) override;

  // The dock with the active document's bus check findings, and its count in the status bar.
  QDockWidget* FindingsDock;
  QLabel* CheckSummary;

  // The settings file: BUSWEAVE_INI when set; else beside the program with the extension
  // "INI" when that folder is writable; else in the user's configuration folder.
  static QString SettingsFilePath();
  // Placement and last folder, read at creation and written at destruction.
  void ReadSettings();
  void WriteSettings();

 protected:
  void closeEvent(QCloseEvent* Event) override;
  bool event(QEvent* Event) override;

 private:
  void buildMenus();
  void buildSpeedPanel();
  void buildStatusBar();
  void subWindowActivated(QMdiSubWindow* Window);
  void modeButtonClicked(QToolButton* Button, TMode Mode);
  void rebuildWindowList();
  TMDIChild* frameOf(QMdiSubWindow* Window) const;
  TSubForm* editorOf(QMdiSubWindow* Window) const;
  // The document whose frame or editor is the current child window.
  TMDIChild* currentDocument() const;

  TPrompts& FPrompts;
  std::array<QLabel*, 4> FPanels{};
  QStackedWidget* FFindingsStack = nullptr;
  QList<QAction*> FMergedMenus;
  TSubForm* FActiveEditor = nullptr;
  QWidget* FHelpViewer = nullptr;
  bool FDestroying = false;
};

}  // namespace busweave

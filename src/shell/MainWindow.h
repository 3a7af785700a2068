#pragma once

// TMDIMainForm: the program's main window. It holds the documents' windows in a
// multiple-document area, the menus with the file, window and help commands, the tool panel
// with the file and mode buttons, the docks and the status bar. It points at the active editor
// only; every document keeps its own network, mode and options.
//
// Its code is split by concern: MainWindow.cpp (making it, and following the active document),
// MainWindowMenus.cpp (menus, tool panel, status bar, and the View, Window and Help commands),
// MainWindowFiles.cpp (the file commands and recent files), MainWindowDocks.cpp (the docks),
// MainWindowSettings.cpp (the settings file) and MainWindowPlacement.cpp (the window's place on
// the screen).

#include <QMainWindow>
#include <QMargins>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/EditorHost.h"
#include "shell/DocumentDock.h"

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
  // The last files opened or saved, newest first; a missing one is told and dropped when chosen.
  QMenu* FileRecentMenu;
  QAction* FilePrintItem;
  QAction* FilePrintPreviewItem;
  QMenu* View1;
  QAction* ViewGridItem;
  QAction* ViewFindItem;
  QAction* ViewZoomInItem;
  QAction* ViewZoomOutItem;
  QAction* ViewActualSizeItem;
  QAction* ViewFitItem;
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
  QToolButton* SpeedButtonMove;

  // Status bar panel 0 to 3.
  QLabel* StatusPanel(int Index) const { return FPanels.at(static_cast<std::size_t>(Index)); }

  // Opens a document window pair for Path (loading the file when it exists).
  TMDIChild* OpenDocument(const std::string& Path);
  // Opens the network file Path as the Open command does, refusing one already open or
  // write-protected.
  void OpenFile(const QString& Path);
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
  // Print and print preview of the current document.
  void FilePrintItemClick();
  void FilePrintPreviewItemClick();
  void Contents1Click();
  // Shows or hides the grid of the active editor.
  void ViewGridItemClick(bool Show);
  // Asks for part of a node's name and shows the first node that holds it.
  void ViewFindItemClick();

  // The recent files, newest first, at most MaxRecentFiles.
  static constexpr int MaxRecentFiles = 8;
  const QStringList& RecentFiles() const { return FRecentFiles; }
  void AddRecentFile(const QString& Path);

  // TEditorHost
  void ShowModeButtons(bool Visible, TMode Mode) override;
  void ShowPosition(const QString& X, const QString& Y) override;
  void ShowMessage(const QString& Text) override;
  void FileSavedAs(const QString& Path) override;
  TPrompts& Prompts() override { return FPrompts; }
  void EditOptions(TSubForm& Editor) override;
  void ShowFindings(TSubForm& Editor, bool Raise) override;
  void ShowAnalysis(TSubForm& Editor, bool Raise) override;
  void ShowAdvice(TSubForm& Editor, bool Raise) override { AdviceDock->ShowPanel(Editor, Raise); }

  // The dock with the active document's bus check findings, and its count in the status bar.
  QDockWidget* FindingsDock;
  QLabel* CheckSummary;
  // The dock with the active document's bus analysis, once the document was analysed.
  QDockWidget* AnalysisDock;
  // The dock with the active document's "How to make it work" advice, beside the analysis.
  TDocumentDock* AdviceDock;

  // The settings file: BUSWEAVE_INI when set; else beside the program with the extension
  // "INI" when KeepsSettingsBeside its folder; else in the user's configuration folder.
  static QString SettingsFilePath();
  // Whether a program in this folder keeps its settings beside itself: only in a folder of the
  // user's own that the user can write (a build folder, a portable copy), never in a folder of
  // installed software, whoever may write there.
  static bool KeepsSettingsBeside(const QString& ProgramFolder);
  // Placement and last folder, read at creation and written at destruction. A settings file
  // that cannot be read is reported on stderr and never written; so is a failed write.
  void ReadSettings();
  void WriteSettings();

  // A stored placement of the outer window (frame included), as read from the settings.
  struct TPlacement {
    std::int64_t Left, Top, Width, Height;
  };
  // The placement of a first start: four fifths of the available area of the screen, centred.
  static QRect FirstPlacement(const QRect& Available);
  // The placement fitted to the available area of a screen (the one that shows most of it, else
  // the first): the size is cut to the area, then the window is moved into it, so that its title
  // bar and status bar show. A placement that already fits stays as it is.
  static QRect FitPlacement(const TPlacement& Stored, const QList<QRect>& Available, QSize Minimum);
  // The outer window's placement as it is written to the settings.
  QRect OuterPlacement() const;
  // Runs Action once the shown window has its final placement (the window manager has put its
  // frame around it), at once when it already has: documents opened then are laid out in the
  // area the user sees.
  void WhenPlaced(std::function<void()> Action);

 protected:
  void closeEvent(QCloseEvent* Event) override;
  bool event(QEvent* Event) override;

 private:
  // MainWindowMenus.cpp
  void buildMenus();
  void buildSpeedPanel();
  void buildStatusBar();
  // The editor's pointer follows its mode: a crosshair in the modes that draw.
  static void showModePointer(TSubForm& Editor);
  // The five mode buttons with the mode each one sets.
  std::array<std::pair<QToolButton*, TMode>, 6> modeButtons() const;
  void modeButtonClicked(QToolButton* Button, TMode Mode);
  void rebuildWindowList();

  // MainWindowDocks.cpp
  // Makes every dock; a new one is added there and follows the current document in
  // showCurrentDocks.
  void buildDocks();
  // The docks and the status bar's check summary follow the current document; none, no summary.
  void showCurrentDocks();

  // MainWindowFiles.cpp
  void rebuildRecentMenu();
  void openRecentFile(const QString& Path);

  // MainWindowSettings.cpp
  void readRecentFiles();
  void writeRecentFiles();
  // Whether the window was maximised at exit, in a section of its own; the placement's keys keep
  // the normal placement, to which the window returns from maximised.
  void readWindowState();
  void writeWindowState();

  // MainWindowPlacement.cpp
  // Gives the outer window the placement FPlacement; the frame's size is known only once the
  // window manager has framed the window, so this runs again until then.
  void applyPlacement();
  void settlePlacement();
  void restoredPlacement();
  void placementSettled();

  // MainWindow.cpp: the documents' windows in the area.
  void subWindowActivated(QMdiSubWindow* Window);
  TMDIChild* frameOf(QMdiSubWindow* Window) const;
  TSubForm* editorOf(QMdiSubWindow* Window) const;
  // The document whose frame or editor is the current child window.
  TMDIChild* currentDocument() const;

  TPrompts& FPrompts;
  std::array<QLabel*, 4> FPanels{};
  QStackedWidget* FFindingsStack = nullptr;
  QStackedWidget* FAnalysisStack = nullptr;
  QList<QAction*> FMergedMenus;
  TSubForm* FActiveEditor = nullptr;
  QWidget* FHelpViewer = nullptr;
  bool FDestroying = false;
  bool FSettingsUnreadable = false;
  QRect FPlacement;
  QMargins FPlacedMargins;
  bool FPlacementPending = true;
  std::vector<std::function<void()>> FWhenPlaced;
  QStringList FRecentFiles;
  QStringList FRecentFilesRead;  // as the settings file held them; unchanged, nothing is written
  bool FMaximizedRead = false;   // likewise
};

// Names the application and its desktop entry; window titles stay exactly as each window sets
// them (no program name appended).
void SetApplicationTitle();

}  // namespace busweave

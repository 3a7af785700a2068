#pragma once

// TSubForm: the editor window of one network document. It owns the document's network, keeps
// the document extent, draws the network at one pixel per unit with y upwards, and hosts the
// editing commands. Its frame (the overview window) owns it.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drawing/Canvas.h"
#include "drawing/DocumentTypes.h"
#include "drawing/NetworkDrawing.h"
#include "editor/EditorHost.h"
#include "editor/EditorTypes.h"
#include "gui/EventSurface.h"
#include "gui/LatestJob.h"
#include "model/BusCheck.h"
#include "model/NetworkContainer.h"

class QAction;
class QMenu;
class QScrollArea;
class QTimer;

namespace busweave {

class TAdviceCommand;
class TAdvicePanel;
class TAnalysisCommand;
class TAnalysisPanel;
class TFindingsPanel;
class TSimulateCommand;
struct TEdit;
struct TFinding;

// The editor's ties to its frame window.
struct TFrameLink {
  QWidget* PaintBox = nullptr;            // the overview, repainted with the editor
  std::function<TFontSpec()> ExportFont;  // the frame's picture font
  // Tells the frame of a new width, height or file name, synchronously.
  std::function<void(TEditorNotifyCode Code, int Value)> Notify;
  std::function<void(const TFontSpec&)> SetExportFont;
};

// The options of one document that the options dialog edits.
struct TDocumentOptions {
  std::uint16_t LineZL = DocumentImpedances.LineZL;
  std::uint16_t ZLTerm = DocumentImpedances.ZL;
  std::uint16_t NoZL = DocumentImpedances.NoZL;
  bool ShowNames = true;
  TPoint Extent{200, 200};  // document units
  TFontSpec DrawingFont;
  TFontSpec PictureFont;
};

// The editor's drawing surface; it hands its events to the editor.
using TPaintSurface = TEventSurface;

class TSubForm : public QWidget {
  Q_OBJECT

 public:
  TSubForm(QWidget* Parent, TFrameLink Frame, const std::string& FileName, TPoint Size, TPoint Scale,
           TEditorHost* Host);
  ~TSubForm() override;

  // The editor's widgets and commands, owned by the editor; tests and the main window reach them
  // here.
  QScrollArea* ScrollBox1() const { return FScrollBox1; }
  TPaintSurface* PaintBox1() const { return FPaintBox1; }
  QMenu* Edit1() const { return FEdit1; }
  QAction* Undo1() const { return FUndo1; }
  QAction* Redo1() const { return FRedo1; }
  QAction* DeleteUnderPointer() const { return FDeleteUnderPointer; }
  QAction* CancelRubberBand() const { return FCancelRubberBand; }
  QAction* Network1() const { return FNetwork1; }
  QAction* Simulate1() const { return FSimulate1; }
  QAction* CheckBus1() const { return FCheckBus1; }
  QAction* AnalyzeBus1() const { return FAnalyzeBus1; }
  QAction* Advise1() const { return FAdvise1; }
  QAction* Options1() const { return FOptions1; }

  TCanNodes& Nodes() { return *FNodes; }
  const TCanNodes& Nodes() const { return *FNodes; }
  TMode FMode() const { return FMode_; }
  void SetFMode(TMode Mode) { FMode_ = Mode; }
  TEditorDefaults& FDefaults() { return FDefaults_; }
  TPoint FGrid() const { return FGrid_; }
  TPoint FScale() const { return FScale_; }
  int FNodeRadius() const { return FNodeRadius_; }
  // The drawing font of the surface (names and labels on the screen).
  const TFontSpec& DrawingFont() const { return FDrawingFont; }
  void SetDrawingFont(const TFontSpec& Font) { FDrawingFont = Font; }
  // The menu items the main window shows while this editor is active.
  QList<QAction*> MergedMenus() const;
  // The full path of the network file; also the window's caption (which then says
  // "(read-only)" for a read-only file).
  QString Caption() const;
  // A network file that exists but cannot be written back (a file or folder the user may not
  // write, such as installed examples): it is edited as any other, and Save asks for a new name.
  bool ReadOnly() const { return FReadOnly; }

  TPoint DocExtent() const { return FExtent; }
  void SetDocExtent(TPoint Extent);
  TPoint ScrollOffset() const;
  void SetScrollOffset(TPoint Offset);
  // The editor's visible width and height in pixels.
  TPoint ClientSize() const;
  TPoint DocFromSurface(TPoint Surface) const;
  static void SnapToGrid(TPoint& P, TPoint Grid = {100, 100});
  void SetMapping(Canvas& C) const;
  void FitDocument();

  void PlotIt(Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale,
              const std::optional<std::pair<TPoint, TPoint>>& Clip = std::nullopt);
  void RedrawNode(const TNode& Node);
  void RedrawWire(const TTrmLine& Wire);
  // Repaints the surface and the frame's overview after a change.
  void RepaintAll();
  // Counts the changes to what the network looks like, so that pictures of it can be kept until
  // the next one.
  std::uint64_t DrawingVersion() const { return FDrawingVersion; }
  // A copy of the network as it is now, shared until the next change, for work on other threads.
  std::shared_ptr<const TCanNodes> NetworkSnapshot();
  TPlotSettings DrawingSettings() const { return plotSettings(); }

  // The one undo of the editor (its Edit menu's Undo too): takes back the last user action,
  // repaints when something was undone and refreshes the menu. True when something was undone.
  bool UnDo();
  // Takes back the last undo, one user action at a time, as UnDo does.
  bool ReDo();
  // Deletes the end node, else the wire, under the pointer, as the dialogs' Delete does; one undo step.
  bool DeleteAtPointer();
  // Drops the wire being drawn or the node being moved; the release that follows does nothing.
  void CancelWire();
  void UpdateEditMenu();
  void FormActivate();
  void FormDeactivate();
  void ShowModeButtons(bool Visible);
  void ShowPosition(TPoint Surface);

  // Saves under the current name; Name is that name on success, else empty.
  void SaveCAN(std::string& Name);
  // Asks for a new name and saves there; Name is the chosen path on success, else empty.
  void SaveCANAs(QWidget* Owner, std::string& Name);
  // Whether the editor may close; asks the user when the network has unsaved changes, and saves
  // them (as Save does, or as Save As for a file it cannot write back whole) when told to.
  void FormCloseQuery(bool& CanClose);

  void Network1Click();
  // Simulates the network with ngspice and shows the waveforms; the command of this document,
  // once used.
  void Simulate1Click();
  TSimulateCommand* Simulation() const { return FSimulation; }
  void Options1Click();

  TDocumentOptions Options() const;
  // Takes new options: the extent (the frame is told width, then height), fonts, defaults.
  void ApplyOptions(const TDocumentOptions& Options);

  // Mouse editing on the surface (surface coordinates).
  void PaintBox1MouseDown(TPoint Surface);
  void PaintBox1MouseMove(TPoint Surface);
  void PaintBox1MouseUp(TPoint Surface);
  void TrackRubberBand(TPoint Surface);
  bool RubberBand() const { return FRubberBand; }
  TPoint LineStart() const { return FLineStart; }
  TPoint LineEnd() const { return FLineEnd; }
  // A node being dragged in mMoveNode: where it was and where it would be dropped (surface).
  bool MovingNode() const { return FMoving; }
  TPoint MoveTarget() const { return FMoveTo; }

  // The view: surface pixels per document unit. Mouse positions become surface units (one per
  // document unit) as they arrive, so hit tests, snapping, dialogs and the position display
  // never see the zoom; only painting and scrolling do.
  double Zoom() const { return FZoom; }
  // Keeps the document point under Anchor (viewport pixels; the middle when none) where it is.
  void SetZoom(double Zoom, std::optional<QPoint> Anchor = std::nullopt);
  // One step in or out about the pointer over the surface, else about the middle.
  void ZoomIn();
  void ZoomOut();
  void ZoomActualSize();
  // The whole document in the editor.
  void ZoomFit();
  TPoint SurfaceFromPixel(QPointF Pixel) const;
  QPoint PixelFromSurface(TPoint Surface) const;
  QRect PixelRect(const QRect& Surface) const;
  // The surface pixel of the document's top-left corner.
  QPoint PixelOrigin() const { return FOrigin; }
  // The part of the document the editor shows: lower-left and upper-right corner.
  std::pair<TPoint, TPoint> VisibleDocument() const;

  // The node and line dialogs for an element found at surface point P.
  void EditNode(TNode& Node, TPoint P);
  void EditWire(TTrmLine& Wire, TPoint P);

  // The 100-unit grid under the drawing; off for a new window, kept while the document is open.
  bool ShowGrid() const { return FShowGrid; }
  void SetShowGrid(bool Show);
  // Marks the first node whose name holds Part (any case) and scrolls it to the middle of the
  // editor; that node's name as drawn, or nothing when no node matches.
  std::optional<QString> FindNode(const QString& Part);

  // The bus check: run after every change; its findings are listed in the editor's panel. A
  // network of BackgroundCheckFrom() elements or more is checked on a thread of its own, so the
  // window answers at once and the list follows when the check is done.
  void RecheckBus();
  int BackgroundCheckFrom() const { return FBackgroundCheckFrom; }
  void SetBackgroundCheckFrom(int Elements) { FBackgroundCheckFrom = Elements; }
  // Whether the findings of the latest change are still to come.
  bool CheckPending() const;
  void CheckBus1Click();
  TFindingsPanel* FindingsPanel() const { return FFindingsPanel; }
  // The bus analysis: each station with a driver transmits in turn, in the background; the
  // verdict per bit rate shows in the analysis panel. The command of this document, once used.
  void AnalyzeBus1Click();
  TAnalysisCommand* Analysis() const { return FAnalysis; }
  TAnalysisPanel* AnalysisPanel() const;
  // How to make it work: asks for the rates, then searches the smallest changes that make the bus
  // work there, in the background; the proposals show in the advice panel. The command of this
  // document, once used.
  void Advise1Click();
  TAdviceCommand* Advice() const { return FAdvice; }
  TAdvicePanel* AdvicePanel() const;
  // Sets the values the edits name as one undo step, once every element still holds the value
  // the edit was found for, and marks the elements changed; otherwise changes nothing and says
  // why, naming the element.
  std::optional<QString> ApplyEdits(const std::vector<TEdit>& Edits);

  // Whether the network file could not be read completely (a missing file is a new network).
  bool LoadFailed() const;
  // Tells the user what of a damaged file could be read; the frame calls it once shown.
  void ReportLoadProblem();

 private:
  // The constructor's steps, in this order: the scroll area and the drawing surface with its
  // timers; the surface's own keys; the Edit menu, the findings panel and the Options action; the
  // network file (the document's extent is Size when it has no node).
  void setupView();
  void setupSurfaceKeys();
  void setupMenus();
  void loadDocument(const std::string& FileName, TPoint Size);
  void PaintBox1Paint(QPaintEvent* Event);
  // An empty network writes no file; the user is told so instead of seeing nothing happen.
  void reportNothingWritten(QWidget* Owner, const std::string& Path);
  void finishWire(TPoint Surface);
  void finishMove(TPoint Surface);
  void trackMove(TPoint Surface);
  void updateMovePreview();
  void moveRefused(const QString& Why);
  // Scrolls while a drag holds the pointer at the editor's edge.
  void followDrag(QPointF Pixel);
  void autoScrollStep();
  std::optional<QPoint> pointerAnchor() const;
  // Where the document's top-left corner lies in the viewport, to the fraction of a pixel.
  QPointF documentPlace() const;
  // Puts the document's top-left corner there (viewport pixels), by scrolling or by leaving room
  // before the document on the surface.
  void placeDocument(QPointF Place);
  // The document's width and height on the surface, in units.
  std::int32_t shownWidth() const;
  std::int32_t shownHeight() const;
  void zoomStep(int Steps, std::optional<QPoint> Anchor);
  double limitZoom(double Zoom) const;
  // Scrolls the surface point to the middle of the editor.
  void scrollToMiddle(TPoint Surface);
  void stampAction();
  void updateRubberBand(TPoint From, TPoint To);
  void selectFinding(const TFinding* Finding);
  void showFindings(std::vector<TFinding> Findings);
  void startBackgroundCheck();
  void drawingChanged() { ++FDrawingVersion; }
  void repaintNumberedNames();
  // After an edit that changed only these elements in place (no element added, removed or moved,
  // so every node keeps its number): repaints the part of the surface they cover, as they were
  // and as they are, and goes on as RepaintAll.
  void repaintChanged(const std::vector<TReach>& Changed);
  TReach reachOf(const TMyClasses& Element) const;
  // The keys of the elements the last step of an undo or redo history changes in place; none
  // when it adds, removes or moves one.
  std::optional<std::vector<std::string>> inPlaceStep(const TStringList& History) const;
  // Undoes (or redoes) one step and repaints what it changed.
  bool stepHistory(bool Undo);
  // Why the edit no longer fits the network (its element gone, or its value changed since the
  // search), naming the element; none when it fits.
  std::optional<QString> editOutOfDate(const TEdit& Edit) const;
  void layoutSurface();
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  TPlotSettings plotSettings() const;

  void updateTitle();

  QScrollArea* FScrollBox1;
  TPaintSurface* FPaintBox1;
  QMenu* FEdit1;
  QAction* FUndo1;
  QAction* FRedo1;
  // Keys of the surface, live while the focus is in the editor: delete under the pointer, and
  // cancel the wire being drawn.
  QAction* FDeleteUnderPointer;
  QAction* FCancelRubberBand;
  QAction* FNetwork1;
  QAction* FSimulate1;
  QAction* FCheckBus1;
  QAction* FAnalyzeBus1;
  QAction* FAdvise1;
  QAction* FOptions1;
  std::unique_ptr<TCanNodes> FNodes;
  bool FReadOnly = false;
  // Whether the network's file holds it: read whole, or saved there since. Save in the close
  // query writes there; a new document, or a damaged file whose unread rest a save would lose,
  // is saved under a name the user chooses.
  bool FHasFile = false;
  TFrameLink FFrame;
  TEditorHost* FHost;
  TSimulateCommand* FSimulation = nullptr;  // a child of the editor
  TAnalysisCommand* FAnalysis = nullptr;    // a child of the editor
  TAdviceCommand* FAdvice = nullptr;        // a child of the editor
  TPoint FLineStart;
  TPoint FLineEnd;
  TPoint FGrid_{100, 100};
  TPoint FScale_;
  TEditorDefaults FDefaults_;
  TMode FMode_ = mNone;
  int FNodeRadius_ = 5;
  bool FRubberBand = false;
  // After Escape, the release of the drag that was cancelled ends nothing.
  bool FCancelled = false;
  // The last surface point of the pointer over the surface, none once it left.
  std::optional<TPoint> FPointer;
  std::int32_t FLastStamp = 0;
  TFindingsPanel* FFindingsPanel = nullptr;  // owned; shown in the main window's dock
  TPoint FExtent{200, 200};
  TFontSpec FDrawingFont{"Arial", 8, clBlue};
  bool FShowGrid = false;
  bool FMoving = false;
  TPoint FMoveFrom;
  TPoint FMoveTo;
  std::vector<TPoint> FMoveEnds;  // the far ends of the moving node's wires, surface
  double FZoom = 1.0;
  // The surface pixel of the document's top-left corner: above zero only where the document is
  // shown away from the viewport's top or left edge.
  QPoint FOrigin{0, 0};
  QSize FScrollRoom;  // the surface is at least this large, so that the last zoom's scroll holds
  std::optional<QPointF> FExactPlace;
  // The pointer over the surface, in viewport pixels; the anchor of zoom keys.
  std::optional<QPoint> FPointerPixel;
  QTimer* FAutoScroll = nullptr;
  QPoint FDragViewportPos;
  std::uint64_t FDrawingVersion = 0;
  std::shared_ptr<const TCanNodes> FSnapshot;
  std::uint64_t FSnapshotVersion = 0;
  int FBackgroundCheckFrom = 4096;
  // Whether an element may carry a highlight mark, so that a change need not look at every one.
  bool FMarksSet = false;
  QTimer* FCheckDelay = nullptr;
  TCheckSettings FCheckSettings;  // of the background check about to start
  // Last, so that it ends (waiting for a running check) before the network it reads goes.
  TLatestJob<std::vector<TFinding>> FCheck{this};
};

}  // namespace busweave

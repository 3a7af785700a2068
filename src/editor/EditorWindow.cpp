#include "editor/EditorWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "drawing/FitNetwork.h"
#include "editor/CircuitExportCommand.h"
#include "editor/FindingsPanel.h"
#include "editor/LineDialog.h"
#include "editor/NodeDialog.h"
#include "gui/Prompts.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/PathText.h"
#include "picture/QPainterCanvas.h"
#include "simview/AnalysisCommand.h"
#include "simview/SimulateCommand.h"

namespace busweave {
namespace {

// A widget cannot be larger than kLargestExtent; a network that spans more is shown cut.
std::int32_t sanitizedExtent(std::int64_t Value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value, 1, kLargestExtent));
}

}  // namespace

TSubForm::TSubForm(QWidget* Parent, TFrameLink Frame, const std::string& FileName, TPoint Size, TPoint Scale,
                   TEditorHost* Host)
    : QWidget(Parent), FFrame(std::move(Frame)), FHost(Host), FScale_(Scale) {
  setAutoFillBackground(true);
  setPalette(QPalette(Qt::white));
  resize(448, 352);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setFrameShape(QFrame::NoFrame);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setBackgroundRole(QPalette::Base);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ScrollBox1);

  PaintBox1 = new TPaintSurface;
  PaintBox1->setObjectName("PaintBox1");
  PaintBox1->setAutoFillBackground(true);
  PaintBox1->setPalette(QPalette(Qt::white));
  PaintBox1->setMouseTracking(true);
  PaintBox1->OnPaint = [this](QPaintEvent* Event) { PaintBox1Paint(Event); };
  auto surfacePoint = [](QMouseEvent* Event) {
    return TPoint{static_cast<std::int32_t>(std::floor(Event->position().x())),
                  static_cast<std::int32_t>(std::floor(Event->position().y()))};
  };
  PaintBox1->OnMouseDown = [this, surfacePoint](QMouseEvent* Event) { PaintBox1MouseDown(surfacePoint(Event)); };
  PaintBox1->OnMouseMove = [this, surfacePoint](QMouseEvent* Event) { PaintBox1MouseMove(surfacePoint(Event)); };
  PaintBox1->OnMouseUp = [this, surfacePoint](QMouseEvent* Event) {
    // Only the release of the last held button ends an action.
    if (Event->buttons() == Qt::NoButton) PaintBox1MouseUp(surfacePoint(Event));
  };
  ScrollBox1->setWidget(PaintBox1);
  ScrollBox1->viewport()->installEventFilter(this);
  PaintBox1->installEventFilter(this);
  // A click on the drawing gives the editor the keys of the surface.
  PaintBox1->setFocusPolicy(Qt::ClickFocus);
  DeleteUnderPointer = new QAction("Delete", this);
  DeleteUnderPointer->setShortcut(QKeySequence(Qt::Key_Delete));
  DeleteUnderPointer->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(DeleteUnderPointer, &QAction::triggered, this, [this] { DeleteAtPointer(); });
  CancelRubberBand = new QAction("Cancel", this);
  CancelRubberBand->setShortcut(QKeySequence(Qt::Key_Escape));
  CancelRubberBand->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(CancelRubberBand, &QAction::triggered, this, [this] { CancelWire(); });
  addActions({DeleteUnderPointer, CancelRubberBand});

  Edit1 = new QMenu("&Edit", this);
  Undo1 = Edit1->addAction("&Undo");
  Undo1->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Backspace), QKeySequence(Qt::CTRL | Qt::Key_Z)});
  Undo1->setStatusTip("Undo changes");
  Redo1 = Edit1->addAction("&Redo");
  Redo1->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  Redo1->setStatusTip("Redo what was undone");
  connect(Redo1, &QAction::triggered, this, [this] { ReDo(); });
  Edit1->addSeparator();
  Network1 = Edit1->addAction("&Network");
  Network1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  Network1->setStatusTip("Create/modify the network");
  connect(Undo1, &QAction::triggered, this, [this] { UnDo(); });
  connect(Network1, &QAction::triggered, this, [this] { Network1Click(); });
  Simulate1 = Edit1->addAction("&Simulate");
  Simulate1->setShortcut(QKeySequence(Qt::Key_F9));
  Simulate1->setStatusTip("Simulate the network with ngspice and show the waveforms");
  connect(Simulate1, &QAction::triggered, this, [this] { Simulate1Click(); });
  Edit1->addSeparator();
  CheckBus1 = Edit1->addAction("Check &bus");
  CheckBus1->setShortcut(QKeySequence(Qt::Key_F7));
  CheckBus1->setStatusTip("Check the bus against the rules of a CAN physical layer");
  connect(CheckBus1, &QAction::triggered, this, [this] { CheckBus1Click(); });
  AnalyzeBus1 = Edit1->addAction("&Analyze bus");
  AnalyzeBus1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F9));
  AnalyzeBus1->setStatusTip("Simulate each station transmitting and tell at which bit rates the bus works");
  connect(AnalyzeBus1, &QAction::triggered, this, [this] { AnalyzeBus1Click(); });
  FFindingsPanel = new TFindingsPanel;
  FFindingsPanel->OnSelect = [this](const TFinding* Finding) { selectFinding(Finding); };
  FFindingsPanel->OnBitRateChanged = [this] { RecheckBus(); };
  Options1 = new QAction("&Options", this);
  Options1->setStatusTip("Define general option");
  connect(Options1, &QAction::triggered, this, [this] { Options1Click(); });

  FNodes = TCanNodes::CreateWithImpedances(FDefaults_.ZLTerm, FDefaults_.NoZL, FDefaults_.LineZL);
  FNodes->OnBeep = [] { QApplication::beep(); };
  FNodes->LoadNetwork(FileName);
  // What could be read of a damaged file stays open; marking it modified makes closing ask
  // before the rest of the file is lost by a save. A file of which nothing was read leaves
  // nothing to lose, so the new document stays unmodified.
  if (LoadFailed() && FNodes->Count() > 0) FNodes->MarkModified();
  setWindowTitle(QString::fromLocal8Bit(FNodes->FFileName()));
  if (FNodes->FNumNodes() > 0)
    FitDocument();
  else
    SetDocExtent(Size);
  UpdateEditMenu();
  RecheckBus();
}

TSubForm::~TSubForm() { delete FFindingsPanel; }

bool TSubForm::LoadFailed() const {
  const TLoadError& error = FNodes->LastLoadError();
  return error.Failed() && error.Outcome != TLoadOutcome::Missing;
}

void TSubForm::ReportLoadProblem() {
  if (!LoadFailed() || !FHost) return;
  const TLoadError& error = FNodes->LastLoadError();
  if (error.Outcome == TLoadOutcome::NotOpened) {
    FHost->Prompts().ShowError(
        this, QString("The network file %1 could not be opened: %2.")
                  .arg(QString::fromLocal8Bit(FNodes->FFileName()), QString::fromStdString(error.Message)));
    return;
  }
  FHost->Prompts().ShowError(
      this, QString("The network file %1 could not be read completely: %2 (at byte %3).\n\n"
                    "Opened what was read before the problem: %4 nodes and %5 wires.")
                .arg(QString::fromLocal8Bit(FNodes->FFileName()), QString::fromStdString(error.Message))
                .arg(error.Offset)
                .arg(FNodes->FNumNodes())
                .arg(FNodes->FNumLines()));
}

QList<QAction*> TSubForm::MergedMenus() const { return {Edit1->menuAction(), Options1}; }

void TSubForm::SetDocExtent(TPoint Extent) {
  FExtent = {sanitizedExtent(Extent.X), sanitizedExtent(Extent.Y)};
  layoutSurface();
}

void TSubForm::layoutSurface() {
  const QSize view = ScrollBox1->viewport()->size();
  PaintBox1->resize(std::max(view.width(), FExtent.X), std::max(view.height(), FExtent.Y));
  PaintBox1->update();
}

bool TSubForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == ScrollBox1->viewport() && Event->type() == QEvent::Resize) layoutSurface();
  if (Watched == PaintBox1 && Event->type() == QEvent::Leave) FPointer.reset();
  return QWidget::eventFilter(Watched, Event);
}

TPoint TSubForm::ScrollOffset() const {
  return {ScrollBox1->horizontalScrollBar()->value(), ScrollBox1->verticalScrollBar()->value()};
}

void TSubForm::SetScrollOffset(TPoint Offset) {
  ScrollBox1->horizontalScrollBar()->setValue(Offset.X);
  ScrollBox1->verticalScrollBar()->setValue(Offset.Y);
}

TPoint TSubForm::ClientSize() const { return {ScrollBox1->viewport()->width(), ScrollBox1->viewport()->height()}; }

TPoint TSubForm::DocFromSurface(TPoint Surface) const {
  return {Surface.X, static_cast<std::int32_t>(std::int64_t{FExtent.Y} - Surface.Y)};
}

void TSubForm::SnapToGrid(TPoint& P, TPoint Grid) {
  // Integer division truncates towards zero, as the grid rule wants (-149..49 all give 0).
  P.X = (P.X + Grid.X / 2) / Grid.X * Grid.X;
  P.Y = (P.Y + Grid.Y / 2) / Grid.Y * Grid.Y;
}

void TSubForm::SetMapping(Canvas& C) const {
  // The surface is never smaller than the extent, so this is one pixel per unit, y upwards.
  const std::int32_t w = std::min(PaintBox1->width(), FExtent.X);
  const std::int32_t h = std::min(PaintBox1->height(), FExtent.Y);
  TMapping mapping;
  mapping.Isotropic = true;
  mapping.WindowExt = {w, h};
  mapping.ViewportExt = {FExtent.X, -FExtent.Y};
  mapping.WindowOrg = {0, h};
  mapping.ViewportOrg = {0, 0};
  C.SetMapping(mapping);
}

void TSubForm::FitDocument() {
  SetDocExtent(FitNetwork(*FNodes, FGrid_, FExtent));
  if (FFrame.Notify) {
    FFrame.Notify(TEditorNotifyCode::enWidth, FExtent.X);
    FFrame.Notify(TEditorNotifyCode::enHeight, FExtent.Y);
  }
}

TPlotSettings TSubForm::plotSettings() const {
  TPlotSettings settings;
  settings.DrawingFont = FDrawingFont;
  settings.ExportFont = FFrame.ExportFont ? FFrame.ExportFont() : DefaultPictureFont;
  settings.NodeRadius = FNodeRadius_;
  settings.Grid = FGrid_;
  settings.ShowNames = FDefaults_.ShowNames;
  return settings;
}

void TSubForm::PlotIt(Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale,
                      const std::optional<std::pair<TPoint, TPoint>>& Clip) {
  PlotNetwork(C, *FNodes, plotSettings(), Target, MakeFont, Scale, Clip);
}

void TSubForm::PaintBox1Paint(QPaintEvent* Event) {
  QPainter painter(PaintBox1);
  painter.setClipRegion(Event->region());
  TQPainterCanvas canvas(painter);
  canvas.SetFont(FDrawingFont);
  SetMapping(canvas);
  const std::int32_t w = std::min(PaintBox1->width(), FExtent.X);
  const std::int32_t h = std::min(PaintBox1->height(), FExtent.Y);
  if (FShowGrid) {
    canvas.SetPen({clSilver, TPenStyle::psDot, 1});
    DrawGrid(canvas, {w, h}, FGrid_);
  }
  canvas.SetPen({clBlack, TPenStyle::psDot, 1});
  canvas.Polyline({{0, 0}, {w, 0}, {w, h}, {0, h}, {0, 0}});
  canvas.SetPen({clBlack, TPenStyle::psSolid, 1});
  PlotIt(canvas, ptScreen, true, {1, 1}, canvas.LogicalClip());

  // The rubber band of a wire being drawn lies over the drawing, dotted, in surface pixels.
  if (FRubberBand) {
    painter.setPen(QPen(Qt::black, 0, Qt::DotLine));
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter.drawLine(FLineStart.X, FLineStart.Y, FLineEnd.X, FLineEnd.Y);
  }
}

void TSubForm::updateRubberBand(TPoint From, TPoint To) {
  const QRect area = QRect(QPoint(From.X, From.Y), QPoint(To.X, To.Y)).normalized().adjusted(-2, -2, 2, 2);
  PaintBox1->update(area);
}

void TSubForm::stampAction() {
  // Every release is one undo step: its stamp is the millisecond tick, made unique so that
  // two quick releases never share one.
  auto tick = static_cast<std::int32_t>(static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count()));
  // Compared as a wrapping counter, so the stamps keep growing when the tick count wraps.
  const auto ahead =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) - static_cast<std::uint32_t>(FLastStamp));
  if (ahead <= 0) tick = static_cast<std::int32_t>(static_cast<std::uint32_t>(FLastStamp) + 1u);
  FLastStamp = tick;
  FNodes->FTickCount = tick;
}

void TSubForm::PaintBox1MouseDown(TPoint Surface) {
  FCancelled = false;
  if (FMode_ != mDrawTRMLine) return;
  // The press grabs the pointer for the surface until the release, also outside it.
  FRubberBand = true;
  FLineStart = Surface;
  SnapToGrid(FLineStart, FGrid_);
  FLineEnd = FLineStart;
}

void TSubForm::PaintBox1MouseMove(TPoint Surface) {
  FPointer = Surface;
  ShowPosition(Surface);
  if (FRubberBand) TrackRubberBand(Surface);
}

void TSubForm::TrackRubberBand(TPoint Surface) {
  const TPoint oldEnd = FLineEnd;
  FLineEnd = Surface;
  SnapToGrid(FLineEnd, FGrid_);
  if (FLineEnd == oldEnd) return;
  updateRubberBand(FLineStart, oldEnd);
  updateRubberBand(FLineStart, FLineEnd);
}

void TSubForm::PaintBox1MouseUp(TPoint Surface) {
  if (FCancelled) {
    FCancelled = false;
    return;
  }
  stampAction();
  if (FRubberBand) {
    finishWire(Surface);
    return;
  }
  TPoint p = Surface;
  if (FMode_ != mGetWire) SnapToGrid(p, FGrid_);
  const TPoint d = DocFromSurface(p);
  switch (FMode_) {
    case mGetNode:
      if (TNode* node = FNodes->NodeAt(d)) EditNode(*node, p);
      break;
    case mGetWire:
      if (TTrmLine* wire = FNodes->NearestWire(d)) EditWire(*wire, p);
      break;
    case mPlaceZL:
      if (TNode* node = FNodes->NodeAt(d); node && FNodes->BackupNode(node)) {
        node->FResistance = FDefaults_.ZLTerm;
        RepaintAll();
        UpdateEditMenu();
      }
      break;
    case mPlaceSrc:
      if (TNode* node = FNodes->NodeAt(d); node && FNodes->BackupNode(node)) {
        if (node->FSource == 0) {
          node->FSource = 1;
          RepaintAll();
        }
        UpdateEditMenu();
      }
      break;
    case mNone:
    case mDrawTRMLine:
      break;
  }
}

void TSubForm::finishWire(TPoint Surface) {
  updateRubberBand(FLineStart, FLineEnd);
  FLineEnd = Surface;
  SnapToGrid(FLineEnd, FGrid_);
  if (FLineEnd != FLineStart) {
    const TPoint a = DocFromSurface(FLineStart);
    const TPoint b = DocFromSurface(FLineEnd);
    FNodes->AddNode(a);
    FNodes->AddNode(b);
    FNodes->AddWire(a, b, FDefaults_.LineZL, true);
    const bool inside =
        FNodes->FMinX() > 0 && FNodes->FMinY() > 0 && FExtent.X > FNodes->FMaxX() && FExtent.Y > FNodes->FMaxY();
    if (!inside) FitDocument();
    RepaintAll();
  }
  FRubberBand = false;
  UpdateEditMenu();
}

void TSubForm::EditNode(TNode& Node, TPoint P) {
  TFKnoten dialog(this);
  dialog.FDefaultZL = FDefaults_.ZLTerm;
  dialog.FDefaultNoZL = FNodes->FNoZL;
  dialog.ReportError = [this, &dialog](const QString& Message) {
    if (FHost) FHost->Prompts().ShowError(&dialog, Message);
  };
  dialog.move(PaintBox1->mapToGlobal(QPoint(P.X, P.Y)));
  Node.FMarked = 1;
  RedrawNode(Node);
  dialog.CheckBoxQuelle->setChecked(Node.FSource == 1);
  dialog.CheckBoxName->setChecked(Node.FShowName != 0);
  dialog.EditName->setText(QString::fromStdString(NameToUtf8(Node.FName)));
  dialog.EditZL->setText(QString::number(Node.FResistance));

  const int result = FHost ? FHost->Prompts().ExecDialog(dialog) : mrCancel;
  if (result == mrOk) {
    Node.FMarked = 0;
    FNodes->BackupNode(&Node);
    Node.FSource = dialog.CheckBoxQuelle->isChecked() ? 1 : 0;
    Node.FName = CutShortString(dialog.NameBytes());
    Node.FShowName = dialog.CheckBoxName->isChecked() ? 1 : 0;
    Node.FResistance = dialog.Resistance();
    RepaintAll();
  } else if (result == mrDelete && FNodes->DeleteEndNode(DocFromSurface(P))) {
    RepaintAll();
  } else {
    Node.FMarked = 0;
    RedrawNode(Node);
  }
  UpdateEditMenu();
}

void TSubForm::EditWire(TTrmLine& Wire, TPoint P) {
  Wire.FMarked = 1;
  RedrawWire(Wire);
  TLineDlg dialog(this);
  dialog.move(PaintBox1->mapToGlobal(QPoint(P.X, P.Y)));
  dialog.FDefaultZL = FDefaults_.ZLTerm;
  dialog.FDefaultLength = FDefaults_.LineLength;
  dialog.ReportError = [this, &dialog](const QString& Message) {
    if (FHost) FHost->Prompts().ShowError(&dialog, Message);
  };
  dialog.EditZL->setText(QString::number(Wire.FImpedance));
  dialog.EditLength->setText(QString::number(Wire.FLength));
  dialog.CheckBoxShowLength->setChecked(Wire.FShowLength != 0);

  const int result = FHost ? FHost->Prompts().ExecDialog(dialog) : mrCancel;
  if (result == mrOk) {
    Wire.FMarked = 0;
    FNodes->BackupWire(&Wire);
    Wire.FImpedance = dialog.Impedance();
    Wire.FLength = dialog.Length();
    Wire.FShowLength = dialog.CheckBoxShowLength->isChecked() ? 1 : 0;
    RepaintAll();
  } else if (result == mrDelete) {
    TTrmLine* wire = &Wire;
    FNodes->DeleteWire(wire);
    RepaintAll();
  } else {
    Wire.FMarked = 0;
    RedrawWire(Wire);
  }
  UpdateEditMenu();
}

void TSubForm::RedrawNode(const TNode& Node) {
  const TPoint r{FNodeRadius_ + 2, FNodeRadius_ + 2};
  PaintBox1->repaint(Node.FPos.X - r.X, FExtent.Y - Node.FPos.Y - r.Y, 2 * r.X + 1, 2 * r.Y + 1);
}

void TSubForm::RedrawWire(const TTrmLine& Wire) {
  const int left = std::min(Wire.FStart.X, Wire.FEnd.X);
  const int right = std::max(Wire.FStart.X, Wire.FEnd.X);
  const int top = FExtent.Y - std::max(Wire.FStart.Y, Wire.FEnd.Y);
  const int bottom = FExtent.Y - std::min(Wire.FStart.Y, Wire.FEnd.Y);
  const int margin = 60;  // the label lies beside the wire
  PaintBox1->repaint(QRect(QPoint(left - margin, top - margin), QPoint(right + margin, bottom + margin)));
}

void TSubForm::RepaintAll() {
  PaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
  RecheckBus();
}

void TSubForm::RecheckBus() {
  TCheckSettings settings;
  settings.BitRate = FFindingsPanel->BitRate();
  // The highlight of a finding ends with the change that follows it.
  for (int i = 0; i < FNodes->Count(); ++i) FNodes->Objects(i)->FMarked = 0;
  FFindingsPanel->ShowFindings(CheckBus(*FNodes, settings));
  if (FHost) FHost->ShowFindings(*this, false);
}

void TSubForm::CheckBus1Click() {
  RecheckBus();
  if (FHost) FHost->ShowFindings(*this, true);
}

void TSubForm::selectFinding(const TFinding* Finding) {
  for (int i = 0; i < FNodes->Count(); ++i) FNodes->Objects(i)->FMarked = 0;
  if (Finding) {
    std::optional<TPoint> first;
    for (const TPoint& p : Finding->Nodes)
      if (TNode* node = FNodes->NodeAt(p)) {
        node->FMarked = 1;
        if (!first) first = p;
      }
    for (const std::string& key : Finding->Wires) {
      int index = 0;
      if (TTrmLine* wire = FNodes->Find(key, index) ? FNodes->WireAtIndex(index) : nullptr) {
        wire->FMarked = 1;
        if (!first)
          first = TPoint{wire->FStart.X + (wire->FEnd.X - wire->FStart.X) / 2,
                         wire->FStart.Y + (wire->FEnd.Y - wire->FStart.Y) / 2};
      }
    }
    // Bring the first element to the middle of the editor.
    if (first) {
      const TPoint view = ClientSize();
      SetScrollOffset({first->X - view.X / 2, FExtent.Y - first->Y - view.Y / 2});
    }
  }
  PaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
}

void TSubForm::SetShowGrid(bool Show) {
  FShowGrid = Show;
  PaintBox1->update();
}

bool TSubForm::FindNode(const QString& Part) {
  for (int i = 0; i < FNodes->Count(); ++i) {
    TNode* node = FNodes->NodeAtIndex(i);
    if (!node || !QString::fromLocal8Bit(node->FName).contains(Part, Qt::CaseInsensitive)) continue;
    for (int j = 0; j < FNodes->Count(); ++j) FNodes->Objects(j)->FMarked = 0;
    node->FMarked = 1;
    const TPoint view = ClientSize();
    SetScrollOffset({node->FPos.X - view.X / 2, FExtent.Y - node->FPos.Y - view.Y / 2});
    // Not RepaintAll: its bus check would end the mark at once, as the next change does.
    PaintBox1->update();
    if (FFrame.PaintBox) FFrame.PaintBox->update();
    return true;
  }
  return false;
}

bool TSubForm::UnDo() {
  const bool undone = FNodes->UndoLast();
  if (undone) RepaintAll();
  UpdateEditMenu();
  return undone;
}

bool TSubForm::ReDo() {
  const bool redone = FNodes->RedoLast();
  if (redone) RepaintAll();
  UpdateEditMenu();
  return redone;
}

bool TSubForm::DeleteAtPointer() {
  if (!FPointer || FRubberBand) return false;
  stampAction();
  TPoint p = *FPointer;
  SnapToGrid(p, FGrid_);
  // A node counts as under the pointer within the wires' hit distance; elsewhere the wire nearest
  // the pointer itself is meant, as the wire dialog picks it. A node that is no end stays.
  const bool onNode = FNodes->NodeExists(DocFromSurface(p)) && std::abs(p.X - FPointer->X) < HitTolerance &&
                      std::abs(p.Y - FPointer->Y) < HitTolerance;
  bool deleted = false;
  if (onNode) {
    deleted = FNodes->DeleteEndNode(DocFromSurface(p));
  } else {
    TTrmLine* wire = FNodes->NearestWire(DocFromSurface(*FPointer));
    deleted = FNodes->DeleteWire(wire);
  }
  if (deleted)
    RepaintAll();
  else
    QApplication::beep();
  UpdateEditMenu();
  return deleted;
}

void TSubForm::CancelWire() {
  if (!FRubberBand) return;
  updateRubberBand(FLineStart, FLineEnd);
  FRubberBand = false;
  // The button is still held; its release must not act in the mode.
  FCancelled = true;
}

void TSubForm::UpdateEditMenu() {
  if (!FNodes) return;
  Undo1->setEnabled(FNodes->FUnDoPossible());
  Redo1->setEnabled(FNodes->FReDoPossible());
  Network1->setEnabled(FNodes->FNetworkExists());
  Simulate1->setEnabled(FNodes->FNetworkExists());
  AnalyzeBus1->setEnabled(FNodes->FNetworkExists());
}

void TSubForm::FormActivate() {
  ShowModeButtons(true);
  UpdateEditMenu();
  if (FHost) FHost->ShowFindings(*this, false);
}

void TSubForm::FormDeactivate() { ShowModeButtons(false); }

void TSubForm::ShowModeButtons(bool Visible) {
  if (FHost) FHost->ShowModeButtons(Visible, FMode_);
}

void TSubForm::ShowPosition(TPoint Surface) {
  if (!FHost) return;
  const TPoint doc = DocFromSurface(Surface);
  FHost->ShowPosition("X:" + QString::number(doc.X), "Y:" + QString::number(doc.Y));
}

void TSubForm::SaveCAN(std::string& Name) {
  Name.clear();
  try {
    if (FNodes->SaveNetwork(FNodes->FFileName()))
      Name = FNodes->FFileName();
    else
      reportNothingWritten(this, FNodes->FFileName());
  } catch (const std::exception& error) {
    if (FHost) FHost->Prompts().ShowError(this, QString::fromLocal8Bit(error.what()));
  }
}

void TSubForm::SaveCANAs(QWidget* Owner, std::string& Name) {
  Name.clear();
  if (!FHost) return;
  const auto chosen = AskSaveFileName(FHost->Prompts(), Owner, "Save file as", "Busweave (*.bwn)", "BWN",
                                      ReplaceExtension(FNodes->FFileName(), "bwn"));
  if (!chosen) return;
  const std::string path = chosen->toLocal8Bit().toStdString();
  // A save that writes nothing leaves the document under the name its windows show, so later
  // saves do not go to a path the user never saw succeed.
  const std::string previousName = FNodes->FFileName();
  try {
    if (!FNodes->SaveNetwork(path)) {
      FNodes->SetFFileName(previousName);
      reportNothingWritten(Owner, path);
      return;
    }
  } catch (const std::exception& error) {
    FNodes->SetFFileName(previousName);
    FHost->Prompts().ShowError(Owner, QString::fromLocal8Bit(error.what()));
    return;
  }
  setWindowTitle(QString::fromLocal8Bit(path));
  Name = path;
  if (FFrame.Notify) FFrame.Notify(TEditorNotifyCode::enFileName, 0);
}

void TSubForm::reportNothingWritten(QWidget* Owner, const std::string& Path) {
  if (FHost)
    FHost->Prompts().ShowError(Owner, QString("Nothing was written to %1: the network is empty, and a network file "
                                              "holds at least one element.")
                                          .arg(QString::fromLocal8Bit(Path)));
}

void TSubForm::FormCloseQuery(bool& CanClose) {
  CanClose = true;
  if (FNodes->FFileState() != fstModified || !FHost) return;
  const QString text = QString::fromLocal8Bit(FNodes->FFileName()) + "\n\nFile was modified, changes will be lost!";
  if (FHost->Prompts().WarnOkAbort(this, text)) return;
  std::string name;
  SaveCANAs(this, name);
  CanClose = !name.empty();
}

void TSubForm::Options1Click() {
  if (FHost) FHost->EditOptions(*this);
}

TDocumentOptions TSubForm::Options() const {
  TDocumentOptions options;
  options.LineZL = FDefaults_.LineZL;
  options.ZLTerm = FDefaults_.ZLTerm;
  options.NoZL = FDefaults_.NoZL;
  options.ShowNames = FDefaults_.ShowNames;
  options.Extent = FExtent;
  options.DrawingFont = FDrawingFont;
  options.PictureFont = FFrame.ExportFont ? FFrame.ExportFont() : DefaultPictureFont;
  return options;
}

void TSubForm::ApplyOptions(const TDocumentOptions& Options) {
  FDefaults_.LineZL = Options.LineZL;
  FDefaults_.ZLTerm = Options.ZLTerm;
  FDefaults_.NoZL = Options.NoZL;
  FDefaults_.ShowNames = Options.ShowNames;
  SetDocExtent(Options.Extent);
  if (FFrame.Notify) {
    FFrame.Notify(TEditorNotifyCode::enWidth, FExtent.X);
    FFrame.Notify(TEditorNotifyCode::enHeight, FExtent.Y);
  }
  if (FFrame.SetExportFont) FFrame.SetExportFont(Options.PictureFont);
  FDrawingFont = Options.DrawingFont;
  RepaintAll();
}

void TSubForm::Network1Click() {
  if (!FHost) return;
  Network(
      this, *FNodes, [this] { RepaintAll(); }, FHost->Prompts());
}

void TSubForm::Simulate1Click() {
  if (!FHost) return;
  if (!FSimulation) FSimulation = new TSimulateCommand(this, *FNodes, FHost->Prompts(), [this] { RepaintAll(); });
  FSimulation->Run();
}

void TSubForm::AnalyzeBus1Click() {
  if (!FHost) return;
  if (!FAnalysis) {
    const auto mark = [this](const std::vector<TPoint>& Nodes) {
      TFinding pair;
      pair.Nodes = Nodes;
      selectFinding(&pair);
    };
    const auto show = [this](bool Raise) {
      if (FHost) FHost->ShowAnalysis(*this, Raise);
    };
    FAnalysis = new TAnalysisCommand(
        this, *FNodes, FHost->Prompts(), [this] { RepaintAll(); }, mark, show);
  }
  FAnalysis->Run();
}

TAnalysisPanel* TSubForm::AnalysisPanel() const { return FAnalysis ? FAnalysis->Panel() : nullptr; }

}  // namespace busweave

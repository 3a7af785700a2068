#include "editor/EditorWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <iterator>

#include "base/PathText.h"
#include "drawing/FitNetwork.h"
#include "editor/FindingsPanel.h"
#include "editor/LineDialog.h"
#include "editor/NodeDialog.h"
#include "gui/Prompts.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "picture/QPainterCanvas.h"
#include "simview/AdviceCommand.h"
#include "simview/AnalysisCommand.h"

namespace busweave {
namespace {

// A drag at the editor's edge scrolls one step per tick (EditorView.cpp).
constexpr int kAutoScrollTick = 30;  // ms
// Edits this close together (ms) share one background bus check of a large network.
constexpr int kCheckDelay = 40;

}  // namespace

TSubForm::TSubForm(QWidget* Parent, TFrameLink Frame, const std::string& FileName, TPoint Size, TPoint Scale,
                   TEditorHost* Host)
    : QWidget(Parent), FFrame(std::move(Frame)), FHost(Host), FScale_(Scale) {
  setAutoFillBackground(true);
  setPalette(QPalette(Qt::white));
  resize(448, 352);
  setupView();
  setupSurfaceKeys();
  setupMenus();
  loadDocument(FileName, Size);
  UpdateEditMenu();
  RecheckBus();
}

void TSubForm::setupView() {
  FScrollBox1 = new QScrollArea(this);
  FScrollBox1->setObjectName("ScrollBox1");
  FScrollBox1->setFrameShape(QFrame::NoFrame);
  FScrollBox1->setWidgetResizable(false);
  // Scroll bars that came and went with the surface would resize the viewport after a zoom had
  // placed the document in it, and the clamped scroll would move the document off its place.
  FScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FScrollBox1->setBackgroundRole(QPalette::Base);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FScrollBox1);

  FPaintBox1 = new TPaintSurface;
  FPaintBox1->setObjectName("PaintBox1");
  FPaintBox1->setAutoFillBackground(true);
  FPaintBox1->setPalette(QPalette(Qt::white));
  FPaintBox1->setMouseTracking(true);
  FPaintBox1->OnPaint = [this](QPaintEvent* Event) { PaintBox1Paint(Event); };
  FPaintBox1->OnMouseDown = [this](QMouseEvent* Event) { PaintBox1MouseDown(SurfaceFromPixel(Event->position())); };
  FPaintBox1->OnMouseMove = [this](QMouseEvent* Event) {
    FPointerPixel = FPaintBox1->mapTo(FScrollBox1->viewport(), Event->position().toPoint());
    if (FRubberBand || FMoving) followDrag(Event->position());
    PaintBox1MouseMove(SurfaceFromPixel(Event->position()));
  };
  FPaintBox1->OnMouseUp = [this](QMouseEvent* Event) {
    // Only the release of the last held button ends an action.
    if (Event->buttons() == Qt::NoButton) PaintBox1MouseUp(SurfaceFromPixel(Event->position()));
  };
  FCheckDelay = new QTimer(this);
  FCheckDelay->setSingleShot(true);
  FCheckDelay->setInterval(kCheckDelay);
  connect(FCheckDelay, &QTimer::timeout, this, [this] { startBackgroundCheck(); });
  FAutoScroll = new QTimer(this);
  FAutoScroll->setInterval(kAutoScrollTick);
  connect(FAutoScroll, &QTimer::timeout, this, [this] { autoScrollStep(); });
  FScrollBox1->setWidget(FPaintBox1);
  // The overview marks the part the editor shows.
  for (QScrollBar* bar : {FScrollBox1->horizontalScrollBar(), FScrollBox1->verticalScrollBar()})
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (FFrame.PaintBox) FFrame.PaintBox->update();
    });
  FScrollBox1->viewport()->installEventFilter(this);
  FPaintBox1->installEventFilter(this);
}

void TSubForm::setupSurfaceKeys() {
  // A click on the drawing gives the editor the keys of the surface.
  FPaintBox1->setFocusPolicy(Qt::ClickFocus);
  FDeleteUnderPointer = new QAction("Delete", this);
  FDeleteUnderPointer->setShortcut(QKeySequence(Qt::Key_Delete));
  FDeleteUnderPointer->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(FDeleteUnderPointer, &QAction::triggered, this, [this] { DeleteAtPointer(); });
  FCancelRubberBand = new QAction("Cancel", this);
  FCancelRubberBand->setShortcut(QKeySequence(Qt::Key_Escape));
  FCancelRubberBand->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(FCancelRubberBand, &QAction::triggered, this, [this] { CancelWire(); });
  addActions({FDeleteUnderPointer, FCancelRubberBand});
}

void TSubForm::setupMenus() {
  FEdit1 = new QMenu("&Edit", this);
  FUndo1 = FEdit1->addAction("&Undo");
  FUndo1->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Backspace), QKeySequence(Qt::CTRL | Qt::Key_Z)});
  FUndo1->setStatusTip("Undo changes");
  FRedo1 = FEdit1->addAction("&Redo");
  FRedo1->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  FRedo1->setStatusTip("Redo what was undone");
  connect(FRedo1, &QAction::triggered, this, [this] { ReDo(); });
  FEdit1->addSeparator();
  FNetwork1 = FEdit1->addAction("&Network");
  FNetwork1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  FNetwork1->setStatusTip("Create/modify the network");
  connect(FUndo1, &QAction::triggered, this, [this] { UnDo(); });
  connect(FNetwork1, &QAction::triggered, this, [this] { Network1Click(); });
  FSimulate1 = FEdit1->addAction("&Simulate");
  FSimulate1->setShortcut(QKeySequence(Qt::Key_F9));
  FSimulate1->setStatusTip("Simulate the network with ngspice and show the waveforms");
  connect(FSimulate1, &QAction::triggered, this, [this] { Simulate1Click(); });
  FEdit1->addSeparator();
  FCheckBus1 = FEdit1->addAction("Check &bus");
  FCheckBus1->setShortcut(QKeySequence(Qt::Key_F7));
  FCheckBus1->setStatusTip("Check the bus against the rules of a CAN physical layer");
  connect(FCheckBus1, &QAction::triggered, this, [this] { CheckBus1Click(); });
  FAnalyzeBus1 = FEdit1->addAction("&Analyze bus");
  FAnalyzeBus1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F9));
  FAnalyzeBus1->setStatusTip("Simulate each station transmitting and tell at which bit rates the bus works");
  connect(FAnalyzeBus1, &QAction::triggered, this, [this] { AnalyzeBus1Click(); });
  FAdvise1 = FEdit1->addAction("How to make it &work...");
  FAdvise1->setStatusTip("Search the smallest changes to terminations, stubs and trunk that make the bus work");
  connect(FAdvise1, &QAction::triggered, this, [this] { Advise1Click(); });
  FFindingsPanel = new TFindingsPanel;
  FFindingsPanel->OnSelect = [this](const TFinding* Finding) { selectFinding(Finding); };
  FFindingsPanel->OnBitRateChanged = [this] { RecheckBus(); };
  FOptions1 = new QAction("&Options", this);
  FOptions1->setStatusTip("Define general option");
  connect(FOptions1, &QAction::triggered, this, [this] { Options1Click(); });
  // The menu bar's item alone opens no menu to walk with the keys; the Edit menu and a shortcut
  // reach the dialog from the keyboard.
  FOptions1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  FEdit1->addSeparator();
  FEdit1->addAction(FOptions1);
}

void TSubForm::loadDocument(const std::string& FileName, TPoint Size) {
  FNodes = TCanNodes::CreateWithImpedances(FDefaults_.ZLTerm, FDefaults_.NoZL, FDefaults_.LineZL);
  FNodes->OnBeep = [] { QApplication::beep(); };
  FNodes->LoadNetwork(FileName);
  // What could be read of a damaged file stays open; marking it modified makes closing ask
  // before the rest of the file is lost by a save. A file of which nothing was read leaves
  // nothing to lose, so the new document stays unmodified.
  if (LoadFailed() && FNodes->Count() > 0) FNodes->MarkModified();
  FHasFile = FNodes->LastLoadError().Outcome == TLoadOutcome::Complete;
  // Saves replace the file by way of a new one beside it, so the folder must be writable too. A
  // file without any write permission counts as read-only even for a user who could write it.
  const QFileInfo file(QString::fromLocal8Bit(FileName));
  const QFile::Permissions writes = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
  FReadOnly = FNodes->LastLoadError().Outcome != TLoadOutcome::Missing && file.isFile() &&
              (!file.isWritable() || !(file.permissions() & writes) || !QFileInfo(file.absolutePath()).isWritable());
  updateTitle();
  if (FNodes->FNumNodes() > 0)
    FitDocument();
  else
    SetDocExtent(Size);
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

QString TSubForm::Caption() const { return QString::fromLocal8Bit(FNodes->FFileName()); }

void TSubForm::updateTitle() { setWindowTitle(Caption() + (FReadOnly ? " (read-only)" : "")); }

QList<QAction*> TSubForm::MergedMenus() const { return {FEdit1->menuAction(), FOptions1}; }

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
  QPainter painter(FPaintBox1);
  painter.setClipRegion(Event->region());
  painter.translate(FOrigin);
  painter.scale(FZoom, FZoom);
  TQPainterCanvas canvas(painter);
  canvas.SetFont(FDrawingFont);
  SetMapping(canvas);
  const std::int32_t w = shownWidth();
  const std::int32_t h = shownHeight();
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
  // A node being moved: its circle and wires at the drop point, drawn the same way.
  if (FMoving && FMoveTo != FMoveFrom) {
    painter.setPen(QPen(Qt::black, 0, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    for (const TPoint& end : FMoveEnds) painter.drawLine(FMoveTo.X, FMoveTo.Y, end.X, end.Y);
    painter.drawEllipse(QPoint(FMoveTo.X, FMoveTo.Y), FNodeRadius_, FNodeRadius_);
  }
}

void TSubForm::EditNode(TNode& Node, TPoint P) {
  TFKnoten dialog(this);
  dialog.FDefaultZL = FDefaults_.ZLTerm;
  dialog.FDefaultNoZL = FNodes->FNoZL;
  dialog.ReportError = [this, &dialog](const QString& Message) {
    if (FHost) FHost->Prompts().ShowError(&dialog, Message);
  };
  dialog.move(FPaintBox1->mapToGlobal(PixelFromSurface(P)));
  const bool marked = FMarksSet;  // the dialog's own mark ends with it
  Node.FMarked = 1;
  FMarksSet = true;
  RedrawNode(Node);
  dialog.CheckBoxQuelle->setChecked(Node.FSource == 1);
  dialog.CheckBoxName->setChecked(Node.FShowName != 0);
  dialog.EditName->setText(QString::fromStdString(NameToUtf8(Node.FName)));
  dialog.EditZL->setText(QString::number(Node.FResistance));

  const int result = FHost ? FHost->Prompts().ExecDialog(dialog) : mrCancel;
  if (result == mrOk) {
    Node.FMarked = 0;
    FMarksSet = marked;
    FNodes->BackupNode(&Node);
    const TReach before = reachOf(Node);
    Node.FSource = dialog.CheckBoxQuelle->isChecked() ? 1 : 0;
    Node.FName = CutShortString(dialog.NameBytes());
    Node.FShowName = dialog.CheckBoxName->isChecked() ? 1 : 0;
    Node.FResistance = dialog.Resistance();
    repaintChanged({before, reachOf(Node)});
  } else if (result == mrDelete && FNodes->DeleteEndNode(DocFromSurface(P))) {
    RepaintAll();
  } else {
    Node.FMarked = 0;
    FMarksSet = marked;
    RedrawNode(Node);
  }
  UpdateEditMenu();
}

void TSubForm::EditWire(TTrmLine& Wire, TPoint P) {
  const bool marked = FMarksSet;  // the dialog's own mark ends with it
  Wire.FMarked = 1;
  FMarksSet = true;
  RedrawWire(Wire);
  TLineDlg dialog(this);
  dialog.move(FPaintBox1->mapToGlobal(PixelFromSurface(P)));
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
    FMarksSet = marked;
    FNodes->BackupWire(&Wire);
    const TReach before = reachOf(Wire);
    Wire.FImpedance = dialog.Impedance();
    Wire.FLength = dialog.Length();
    Wire.FShowLength = dialog.CheckBoxShowLength->isChecked() ? 1 : 0;
    repaintChanged({before, reachOf(Wire)});
  } else if (result == mrDelete) {
    TTrmLine* wire = &Wire;
    FNodes->DeleteWire(wire);
    RepaintAll();
  } else {
    Wire.FMarked = 0;
    FMarksSet = marked;
    RedrawWire(Wire);
  }
  UpdateEditMenu();
}

void TSubForm::RedrawNode(const TNode& Node) {
  const TPoint r{FNodeRadius_ + 2, FNodeRadius_ + 2};
  FPaintBox1->repaint(PixelRect(QRect(Node.FPos.X - r.X, FExtent.Y - Node.FPos.Y - r.Y, 2 * r.X + 1, 2 * r.Y + 1)));
}

void TSubForm::RedrawWire(const TTrmLine& Wire) {
  const int left = std::min(Wire.FStart.X, Wire.FEnd.X);
  const int right = std::max(Wire.FStart.X, Wire.FEnd.X);
  const int top = FExtent.Y - std::max(Wire.FStart.Y, Wire.FEnd.Y);
  const int bottom = FExtent.Y - std::min(Wire.FStart.Y, Wire.FEnd.Y);
  const int margin = 60;  // the label lies beside the wire
  FPaintBox1->repaint(PixelRect(QRect(QPoint(left - margin, top - margin), QPoint(right + margin, bottom + margin))));
}

void TSubForm::RepaintAll() {
  if (FAnalysis) FAnalysis->NetworkChanged();
  if (FAdvice) FAdvice->NetworkChanged();
  drawingChanged();
  FPaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
  RecheckBus();
}

TReach TSubForm::reachOf(const TMyClasses& Element) const {
  // As PlotNetwork allows for the screen font at one unit per pixel.
  const std::int64_t textHeight = FontHeightFor(FDrawingFont, ptScreen, FPaintBox1->logicalDpiY()) + 1;
  if (Element.Kind() != TMyClasses::TKind::Node) return WireReach(static_cast<const TTrmLine&>(Element), textHeight);
  TReach reach = NodeReach(static_cast<const TNode&>(Element), plotSettings(), textHeight);
  reach.Left -= 8 * textHeight;  // a name given in a dialog gets its number ("[65535] ") when drawn
  return reach;
}

void TSubForm::repaintChanged(const std::vector<TReach>& Changed) {
  if (FAnalysis) FAnalysis->NetworkChanged();
  if (FAdvice) FAdvice->NetworkChanged();
  drawingChanged();
  // Clearing the highlight marks may change any element.
  if (FMarksSet) {
    FPaintBox1->update();
  } else {
    auto clamped = [](std::int64_t V) { return static_cast<int>(std::clamp<std::int64_t>(V, -(1 << 30), 1 << 30)); };
    for (const TReach& r : Changed) {
      const QRect surface(QPoint(clamped(r.Left), clamped(std::int64_t{FExtent.Y} - r.Top)),
                          QPoint(clamped(r.Right), clamped(std::int64_t{FExtent.Y} - r.Bottom)));
      FPaintBox1->update(PixelRect(surface).adjusted(-2, -2, 2, 2));
    }
  }
  if (FFrame.PaintBox) FFrame.PaintBox->update();
  RecheckBus();
}

std::shared_ptr<const TCanNodes> TSubForm::NetworkSnapshot() {
  if (!FSnapshot || FSnapshotVersion != FDrawingVersion) {
    FSnapshot = FNodes->Snapshot();
    FSnapshotVersion = FDrawingVersion;
  }
  return FSnapshot;
}

void TSubForm::SetShowGrid(bool Show) {
  FShowGrid = Show;
  FPaintBox1->update();
}

std::optional<QString> TSubForm::FindNode(const QString& Part) {
  for (int i = 0; i < FNodes->Count(); ++i) {
    TNode* node = FNodes->NodeAtIndex(i);
    if (!node) continue;
    const QString name = QString::fromStdString(NameToUtf8(node->FName));
    if (!name.contains(Part, Qt::CaseInsensitive)) continue;
    for (int j = 0; j < FNodes->Count(); ++j) FNodes->Objects(j)->FMarked = 0;
    node->FMarked = 1;
    FMarksSet = true;
    scrollToMiddle({node->FPos.X, FExtent.Y - node->FPos.Y});
    // Not RepaintAll: its bus check would end the mark at once, as the next change does.
    drawingChanged();
    FPaintBox1->update();
    if (FFrame.PaintBox) FFrame.PaintBox->update();
    return name;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> TSubForm::inPlaceStep(const TStringList& History) const {
  if (History.Count() == 0) return std::nullopt;
  const std::int32_t tick = History.Objects(History.Count() - 1)->FTick;
  std::vector<std::string> keys;
  for (int i = History.Count() - 1; i >= 0 && History.Objects(i)->FTick == tick; --i) {
    int index = 0;
    if (History.Objects(i)->FAction != uaChanged || !FNodes->Find(History.Strings(i), index)) return std::nullopt;
    keys.push_back(History.Strings(i));
  }
  return keys;
}

bool TSubForm::stepHistory(bool Undo) {
  const std::optional<std::vector<std::string>> keys = inPlaceStep(Undo ? FNodes->FUnDoList() : FNodes->FReDoList());
  std::vector<TReach> changed;
  auto collect = [&] {
    for (const std::string& key : keys.value_or(std::vector<std::string>{}))
      if (int index = 0; FNodes->Find(key, index)) changed.push_back(reachOf(*FNodes->Objects(index)));
  };
  collect();
  const int count = FNodes->Count();
  const bool stepped = Undo ? FNodes->UndoLast() : FNodes->RedoLast();
  if (stepped && keys && FNodes->Count() == count) {
    collect();
    repaintChanged(changed);
  } else if (stepped) {
    RepaintAll();
  }
  UpdateEditMenu();
  return stepped;
}

bool TSubForm::UnDo() { return stepHistory(true); }

bool TSubForm::ReDo() { return stepHistory(false); }

void TSubForm::UpdateEditMenu() {
  if (!FNodes) return;
  FUndo1->setEnabled(FNodes->FUnDoPossible());
  FRedo1->setEnabled(FNodes->FReDoPossible());
  FNetwork1->setEnabled(FNodes->FNetworkExists());
  FSimulate1->setEnabled(FNodes->FNetworkExists());
  FAnalyzeBus1->setEnabled(FNodes->FNetworkExists());
  FAdvise1->setEnabled(FNodes->FNetworkExists());
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
  if (FReadOnly) {
    SaveCANAs(window(), Name);
    return;
  }
  try {
    if (FNodes->SaveNetwork(FNodes->FFileName())) {
      Name = FNodes->FFileName();
      FHasFile = true;
    } else {
      reportNothingWritten(this, FNodes->FFileName());
    }
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
  FReadOnly = false;
  FHasFile = true;
  updateTitle();
  Name = path;
  if (FFrame.Notify) FFrame.Notify(TEditorNotifyCode::enFileName, 0);
  FHost->FileSavedAs(QString::fromLocal8Bit(path));
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
  switch (FHost->Prompts().AskSaveChanges(this, text)) {
    case TSaveChanges::Discard:
      return;
    case TSaveChanges::Cancel:
      CanClose = false;
      return;
    case TSaveChanges::Save:
      break;
  }
  std::string name;
  if (FHasFile)
    SaveCAN(name);
  else
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

}  // namespace busweave

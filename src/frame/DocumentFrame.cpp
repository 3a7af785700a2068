#include "frame/DocumentFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "base/PathText.h"
#include "drawing/NetworkDrawing.h"
#include "editor/EditorWindow.h"
#include "frame/PictureExportCommands.h"
#include "frame/PrintCommands.h"
#include "gui/Prompts.h"
#include "picture/QPainterCanvas.h"

namespace busweave {
namespace {

// The overview never gets thinner than this (pixels), however long and narrow the document: a
// window of no height is never painted again, so it could not take new proportions.
constexpr int kThinnestOverview = 24;

// Multiply, then divide, rounded to nearest.
int mulDiv(std::int64_t A, std::int64_t B, std::int64_t C) {
  if (C == 0) return 0;
  return static_cast<int>(std::llround(static_cast<long double>(A) * B / C));
}

// The overview picture: the whole network drawn into an image of the surface's size and
// resolution, mapped as the overview shows it.
QImage drawOverview(TCanNodes& Net, const TPlotSettings& Settings, QSize Size, TPoint DocSize, QPoint Dpi) {
  QImage image(Size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
  image.setDotsPerMeterX(static_cast<int>(std::lround(Dpi.x() / 0.0254)));
  image.setDotsPerMeterY(static_cast<int>(std::lround(Dpi.y() / 0.0254)));
  image.fill(Qt::white);
  QPainter painter(&image);
  TQPainterCanvas canvas(painter);
  TMapping mapping;
  mapping.Isotropic = true;
  mapping.WindowExt = DocSize;
  mapping.ViewportExt = {Size.width(), -Size.height()};
  mapping.WindowOrg = {0, DocSize.Y};
  canvas.SetMapping(mapping);
  PlotNetwork(canvas, Net, Settings, ptScreen, true, {1, 1});
  return image;
}

// Edits this close together (ms) share one new overview picture of a large network.
constexpr int kOverviewDelay = 40;

// Rounds to nearest with ties to even, as the status bar's positions want.
int roundEven(long double Value) { return static_cast<int>(std::nearbyint(Value)); }

}  // namespace

QString FileNamePart(const QString& Path) { return QString::fromStdString(FileNameOf(Path.toStdString())); }

TMDIChild::TMDIChild(TEditorHost* Host, std::string Path, TPoint Size)
    : FHost(Host), FDocSize_(Size), FDocPath_(std::move(Path)) {
  setAutoFillBackground(true);
  setPalette(QPalette(Qt::white));
  PaintBox1 = new TOverviewSurface(this);
  PaintBox1->setObjectName("PaintBox1");
  PaintBox1->setMouseTracking(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(PaintBox1);

  auto pointOf = [](QMouseEvent* Event) {
    return TPoint{static_cast<std::int32_t>(Event->position().x()), static_cast<std::int32_t>(Event->position().y())};
  };
  PaintBox1->OnPaint = [this](QPaintEvent*) { PaintBox1Paint(); };
  FOverviewDelay = new QTimer(this);
  FOverviewDelay->setSingleShot(true);
  connect(FOverviewDelay, &QTimer::timeout, this, [this] { startOverview(); });
  PaintBox1->OnMouseDown = [this, pointOf](QMouseEvent* Event) {
    FDragging = true;
    FPressPos = pointOf(Event);
    ShowCoordinates(FPressPos);
  };
  PaintBox1->OnMouseMove = [this, pointOf](QMouseEvent* Event) {
    const TPoint p = pointOf(Event);
    ShowCoordinates(p);
    const std::int64_t dx = p.X - FPressPos.X;
    const std::int64_t dy = p.Y - FPressPos.Y;
    if (FDragging && dx * dx + dy * dy > 25) ScrollEditorTo(p);
  };
  PaintBox1->OnMouseUp = [this](QMouseEvent*) {
    if (!FDragging) return;
    FDragging = false;
    FPressPos = {0, 0};
  };
  PaintBox1->OnDoubleClick = [this](QMouseEvent*) { ScrollEditorTo(FLastPos); };

  Option1 = new QMenu("&Options", this);
  ClipboardExportWMF = Option1->addAction("Export to clipboard as &Metafile");
  ClipboardExportWMF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  ClipboardExportWMF->setStatusTip("Copy image as Win3.x metafile to clipboard");
  ClipboardExportEMF = Option1->addAction("Export to clipboard as &extended Metafile");
  ClipboardExportEMF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  ClipboardExportEMF->setStatusTip("Copy image as enhanced metafile to clipboard");
  Option1->addSeparator();
  SaveAsMetafileWMF = Option1->addAction("Save as Metafile (&WMF)");
  SaveAsMetafileWMF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  SaveAsMetafileWMF->setStatusTip("Save image as Win3.x metafile");
  SaveAsMetafileEMF = Option1->addAction("Save as enhanced Metafile (&EMF)");
  SaveAsMetafileEMF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  SaveAsMetafileEMF->setStatusTip("Save image as enhanced metafile");
  SaveAsSVG = Option1->addAction("Save as &SVG");
  SaveAsSVG->setStatusTip("Save image as SVG picture");
  SaveAsPDF = Option1->addAction("Save as &PDF");
  SaveAsPDF->setStatusTip("Save image as PDF document");
  connect(ClipboardExportWMF, &QAction::triggered, this, [this] { ExportPicture(ptClipWMF); });
  connect(ClipboardExportEMF, &QAction::triggered, this, [this] { ExportPicture(ptClipEMF); });
  connect(SaveAsMetafileWMF, &QAction::triggered, this, [this] { ExportPicture(ptFileWMF); });
  connect(SaveAsMetafileEMF, &QAction::triggered, this, [this] { ExportPicture(ptFileEMF); });
  connect(SaveAsSVG, &QAction::triggered, this, [this] { SaveVectorPicture(true); });
  connect(SaveAsPDF, &QAction::triggered, this, [this] { SaveVectorPicture(false); });
}

TPictureSource TMDIChild::pictureSource() const {
  TPictureSource source;
  source.DocSize = FDocSize_;
  source.Scale = FScale;
  source.DocPath = FDocPath_;
  source.Font = FPictureFont;
  TSubForm* editor = FEditor;
  source.PlotIt = [editor](Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale) {
    if (editor) editor->PlotIt(C, Target, MakeFont, Scale);
  };
  return source;
}

void TMDIChild::ExportPicture(TPlotTarget Target) {
  if (!FHost) return;
  busweave::ExportPicture(this, pictureSource(), Target, FHost->Prompts());
}

void TMDIChild::SaveVectorPicture(bool Svg) {
  if (!FHost) return;
  busweave::SaveVectorPicture(this, pictureSource(), Svg ? TVectorFormat::Svg : TVectorFormat::Pdf, FHost->Prompts());
}

void TMDIChild::Print() {
  if (!FHost) return;
  PrintDocument(this, pictureSource(), FHost->Prompts(), FPrintLayout);
}

void TMDIChild::PrintPreview() {
  if (!FHost) return;
  PreviewDocument(this, pictureSource(), FHost->Prompts(), FPrintLayout);
}

TMDIChild* TMDIChild::Open(QMdiArea* Area, TEditorHost* Host, const std::string& Path, TPoint Size) {
  auto* frame = new TMDIChild(Host, Path, Size);
  frame->FWindow = Area->addSubWindow(frame);
  frame->FWindow->setAttribute(Qt::WA_DeleteOnClose);
  frame->FWindow->installEventFilter(frame);
  frame->FWindow->setWindowTitle(QString::fromLocal8Bit(Path));

  TFrameLink link;
  link.PaintBox = frame->PaintBox1;
  link.ExportFont = [frame] { return frame->FPictureFont; };
  link.Notify = [frame](TEditorNotifyCode Code, int Value) { frame->WMEditorNotify(Code, Value); };
  link.SetExportFont = [frame](const TFontSpec& Font) { frame->FPictureFont = Font; };
  frame->FEditor = new TSubForm(nullptr, link, Path, Size, frame->FScale, Host);
  // The editor has a frame of its own, so that it can be resized, maximised and minimised like
  // the overview.
  frame->FEditorWindow = Area->addSubWindow(frame->FEditor);
  frame->FEditorWindow->installEventFilter(frame);
  frame->FEditorWindow->setWindowTitle(frame->FEditor->windowTitle());
  QObject::connect(frame->FEditor, &QWidget::windowTitleChanged, frame->FEditorWindow, &QWidget::setWindowTitle);
  QObject::connect(frame->FWindow, &QMdiSubWindow::windowStateChanged, frame,
                   [frame](Qt::WindowStates Old, Qt::WindowStates New) {
                     if (!frame->FEditorWindow) return;
                     if (New & Qt::WindowMinimized)
                       frame->FEditorWindow->showMinimized();
                     else if ((Old & Qt::WindowMinimized) && !(New & Qt::WindowMaximized))
                       frame->FEditorWindow->showNormal();
                   });
  frame->FWindow->show();
  // The first client size follows the size the document was opened with; the first paint
  // brings it to the proportions the editor has reported since.
  frame->SetClientSize({300, mulDiv(300, Size.Y, Size.X)});
  frame->FEditorWindow->show();
  frame->placeWindows(Area);
  frame->keepReachable();
  // The area shrinks when the main window does or a dock opens beside it.
  Area->viewport()->installEventFilter(frame);
  return frame;
}

TMDIChild::~TMDIChild() = default;

void TMDIChild::SetClientSize(TPoint Size) {
  if (!FWindow) return;
  const QSize margins = FWindow->size() - size();
  FWindow->resize(QSize(Size.X, Size.Y) + margins);
}

void TMDIChild::placeWindows(QMdiArea* Area) {
  // The overview stands at the right, the editor takes the room to its left; later documents
  // are set a little lower so that earlier ones still show their titles.
  const int documents = static_cast<int>(Area->subWindowList().size()) / 2 - 1;
  const int offset = 24 * std::max(0, documents % 8);
  const QSize area = Area->viewport()->size();
  const int frameX = std::max(0, area.width() - FWindow->width());
  FWindow->move(frameX, offset);
  const int editorWidth = std::max(200, frameX - 4);
  FEditorWindow->setGeometry(0, offset, editorWidth, std::max(200, area.height() - offset));
}

void TMDIChild::keepReachable() {
  if (!FWindow || FClosing || FWindow->isMinimized() || FWindow->isMaximized() || !FWindow->mdiArea()) return;
  const QSize room = FWindow->mdiArea()->viewport()->size();
  if (room.width() <= 0 || room.height() <= 0) return;
  const QSize margins = FWindow->size() - size();
  if (FWindow->width() > room.width() || FWindow->height() > room.height()) {
    const QSize client = size().scaled((room - margins).expandedTo(QSize(1, 1)), Qt::KeepAspectRatio);
    SetClientSize({client.width(), client.height()});
  }
  const int x = std::clamp(FWindow->x(), 0, std::max(0, room.width() - FWindow->width()));
  const int y = std::clamp(FWindow->y(), 0, std::max(0, room.height() - FWindow->height()));
  if (QPoint(x, y) != FWindow->pos()) FWindow->move(x, y);
}

QList<QAction*> TMDIChild::MergedMenus() const { return {Option1->menuAction()}; }

void TMDIChild::WMEditorNotify(TEditorNotifyCode Code, int Value) {
  switch (Code) {
    case TEditorNotifyCode::enWidth:
      FDocSize_.X = Value;
      break;
    case TEditorNotifyCode::enHeight:
      FDocSize_.Y = Value;
      break;
    case TEditorNotifyCode::enFileName:
      if (!FEditor) break;
      // Printing and picture export name the document by this path (dialog, footer, PDF title).
      FDocPath_ = FEditor->Nodes().FFileName();
      if (FWindow) FWindow->setWindowTitle(FileNamePart(FEditor->Caption()));
      break;
  }
}

void TMDIChild::fitProportions() {
  if (FDocSize_.X <= 0 || FDocSize_.Y <= 0) return;
  QSize wanted = size();
  if (FDocSize_.Y > FDocSize_.X)
    wanted.setWidth(std::max(kThinnestOverview, mulDiv(height(), FDocSize_.X, FDocSize_.Y)));
  else
    wanted.setHeight(std::max(kThinnestOverview, mulDiv(width(), FDocSize_.Y, FDocSize_.X)));
  if (wanted != size() && FWindow && !FWindow->isMinimized() && !FWindow->isMaximized())
    SetClientSize({wanted.width(), wanted.height()});
}

TMDIChild::TOverviewKey TMDIChild::overviewKey() const {
  return {PaintBox1->size(), FDocSize_, FEditor ? FEditor->DrawingVersion() : 0};
}

bool TMDIChild::OverviewCurrent() const { return FOverviewKey == overviewKey(); }

void TMDIChild::PaintBox1Paint() {
  fitProportions();
  if (!FEditor) return;
  // The picture is kept until the network, its drawing or the overview's size changes.
  const TOverviewKey key = overviewKey();
  const QPoint dpi(PaintBox1->logicalDpiX(), PaintBox1->logicalDpiY());
  if (FOverviewKey != key) {
    if (FEditor->Nodes().Count() < FBackgroundOverviewFrom) {
      FOverviewDelay->stop();
      FOverviewJob.Cancel();
      FPendingKey.reset();
      FOverview = drawOverview(FEditor->Nodes(), FEditor->DrawingSettings(), key.Size, key.DocSize, dpi);
      FOverviewKey = key;
    } else if (FPendingKey != key) {
      // Started once a burst of edits has ended and the edit has been painted, so that the
      // copy of the network it needs is made once and shared with the editor's bus check.
      FPendingKey = key;
      FOverviewDelay->start(FOverview.isNull() ? 0 : kOverviewDelay);
    }
  }
  if (FOverview.isNull()) return;
  QPainter painter(PaintBox1);
  painter.drawImage(0, 0, FOverview);
  // The part the editor shows, when it does not show the whole document.
  const auto [lower, upper] = FEditor->VisibleDocument();
  const TPoint extent = FEditor->DocExtent();
  if (lower.X <= 0 && lower.Y <= 0 && upper.X >= extent.X && upper.Y >= extent.Y) return;
  TQPainterCanvas canvas(painter);
  TMapping mapping;
  mapping.Isotropic = true;
  mapping.WindowExt = FDocSize_;
  mapping.ViewportExt = {PaintBox1->width(), -PaintBox1->height()};
  mapping.WindowOrg = {0, FDocSize_.Y};
  canvas.SetMapping(mapping);
  canvas.SetPen({clBlue, TPenStyle::psSolid, 1});
  canvas.Polyline({lower, {upper.X, lower.Y}, upper, {lower.X, upper.Y}, lower});
}

void TMDIChild::startOverview() {
  if (!FEditor) return;
  // Drawn from a copy of the network on the job's thread; the names are numbered there as the
  // editor numbers them, from the same order.
  const TOverviewKey key = overviewKey();
  FPendingKey = key;
  const QPoint dpi(PaintBox1->logicalDpiX(), PaintBox1->logicalDpiY());
  std::shared_ptr<const TCanNodes> snapshot = FEditor->NetworkSnapshot();
  FOverviewJob.Run(
      [snapshot, settings = FEditor->DrawingSettings(), key, dpi](const TJobRun&) {
        std::unique_ptr<TCanNodes> net = snapshot->Snapshot();
        return drawOverview(*net, settings, key.Size, key.DocSize, dpi);
      },
      [this, key](QImage Image) {
        FOverview = std::move(Image);
        FOverviewKey = key;
        if (FPendingKey == key) FPendingKey.reset();
        PaintBox1->update();
      });
}

void TMDIChild::ShowCoordinates(TPoint P) {
  FLastPos = P;
  if (!FHost || !FEditor || PaintBox1->width() <= 0 || PaintBox1->height() <= 0) return;
  const TPoint range = FEditor->DocExtent();
  const long double w = PaintBox1->width();
  const long double h = PaintBox1->height();
  const int x = roundEven(P.X / w * range.X);
  const int y = roundEven((h - P.Y) / h * range.Y);
  FHost->ShowPosition("X:" + QString::number(x), "Y:" + QString::number(y));
}

void TMDIChild::ScrollEditorTo(TPoint P) {
  if (!FEditor || PaintBox1->width() <= 0 || PaintBox1->height() <= 0) return;
  const TPoint range = FEditor->DocExtent();
  const long double w = PaintBox1->width();
  const long double h = PaintBox1->height();
  const long double zoom = FEditor->Zoom();
  const QPoint origin = FEditor->PixelOrigin();
  const int x = origin.x() + static_cast<int>(std::llround(P.X / w * range.X * zoom)) - FEditor->ClientSize().X / 2;
  const int y = origin.y() + static_cast<int>(std::llround(P.Y / h * range.Y * zoom)) - PaintBox1->height();
  FEditor->SetScrollOffset({x, y});
}

bool TMDIChild::CloseDocument() {
  bool canClose = true;
  if (FEditor) FEditor->FormCloseQuery(canClose);
  if (canClose) DestroyDocument();
  return canClose;
}

void TMDIChild::DestroyDocument() {
  FClosing = true;
  QMdiSubWindow* editorWindow = FEditorWindow;
  FEditorWindow = nullptr;
  FEditor = nullptr;
  if (editorWindow) {
    editorWindow->removeEventFilter(this);
    editorWindow->setAttribute(Qt::WA_DeleteOnClose);
    editorWindow->close();
  }
  if (FWindow) FWindow->close();
}

bool TMDIChild::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::Resize && FWindow && FWindow->mdiArea() && Watched == FWindow->mdiArea()->viewport()) {
    keepReachable();
    return false;
  }
  if (Event->type() == QEvent::Close && !FClosing) {
    // Either window closing closes the document, when its editor agrees.
    Event->ignore();
    CloseDocument();
    return true;
  }
  return QWidget::eventFilter(Watched, Event);
}

}  // namespace busweave

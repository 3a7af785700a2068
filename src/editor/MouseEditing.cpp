// Mouse editing on the editor's surface: drawing wires, picking nodes and wires for their
// dialogs, placing terminations and drivers, moving nodes, and the keys that delete under the
// pointer or cancel a drag. Every release is one undo step.

#include <QApplication>
#include <QRect>
#include <QTimer>
#include <chrono>
#include <cstdlib>

#include "editor/EditorWindow.h"

namespace busweave {
namespace {

QString pointText(TPoint P) { return QString("(%1, %2)").arg(P.X).arg(P.Y); }

}  // namespace

void TSubForm::updateRubberBand(TPoint From, TPoint To) {
  const QRect area = QRect(QPoint(From.X, From.Y), QPoint(To.X, To.Y)).normalized().adjusted(-2, -2, 2, 2);
  FPaintBox1->update(PixelRect(area));
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
  if (FMode_ == mMoveNode) {
    // A node is picked as the node modes pick it: on the grid point nearest the press.
    TPoint p = Surface;
    SnapToGrid(p, FGrid_);
    if (!FNodes->NodeExists(DocFromSurface(p))) return;
    FMoving = true;
    FMoveFrom = FMoveTo = p;
    FMoveEnds.clear();
    const TPoint d = DocFromSurface(p);
    for (int i = 0; i < FNodes->Count(); ++i)
      if (const TTrmLine* wire = FNodes->WireAtIndex(i); wire && (wire->FStart == d || wire->FEnd == d)) {
        const TPoint far = wire->FStart == d ? wire->FEnd : wire->FStart;
        FMoveEnds.push_back({far.X, static_cast<std::int32_t>(std::int64_t{FExtent.Y} - far.Y)});
      }
    return;
  }
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
  if (FMoving) trackMove(Surface);
}

void TSubForm::trackMove(TPoint Surface) {
  TPoint to = Surface;
  SnapToGrid(to, FGrid_);
  if (to == FMoveTo) return;
  updateMovePreview();
  FMoveTo = to;
  updateMovePreview();
}

void TSubForm::updateMovePreview() {
  for (const TPoint& end : FMoveEnds) updateRubberBand(FMoveTo, end);
  const int r = FNodeRadius_ + 2;
  FPaintBox1->update(PixelRect(QRect(FMoveTo.X - r, FMoveTo.Y - r, 2 * r + 1, 2 * r + 1)));
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
  if (FMoving) {
    finishMove(Surface);
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
        repaintChanged({reachOf(*node)});
        UpdateEditMenu();
      }
      break;
    case mPlaceSrc:
      if (TNode* node = FNodes->NodeAt(d); node && FNodes->BackupNode(node)) {
        if (node->FSource == 0) {
          node->FSource = 1;
          repaintChanged({reachOf(*node)});
        }
        UpdateEditMenu();
      }
      break;
    case mNone:
    case mDrawTRMLine:
    case mMoveNode:
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
    // Keep in step with finishMove.
    const bool inside =
        FNodes->FMinX() > 0 && FNodes->FMinY() > 0 && FExtent.X > FNodes->FMaxX() && FExtent.Y > FNodes->FMaxY();
    if (!inside) FitDocument();
    RepaintAll();
  }
  FRubberBand = false;
  FAutoScroll->stop();
  UpdateEditMenu();
}

void TSubForm::finishMove(TPoint Surface) {
  updateMovePreview();
  FMoving = false;
  FAutoScroll->stop();
  TPoint to = Surface;
  SnapToGrid(to, FGrid_);
  const TPoint from = DocFromSurface(FMoveFrom);
  const bool onDocument = Surface.X >= 0 && Surface.Y >= 0 && Surface.X <= FExtent.X && Surface.Y <= FExtent.Y;
  if (to == FMoveFrom) return;
  if (!onDocument) {
    moveRefused("the drop point lies off the document");
    return;
  }
  const TPoint target = DocFromSurface(to);
  switch (FNodes->MoveNode(from, target)) {
    case TMoveOutcome::Moved: {
      const bool inside =
          FNodes->FMinX() > 0 && FNodes->FMinY() > 0 && FExtent.X > FNodes->FMaxX() && FExtent.Y > FNodes->FMaxY();
      if (!inside) FitDocument();
      RepaintAll();
      if (FHost) FHost->ShowMessage("Node moved");
      break;
    }
    case TMoveOutcome::Occupied:
      moveRefused("another node lies at " + pointText(target));
      break;
    case TMoveOutcome::WireExists:
      moveRefused("a wire there would join two points that are joined already");
      break;
    case TMoveOutcome::Unchanged:
    case TMoveOutcome::NoNode:
      break;
  }
  UpdateEditMenu();
}

void TSubForm::moveRefused(const QString& Why) {
  QApplication::beep();
  if (FHost) FHost->ShowMessage("The node stays at " + pointText(DocFromSurface(FMoveFrom)) + ": " + Why);
}

bool TSubForm::DeleteAtPointer() {
  if (!FPointer || FRubberBand || FMoving) return false;
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
  if (!FRubberBand && !FMoving) return;
  if (FRubberBand) updateRubberBand(FLineStart, FLineEnd);
  if (FMoving) updateMovePreview();
  FRubberBand = false;
  FMoving = false;
  FAutoScroll->stop();
  // The button is still held; its release must not act in the mode.
  FCancelled = true;
}

}  // namespace busweave

#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "shell/MainWindow.h"

// Where the main window goes on the screen: the stored placement fitted to the screens and
// applied once the window manager has framed the window.

namespace busweave {
namespace {

// The frame's share of a window: the outer window minus its client area.
QMargins frameMarginsOf(const QWidget& Window) {
  const QRect outer = Window.frameGeometry();
  const QRect inner = Window.geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

}  // namespace

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

QRect TMDIMainForm::FirstPlacement(const QRect& Available) {
  const QSize size = (QSizeF(Available.size()) * 0.8).toSize();
  const QPoint corner =
      Available.topLeft() + QPoint((Available.width() - size.width()) / 2, (Available.height() - size.height()) / 2);
  return {corner, size};
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

}  // namespace busweave

#include "gui/EventSurface.h"

namespace busweave {

void TEventSurface::paintEvent(QPaintEvent* Event) {
  if (OnPaint) OnPaint(Event);
}
void TEventSurface::mousePressEvent(QMouseEvent* Event) {
  if (OnMouseDown) OnMouseDown(Event);
}
void TEventSurface::mouseMoveEvent(QMouseEvent* Event) {
  if (OnMouseMove) OnMouseMove(Event);
}
void TEventSurface::mouseReleaseEvent(QMouseEvent* Event) {
  if (OnMouseUp) OnMouseUp(Event);
}
void TEventSurface::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (OnDoubleClick)
    OnDoubleClick(Event);
  else
    QWidget::mouseDoubleClickEvent(Event);
}

}  // namespace busweave

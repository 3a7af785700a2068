#pragma once

// A drawing surface that hands its paint and mouse events to its owner: the editor's surface
// and the frame's overview.

#include <QWidget>
#include <functional>

namespace busweave {

class TEventSurface : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  std::function<void(QPaintEvent*)> OnPaint;
  std::function<void(QMouseEvent*)> OnMouseDown;
  std::function<void(QMouseEvent*)> OnMouseMove;
  std::function<void(QMouseEvent*)> OnMouseUp;
  // Without it a double click is a second press, as for every widget.
  std::function<void(QMouseEvent*)> OnDoubleClick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
};

}  // namespace busweave

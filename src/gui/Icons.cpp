#include "gui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace busweave::icons {
namespace {

const QColor kTeal(0, 128, 128);
const QColor kInk(30, 30, 30);

// Draws a picture on a 32 x 32 grid into a transparent pixmap.
QIcon drawn(const std::function<void(QPainter&)>& Draw) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  Draw(painter);
  painter.end();
  return QIcon(pixmap);
}

void node(QPainter& P, QPointF Centre, QColor Fill = kTeal) {
  P.setPen(QPen(kInk, 1.5));
  P.setBrush(Fill);
  P.drawEllipse(Centre, 4.5, 4.5);
}

}  // namespace

QIcon Open() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.setBrush(QColor(240, 200, 90));
    P.drawRect(QRectF(4, 10, 22, 16));
    P.setBrush(QColor(250, 220, 120));
    P.drawPolygon(QPolygonF({QPointF(4, 26), QPointF(9, 15), QPointF(30, 15), QPointF(26, 26)}));
  });
}

QIcon Save() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.setBrush(QColor(60, 90, 170));
    P.drawRoundedRect(QRectF(5, 5, 22, 22), 2, 2);
    P.setBrush(Qt::white);
    P.drawRect(QRectF(9, 5, 14, 8));
    P.setBrush(QColor(200, 200, 200));
    P.drawRect(QRectF(9, 17, 14, 10));
  });
}

QIcon Exit() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.setBrush(QColor(150, 100, 60));
    P.drawRect(QRectF(6, 4, 14, 24));
    P.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(14, 16), QPointF(28, 16));
    P.drawLine(QPointF(23, 11), QPointF(28, 16));
    P.drawLine(QPointF(23, 21), QPointF(28, 16));
  });
}

QIcon ModifyNode() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 2));
    P.drawLine(QPointF(3, 20), QPointF(29, 20));
    node(P, QPointF(16, 20), QColor(255, 0, 0));
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(16, 4), QPointF(16, 11));  // an arrow picking the node
    P.drawLine(QPointF(12, 8), QPointF(16, 12));
    P.drawLine(QPointF(20, 8), QPointF(16, 12));
  });
}

QIcon ModifyWire() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(QColor(255, 0, 0), 2.5));
    P.drawLine(QPointF(6, 24), QPointF(26, 10));
    node(P, QPointF(6, 24));
    node(P, QPointF(26, 10));
    P.setPen(kInk);
    P.setFont(QFont("Arial", 7));
    P.drawText(QRectF(12, 20, 20, 10), Qt::AlignCenter, "mm");
  });
}

QIcon DrawWire() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 2.5));
    P.drawLine(QPointF(6, 26), QPointF(26, 6));
    node(P, QPointF(6, 26));
    P.setPen(QPen(kInk, 1.5, Qt::DotLine));
    P.drawLine(QPointF(26, 6), QPointF(30, 2));
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(22, 20), QPointF(30, 20));  // a plus: something new
    P.drawLine(QPointF(26, 16), QPointF(26, 24));
  });
}

QIcon MoveNode() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5, Qt::DotLine));
    P.drawLine(QPointF(3, 28), QPointF(10, 22));  // where the wire went before
    P.setPen(QPen(kInk, 2));
    P.drawLine(QPointF(3, 28), QPointF(20, 12));
    node(P, QPointF(20, 12), QColor(255, 0, 0));
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(24, 8), QPointF(30, 2));  // an arrow: the node goes there
    P.drawLine(QPointF(25, 2), QPointF(30, 2));
    P.drawLine(QPointF(30, 2), QPointF(30, 7));
  });
}

QIcon PlaceTermination() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(16, 2), QPointF(16, 8));
    P.setBrush(QColor(255, 255, 0));
    P.drawRect(QRectF(11, 8, 10, 14));
    P.drawLine(QPointF(16, 22), QPointF(16, 28));
    P.drawLine(QPointF(10, 28), QPointF(22, 28));
  });
}

QIcon PlaceDriver() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(16, 2), QPointF(16, 8));
    P.setBrush(Qt::white);
    P.drawRect(QRectF(9, 8, 14, 14));
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 0, 0));
    P.drawPolygon(QPolygonF({QPointF(16, 9), QPointF(10.5, 20.5), QPointF(21.5, 20.5)}));
    P.setPen(QPen(kInk, 1.5));
    P.drawLine(QPointF(16, 22), QPointF(16, 28));
    P.drawLine(QPointF(10, 28), QPointF(22, 28));
  });
}

QIcon Application() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 2));
    P.drawLine(QPointF(3, 12), QPointF(29, 12));
    P.drawLine(QPointF(10, 12), QPointF(10, 24));
    P.drawLine(QPointF(22, 12), QPointF(22, 24));
    node(P, QPointF(10, 24));
    node(P, QPointF(22, 24));
    node(P, QPointF(10, 12), QColor(255, 255, 0));
    node(P, QPointF(22, 12), QColor(255, 255, 0));
  });
}

QIcon Document() {
  return drawn([](QPainter& P) {
    P.setPen(QPen(kInk, 1.5));
    P.setBrush(Qt::white);
    P.drawRect(QRectF(5, 3, 22, 26));
    P.drawLine(QPointF(9, 16), QPointF(23, 16));
    node(P, QPointF(9, 16));
    node(P, QPointF(23, 16));
  });
}

}  // namespace busweave::icons

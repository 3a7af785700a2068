#include "gui/DialogWidgets.h"

#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace busweave {

QIcon DeleteIcon() {
  // A waste bin.
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1.4));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(5, 6, 10, 12));
  p.drawLine(QPointF(3, 5), QPointF(17, 5));
  p.drawLine(QPointF(8, 3), QPointF(12, 3));
  p.drawLine(QPointF(8.5, 8.5), QPointF(8.5, 15.5));
  p.drawLine(QPointF(11.5, 8.5), QPointF(11.5, 15.5));
  p.end();
  return QIcon(pixmap);
}

QIcon CancelIcon() {
  // A red cross.
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(5, 5), QPointF(15, 15));
  p.drawLine(QPointF(15, 5), QPointF(5, 15));
  p.end();
  return QIcon(pixmap);
}

QPushButton* MakeDialogButton(QWidget* Parent, const char* Name, const QString& Caption, const QIcon& Icon,
                              const QString& Tooltip, QRect Geometry) {
  auto* button = new QPushButton(Icon, Caption, Parent);
  button->setObjectName(Name);
  button->setToolTip(Tooltip);
  button->setAutoDefault(true);  // a focused button takes Enter; otherwise the default one does
  button->setGeometry(Geometry);
  return button;
}

std::optional<std::uint16_t> CheckedWord(std::int64_t Value, const QString& FieldName, QLineEdit* Field,
                                         const std::function<void(const QString&)>& Report) {
  if (Value >= 0 && Value <= 65535) return static_cast<std::uint16_t>(Value);
  if (Report) Report(QString("%1: %2 is outside the range 0 to 65535.").arg(FieldName, Field->text().trimmed()));
  Field->setFocus();
  Field->selectAll();
  return std::nullopt;
}

}  // namespace busweave

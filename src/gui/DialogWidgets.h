#pragma once

// Pieces the node and line dialogs share: the button pictures, the field font and the check
// of a typed number against the 0..65535 range of the stored values.

#include <QIcon>
#include <QString>
#include <functional>
#include <optional>

class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

namespace busweave {

QIcon DeleteIcon();
QIcon CancelIcon();

// A button of the dialogs' bottom row.
QPushButton* MakeDialogButton(QWidget* Parent, const char* Name, const QString& Caption, const QIcon& Icon,
                              const QString& Tooltip, QRect Geometry);

// The value of a field when it lies in 0..65535; otherwise Report gets a message naming the
// field and the range, the field is selected, and nothing comes back.
std::optional<std::uint16_t> CheckedWord(std::int64_t Value, const QString& FieldName, QLineEdit* Field,
                                         const std::function<void(const QString&)>& Report);

}  // namespace busweave

// Busweave's entry point: the single-instance guard, the application's looks, the main window.

#include <QApplication>
#include <QMessageBox>
#include <QProxyStyle>
#include <QTimer>
#include <QToolTip>

#include "guard/InstanceGuard.h"
#include "guard/Platform.h"
#include "gui/Prompts.h"
#include "shell/MainWindow.h"

namespace {

const char* const kTitle = "Busweave-V2";

// Tooltips show after the pointer has rested 200 ms on a control.
class HintStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                QStyleHintReturn* Return) const override {
    if (Hint == QStyle::SH_ToolTip_WakeUpDelay) return 200;
    return QProxyStyle::styleHint(Hint, Option, Widget, Return);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool multiUser = busweave::OSPlatform() == busweave::TPlatform::MultiUser;

  busweave::TInstanceGuard guard(kTitle);
  if (multiUser && !guard.TryAcquire()) {
    QMessageBox box(QMessageBox::Information, kTitle, busweave::AlreadyRunningText(), QMessageBox::Ok);
    // Automated runs (BUSWEAVE_ANSWER_PROMPTS=ok) answer the box themselves.
    if (qEnvironmentVariable("BUSWEAVE_ANSWER_PROMPTS") == "ok") QTimer::singleShot(0, &box, &QMessageBox::accept);
    box.exec();
    return busweave::AlreadyRunningExitCode;
  }

  busweave::SetApplicationTitle();
  app.setStyle(new HintStyle);
  busweave::TDialogPrompts prompts;
  busweave::TMDIMainForm form(prompts);
  form.setWindowTitle(kTitle);
  if (!multiUser) {
    QPalette hints = QToolTip::palette();
    hints.setColor(QPalette::ToolTipBase, QColor(255, 255, 0));
    QToolTip::setPalette(hints);
  }
  form.show();
  return QApplication::exec();
}

// Busweave's entry point: the single-instance guard, the application's looks, the main window.

#include <QApplication>
#include <QDir>
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

// The network files named on the command line, absolute so that a copy started elsewhere finds
// them too. Options are not files; after "--" everything is.
QStringList filesToOpen(const QStringList& Arguments) {
  QStringList files;
  bool optionsEnded = false;
  for (const QString& argument : Arguments.mid(1)) {
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
    } else if (optionsEnded || !argument.startsWith(u'-')) {
      files << QDir::current().absoluteFilePath(argument);
    }
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool multiUser = busweave::OSPlatform() == busweave::TPlatform::MultiUser;

  const QStringList files = filesToOpen(QApplication::arguments());

  busweave::TInstanceGuard guard(kTitle);
  if (multiUser && !guard.TryAcquire()) {
    // A start with files (a double click in the file manager) gives them to the running copy.
    // One without (the menu entry again) is refused, but the running copy comes to the front,
    // where the user was looking for it.
    if (guard.HandOver(files) && !files.isEmpty()) return 0;
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
  guard.Listen([&form](const QStringList& Handed) {
    form.setWindowState((form.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    form.raise();
    form.activateWindow();
    for (const QString& file : Handed) form.OpenFile(file);
  });
  form.WhenPlaced([&form, files] {
    for (const QString& file : files) form.OpenFile(file);
  });
  return QApplication::exec();
}

// Busweave's entry point: the single-instance guard, the application's looks, the main window.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProxyStyle>
#include <QTimer>
#include <QToolTip>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "about/VersionInfo.h"
#include "guard/InstanceGuard.h"
#include "guard/Platform.h"
#include "guard/RuntimeFolder.h"
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

constexpr const char* kHelp =
    "Usage: busweave [FILE...]\n"
    "\n"
    "Opens the Busweave network files (.bwn) named, each in a document of its own. Only one\n"
    "copy runs per user: a second start hands its files to the running copy.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "busweave-cli works on network files without a window.\n";

// Help and version are answered before Qt looks for a display, so that they work without one.
std::optional<std::string> answerWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") return kHelp;
    if (argument == "--version") return "busweave " + busweave::VersionInfoString(8).toStdString() + "\n";
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto answer = answerWithoutWindow(argc, argv)) {
    std::cout << *answer << std::flush;
    return std::cout ? 0 : 1;
  }
  busweave::ProvideRuntimeFolder();
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

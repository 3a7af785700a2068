// Busweave's entry point: the single-instance guard, the application's looks, the main window.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProxyStyle>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "about/VersionInfo.h"
#include "base/NearestWord.h"
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

// The options Qt reads itself (the application objects and the X11 platform), also written with
// two dashes; those of the first list take a value, as the next argument or after '='.
constexpr std::string_view kQtValueOptions[] = {"platform",        "platformpluginpath",
                                                "platformtheme",   "plugin",
                                                "qwindowgeometry", "geometry",
                                                "qwindowtitle",    "title",
                                                "qwindowicon",     "icon",
                                                "display",         "name",
                                                "visual",          "style",
                                                "stylesheet",      "session",
                                                "qmljsdebugger"};
constexpr std::string_view kQtSwitches[] = {"reverse", "widgetcount", "sync", "nograb", "dograb", "testability"};

// The first argument before "--" that is an option neither we nor Qt know, as written.
std::optional<std::string> unknownOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (!argument.starts_with('-')) continue;  // a file
    std::string_view name = argument.substr(argument.starts_with("--") ? 2 : 1);
    const std::size_t equals = name.find('=');
    name = name.substr(0, equals);
    const auto known = [name](const auto& List) {
      return std::find(std::begin(List), std::end(List), name) != std::end(List);
    };
    if (known(kQtValueOptions)) {
      if (equals == std::string_view::npos) ++i;  // its value
      continue;
    }
    if (equals == std::string_view::npos && known(kQtSwitches)) continue;
    return std::string(argument);
  }
  return std::nullopt;
}

// Whether Qt is given a platform to show the window on: a display in the environment, or a
// platform chosen there or on the command line. Without one Qt would end the process.
bool windowPlatformNamed(int argc, char** argv) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(name); value && *value) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "-platform" || argument == "--platform" || argument == "-display" || argument == "--display")
      return true;
  }
  return false;
}

// While the application object starts, Qt's messages are held back; a fatal one (the display
// named cannot be opened) ends the start with one line and exit code 1 instead of an abort.
std::vector<std::string> heldMessages;

void startMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
  if (Type != QtFatalMsg) {
    heldMessages.push_back(qFormatLogMessage(Type, Context, Text).toStdString());
    return;
  }
  // The platform's own warning says what failed ("could not connect to display :9").
  const std::string why = heldMessages.empty() ? Text.section('\n', 0, 0).toStdString() : heldMessages.front();
  std::fprintf(stderr, "busweave: the window cannot be shown: %s\n", why.c_str());
  std::fflush(stderr);
  ::_exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto answer = answerWithoutWindow(argc, argv)) {
    std::cout << *answer << std::flush;
    return std::cout ? 0 : 1;
  }
  if (const auto unknown = unknownOption(argc, argv)) {
    const auto meant = busweave::NearestWord(*unknown, {"--help", "--version"});
    std::cerr << "busweave: unknown option " << *unknown << (meant ? ". Did you mean " + *meant + "?" : "")
              << "\nRun 'busweave --help' for usage.\n";
    return 2;
  }
  if (!windowPlatformNamed(argc, argv)) {
    std::cerr << "busweave: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
                 "busweave-cli works without one\n";
    return 1;
  }
  busweave::ProvideRuntimeFolder();
  qInstallMessageHandler(startMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(nullptr);
  for (const std::string& message : heldMessages) std::cerr << message << "\n";
  heldMessages.clear();
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

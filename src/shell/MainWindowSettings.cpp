#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <iostream>
#include <string>

#include "gui/IntegerText.h"
#include "settings/SettingsFile.h"
#include "shell/MainWindow.h"

// What the main window keeps in the settings file: its placement and the working folder, the
// recent files and whether it was maximised.

namespace busweave {
namespace {

// Folders of installed software: a program there keeps no settings beside itself, even where
// it could write (as root). The bin folder of any prefix counts too (an install for one user in
// ~/.local).
bool isInstalledSoftwareFolder(const QString& Folder) {
  for (const char* system : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt", "/etc", "/var",
                             "/snap", "/app", "/nix", "/gnu"})
    if (Folder == system || Folder.startsWith(QString(system) + "/")) return true;
  return Folder == "/" || QFileInfo(Folder).fileName() == "bin";
}

}  // namespace

QString TMDIMainForm::SettingsFilePath() {
  const QString chosen = qEnvironmentVariable("BUSWEAVE_INI");
  if (!chosen.isEmpty()) return chosen;
  const QFileInfo program(QCoreApplication::applicationFilePath());
  const QString name = program.completeBaseName() + ".INI";
  if (KeepsSettingsBeside(program.absolutePath())) return program.absolutePath() + "/" + name;
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(folder);
  return folder + "/" + name;
}

bool TMDIMainForm::KeepsSettingsBeside(const QString& ProgramFolder) {
  const QString folder = QFileInfo(ProgramFolder).canonicalFilePath();
  struct stat info {};
  if (folder.isEmpty() || ::stat(QFile::encodeName(folder).constData(), &info) != 0) return false;
  return info.st_uid == ::getuid() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0 &&
         !isInstalledSoftwareFolder(folder);
}

void TMDIMainForm::ReadSettings() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory("Busweave-V2");
  // A file that cannot be read gives the designed values and is left alone at exit, so that
  // nothing the user keeps in it is lost.
  const auto checkReadable = [this, &profile] {
    if (profile.Problem().empty() || FSettingsUnreadable) return;
    FSettingsUnreadable = true;
    std::cerr << "busweave: " << profile.Problem()
              << "\nbusweave: starting with the designed settings; the settings file is not written at exit\n";
  };
  QList<QRect> available;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary) available << primary->availableGeometry();
  for (QScreen* screen : QGuiApplication::screens())
    if (screen != primary) available << screen->availableGeometry();
  // Without a stored placement the window takes most of the screen, so that the first document
  // shows more of its network than a node or two.
  if (primary) FPlacement = FirstPlacement(primary->availableGeometry());
  const std::array<const char*, 4> keys = {"Left", "Top", "Width", "Height"};
  std::array<std::int64_t, 4> values = {FPlacement.x(), FPlacement.y(), FPlacement.width(), FPlacement.height()};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    profile.SetKeyName(keys[i]);
    profile.DefaultValue = std::to_string(values[i]);
    profile.Execute();
    checkReadable();
    // A value that is not a number keeps the designed one for that key only.
    if (const auto number = StrictInteger(RemoveSpaces(profile.DataString))) values[i] = *number;
  }
  FPlacement = FitPlacement({values[0], values[1], values[2], values[3]}, available, QSize(200, 200));
  applyPlacement();

  profile.SetKeyName("IDirectory");
  profile.DefaultValue = QDir::currentPath().toLocal8Bit().toStdString();
  profile.Execute();
  checkReadable();
  const QString folder = QString::fromLocal8Bit(profile.DataString);
  if (QFileInfo(folder).isDir()) QDir::setCurrent(folder);
}

void TMDIMainForm::WriteSettings() {
  if (FSettingsUnreadable) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory("Busweave-V2");
  const QRect placement = OuterPlacement();
  const std::array<std::pair<const char*, std::string>, 5> values = {
      {{"Left", std::to_string(placement.x())},
       {"Top", std::to_string(placement.y())},
       {"Width", std::to_string(placement.width())},
       {"Height", std::to_string(placement.height())},
       {"IDirectory", QDir::currentPath().toLocal8Bit().toStdString()}}};
  for (const auto& [key, value] : values) {
    profile.SetKeyName(key);
    profile.DataString = value;
    if (profile.Execute()) continue;
    // The next keys would fail alike, or write over a file that could not be read.
    std::cerr << "busweave: the settings were not saved: " << profile.Problem() << "\n";
    return;
  }
}

// The recent files have a section of their own, so that the placement's section keeps its keys.
static const char* const RecentSection = "Busweave-Recent";

void TMDIMainForm::readRecentFiles() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(RecentSection);
  FRecentFiles.clear();
  for (int i = 1; i <= MaxRecentFiles; ++i) {
    profile.SetKeyName("File" + std::to_string(i));
    profile.DefaultValue.clear();
    profile.Execute();
    const QString path = QString::fromLocal8Bit(profile.DataString).trimmed();
    if (!path.isEmpty() && !FRecentFiles.contains(path)) FRecentFiles << path;
  }
  FRecentFilesRead = FRecentFiles;
}

void TMDIMainForm::writeRecentFiles() {
  if (FSettingsUnreadable || FRecentFiles == FRecentFilesRead) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(RecentSection);
  // Keys beyond a list that shrank are emptied.
  const qsizetype keys = std::max(FRecentFiles.size(), FRecentFilesRead.size());
  for (int i = 1; i <= keys; ++i) {
    profile.SetKeyName("File" + std::to_string(i));
    profile.DataString = i <= FRecentFiles.size() ? FRecentFiles[i - 1].toLocal8Bit().toStdString() : std::string();
    if (profile.Execute()) continue;
    std::cerr << "busweave: the recent files were not saved: " << profile.Problem() << "\n";
    return;
  }
}

static const char* const WindowSection = "Busweave-Window";

void TMDIMainForm::readWindowState() {
  TProfile profile;
  profile.Action = paRead;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(WindowSection);
  profile.SetKeyName("Maximized");
  // Strings moved in, not assigned from literals: GCC 12 at -O3 warns falsely (-Wrestrict) on
  // the assignment once these functions are inlined.
  profile.DefaultValue = std::string("0");
  profile.Execute();
  FMaximizedRead = StrictInteger(RemoveSpaces(profile.DataString)).value_or(0) == 1;
  // Shown later as it is set now: maximised, over the normal placement just applied.
  if (FMaximizedRead) setWindowState(windowState() | Qt::WindowMaximized);
}

void TMDIMainForm::writeWindowState() {
  const bool maximized = isMaximized();
  if (FSettingsUnreadable || maximized == FMaximizedRead) return;
  TProfile profile;
  profile.Action = paWrite;
  profile.IniFileName = SettingsFilePath().toLocal8Bit().toStdString();
  profile.SetCategory(WindowSection);
  profile.SetKeyName("Maximized");
  profile.DataString = std::string(maximized ? "1" : "0");
  if (!profile.Execute()) std::cerr << "busweave: the window state was not saved: " << profile.Problem() << "\n";
}

}  // namespace busweave

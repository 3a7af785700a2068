#include "guard/InstanceGuard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace busweave {
namespace {

// The shared temporary folder is open to every user, so a folder of ours there counts only when
// it is a real directory (no symbolic link), owned by us and closed to everybody else.
bool isPrivateFolder(const QString& Folder) {
  struct stat info {};
  if (::lstat(QFile::encodeName(Folder).constData(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// The folder for the lock: BUSWEAVE_LOCK_DIR when set, else the user's runtime folder, else a
// private folder under the temporary folder. Empty when none is usable.
QString lockFolder() {
  const QString chosen = qEnvironmentVariable("BUSWEAVE_LOCK_DIR");
  if (!chosen.isEmpty()) return QDir().mkpath(chosen) ? chosen : QString();

  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty()) return runtime;

  const QString fallback = QDir::tempPath() + QStringLiteral("/busweave-") + QString::number(::getuid());
  ::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU);
  return isPrivateFolder(fallback) ? fallback : QString();
}

// The name becomes a file name inside the folder: separators and other odd characters are
// replaced so that no name can point outside it.
QString lockFileName(const QString& Name) {
  QString file;
  for (const QChar c : Name)
    file += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' || c == u'_' || c == u'.' ? c : QChar(u'_');
  if (file.isEmpty() || file.startsWith(u'.')) file.prepend(u'_');
  return file + QStringLiteral(".lock");
}

}  // namespace

QString AlreadyRunningText() {
  return QStringLiteral("Busweave-V2 is already running\r\n\r\nPlease press the button to close this instance");
}

TInstanceGuard::TInstanceGuard(const QString& Name) {
  const QString folder = lockFolder();
  if (folder.isEmpty()) return;
  FLockFilePath = folder + u'/' + lockFileName(Name);
  FLock = std::make_unique<QLockFile>(FLockFilePath);
  // The program holds the lock for its whole life: only a dead owner's lock may be taken over,
  // never one that is merely old.
  FLock->setStaleLockTime(0);
}

TInstanceGuard::~TInstanceGuard() = default;

bool TInstanceGuard::TryAcquire() {
  if (!FLock) return true;
  if (FLock->isLocked()) return true;
  // QLockFile takes over a lock whose owner is gone, but only when it can read the owner from
  // the file. A file left empty or damaged (the owner died while writing it, the disk was full)
  // would block every later start; removing it succeeds only while no live process holds it.
  if (!FLock->tryLock(0) && FLock->error() == QLockFile::LockFailedError &&
      !FLock->getLockInfo(nullptr, nullptr, nullptr)) {
    FLock->removeStaleLockFile();
    FLock->tryLock(0);
  }
  return FLock->isLocked() || FLock->error() != QLockFile::LockFailedError;
}

bool TInstanceGuard::Held() const { return FLock && FLock->isLocked(); }

QString TInstanceGuard::LockFilePath() const { return FLockFilePath; }

}  // namespace busweave

#pragma once

// TInstanceGuard: keeps a second copy of the program from running for the same user. It holds a
// lock file in the user's runtime folder for as long as it lives; the lock of a process that
// died without cleaning up is taken over, never honoured. Beside the lock, the holder listens on
// a local socket, through which a later start hands over the files it was asked to open.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace busweave {

// Exit code of a start that the guard refused.
inline constexpr int AlreadyRunningExitCode = 254;

// The message shown before a refused start ends.
QString AlreadyRunningText();

class TInstanceGuard {
 public:
  // Name is the program's title; the lock file is named after it. Warn receives, as one line,
  // why a BUSWEAVE_LOCK_DIR is not used or why later starts cannot hand files over (default:
  // standard error).
  explicit TInstanceGuard(const QString& Name, std::function<void(const QString&)> Warn = {});
  ~TInstanceGuard();  // releases the lock
  TInstanceGuard(const TInstanceGuard&) = delete;
  TInstanceGuard& operator=(const TInstanceGuard&) = delete;

  // False only when another live process holds the lock. When no lock can be made at all (no
  // usable folder, no permission) the start goes on unguarded, so the answer is true.
  bool TryAcquire();
  // True while this guard holds the lock.
  bool Held() const;
  // Where the lock file lies; empty when no safe folder could be found.
  QString LockFilePath() const;

  // While this guard holds the lock: accepts the file lists later starts hand over and calls
  // Receive with each (in the event loop). False when the socket cannot be made.
  bool Listen(std::function<void(const QStringList&)> Receive);
  // From a start the guard refused: hands Files to the holder and waits at most TimeoutMs for
  // it to take them. False when no holder listens or it did not answer.
  bool HandOver(const QStringList& Files, int TimeoutMs = 5000) const;

 private:
  QString socketPath() const;

  std::function<void(const QString&)> FWarn;
  QString FLockFilePath;
  std::unique_ptr<QLockFile> FLock;
  std::unique_ptr<QLocalServer> FServer;
};

}  // namespace busweave

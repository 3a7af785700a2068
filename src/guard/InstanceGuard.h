#pragma once

// TInstanceGuard: keeps a second copy of the program from running for the same user. It holds a
// lock file in the user's runtime folder for as long as it lives; the lock of a process that
// died without cleaning up is taken over, never honoured.

#include <QString>
#include <memory>

class QLockFile;

namespace busweave {

// Exit code of a start that the guard refused.
inline constexpr int AlreadyRunningExitCode = 254;

// The message shown before a refused start ends.
QString AlreadyRunningText();

class TInstanceGuard {
 public:
  // Name is the program's title; the lock file is named after it.
  explicit TInstanceGuard(const QString& Name);
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

 private:
  QString FLockFilePath;
  std::unique_ptr<QLockFile> FLock;
};

}  // namespace busweave

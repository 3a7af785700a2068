#include "guard/InstanceGuard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <iostream>

namespace busweave {
namespace {

// The shared temporary folder is open to every user, so a folder of ours there counts only when
// it is a real directory (no symbolic link), owned by us and closed to everybody else.
bool isPrivateFolder(const QString& Folder) {
  struct stat info {};
  if (::lstat(QFile::encodeName(Folder).constData(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Why the folder named by BUSWEAVE_LOCK_DIR cannot hold the lock; empty when it can: it must be
// a real folder of ours that nobody else may write to, or another user could take the socket
// and receive the files a later start hands over.
QString unsafeLockFolder(const QString& Folder) {
  struct stat info {};
  if (!QDir().mkpath(Folder) || ::lstat(QFile::encodeName(Folder).constData(), &info) != 0)
    return QStringLiteral("it cannot be made");
  if (!S_ISDIR(info.st_mode)) return QStringLiteral("it is not a folder");
  if (info.st_uid != ::getuid()) return QStringLiteral("it belongs to another user");
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return QStringLiteral("others may write to it");
  return {};
}

// The folder for the lock: BUSWEAVE_LOCK_DIR when set and safe, else the user's runtime folder,
// else a private folder under the temporary folder. Empty when none is usable.
QString lockFolder(const std::function<void(const QString&)>& Warn) {
  const QString chosen = qEnvironmentVariable("BUSWEAVE_LOCK_DIR");
  if (!chosen.isEmpty()) {
    const QString problem = unsafeLockFolder(chosen);
    if (problem.isEmpty()) return chosen;
    Warn("BUSWEAVE_LOCK_DIR " + chosen + " is not used, " + problem + "; the lock is kept in the default folder");
  }

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

// A hand-over is a list of paths; anything larger than this is not one and is dropped.
constexpr qint64 kMaxHandOverBytes = 1 << 20;
constexpr char kTaken = 1;

}  // namespace

QString AlreadyRunningText() {
  return QStringLiteral("Busweave-V2 is already running\r\n\r\nPlease press the button to close this instance");
}

TInstanceGuard::TInstanceGuard(const QString& Name, std::function<void(const QString&)> Warn)
    : FWarn(Warn ? std::move(Warn) : [](const QString& Message) {
        std::cerr << "busweave: " << Message.toLocal8Bit().constData() << "\n";
      }) {
  const QString folder = lockFolder(FWarn);
  if (folder.isEmpty()) return;
  FLockFilePath = folder + u'/' + lockFileName(Name);
  FLock = std::make_unique<QLockFile>(FLockFilePath);
  // The program holds the lock for its whole life: only a dead owner's lock may be taken over,
  // never one that is merely old.
  FLock->setStaleLockTime(0);
}

TInstanceGuard::~TInstanceGuard() {
  if (FServer) FServer->close();  // removes the socket file while the lock still guards it
}

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

QString TInstanceGuard::socketPath() const {
  if (FLockFilePath.isEmpty()) return {};
  return FLockFilePath.chopped(int(qstrlen(".lock"))) + QStringLiteral(".socket");
}

bool TInstanceGuard::Listen(std::function<void(const QStringList&)> Receive) {
  if (!Held()) return false;
  FServer = std::make_unique<QLocalServer>();
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  // Holding the lock, any socket left there belongs to a copy that died: it is ours to replace.
  // Anything else there is not, and leaves this copy without hand-over.
  struct stat info {};
  const QByteArray path = QFile::encodeName(socketPath());
  if (::lstat(path.constData(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
    FWarn("something that is not a socket is at " + socketPath() +
          "; files opened by a later start are not handed to this copy");
    FServer.reset();
    return false;
  }
  QLocalServer::removeServer(socketPath());
  if (!FServer->listen(socketPath())) {
    FWarn("the socket " + socketPath() + " cannot be made (" + FServer->errorString() +
          "); files opened by a later start are not handed to this copy");
    FServer.reset();
    return false;
  }
  QLocalServer* server = FServer.get();
  QObject::connect(server, &QLocalServer::newConnection, server, [server, Receive] {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [server, socket, Receive] {
        if (socket->bytesAvailable() > kMaxHandOverBytes) {
          socket->abort();
          return;
        }
        QDataStream in(socket);
        in.startTransaction();
        QStringList files;
        in >> files;
        if (!in.commitTransaction()) return;  // the rest is still on its way
        socket->write(&kTaken, 1);
        socket->flush();
        socket->disconnectFromServer();
        // Opening may show a message and run its own event loop: not while this socket's
        // handler runs.
        QMetaObject::invokeMethod(
            server, [Receive, files] { Receive(files); }, Qt::QueuedConnection);
      });
    }
  });
  return true;
}

bool TInstanceGuard::HandOver(const QStringList& Files, int TimeoutMs) const {
  if (FLockFilePath.isEmpty()) return false;
  QLocalSocket socket;
  socket.connectToServer(socketPath());
  if (!socket.waitForConnected(TimeoutMs)) return false;
  {
    QDataStream out(&socket);
    out << Files;
  }
  if (!socket.waitForBytesWritten(TimeoutMs)) return false;
  char answer = 0;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(TimeoutMs)) return false;
  return socket.read(&answer, 1) == 1 && answer == kTaken;
}

}  // namespace busweave

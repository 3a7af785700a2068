#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <filesystem>
#include <future>
#include <memory>
#include <tuple>

#include "TempFolder.h"
#include "guard/InstanceGuard.h"
#include "guard/Platform.h"

namespace busweave {
namespace {

class InstanceGuardTest : public testing::Test {
 protected:
  void SetUp() override { qputenv("BUSWEAVE_LOCK_DIR", QByteArray::fromStdString(FFolder.Path().string())); }
  void TearDown() override { qunsetenv("BUSWEAVE_LOCK_DIR"); }

  QString LockPath() const { return QString::fromStdString(FFolder.File("Busweave-V2.lock")); }
  void WriteLock(const QByteArray& Contents) const {
    QFile file(LockPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(Contents);
  }

  test::TempFolder FFolder;
};

// Runs a process that takes the lock and dies without any cleanup, as a crash would; true when
// it held the lock. The process is reaped, so its number names no process any more.
bool CrashWhileHolding() {
  const pid_t child = ::fork();
  if (child == 0) {
    TInstanceGuard guard("Busweave-V2");
    ::_exit(guard.TryAcquire() && guard.Held() ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(InstanceGuardTest, OneHolderPerNameForTheGuardsLifetime) {
  auto first = std::make_unique<TInstanceGuard>("Busweave-V2");
  EXPECT_EQ(first->LockFilePath(), LockPath());
  ASSERT_TRUE(first->TryAcquire());

  TInstanceGuard second("Busweave-V2");
  EXPECT_FALSE(second.TryAcquire());
  TInstanceGuard other("../x/Busweave-Other");  // a separator in the name stays inside the folder
  EXPECT_TRUE(other.TryAcquire());
  EXPECT_EQ(QFileInfo(other.LockFilePath()).absolutePath(), QString::fromStdString(FFolder.Path().string()));

  first.reset();
  EXPECT_FALSE(QFile::exists(LockPath()));
  EXPECT_TRUE(second.TryAcquire());
}

TEST_F(InstanceGuardTest, LockOfAProcessThatDiedIsTakenOver) {
  ASSERT_TRUE(CrashWhileHolding());
  ASSERT_TRUE(QFile::exists(LockPath()));
  EXPECT_TRUE(TInstanceGuard("Busweave-V2").TryAcquire());

  // A recorded number that another program uses by now is no live owner either.
  WriteLock(QByteArray::number(::getppid()) + "\nBusweave-V2-gone\n" + QSysInfo::machineHostName().toUtf8() + "\n");
  EXPECT_TRUE(TInstanceGuard("Busweave-V2").TryAcquire());
}

TEST_F(InstanceGuardTest, DamagedLockBlocksOnlyWhileItsOwnerLives) {
  WriteLock("");
  EXPECT_TRUE(TInstanceGuard("Busweave-V2").TryAcquire());

  TInstanceGuard holder("Busweave-V2");
  ASSERT_TRUE(holder.TryAcquire());
  WriteLock("garbage");
  EXPECT_FALSE(TInstanceGuard("Busweave-V2").TryAcquire());
  EXPECT_TRUE(QFile::exists(LockPath()));
}

TEST(InstanceGuardTexts, MessageExitCodeAndPlatform) {
  EXPECT_EQ(AlreadyRunningText(),
            "Busweave-V2 is already running\r\n\r\nPlease press the button to close this instance");
  EXPECT_EQ(AlreadyRunningExitCode, 254);
  EXPECT_EQ(static_cast<int>(OSPlatform()), 2);
  EXPECT_EQ(OSPlatform(), TPlatform::MultiUser);
}

// The holder receives the file lists later starts hand over, also when a crashed holder left
// its socket behind; with nobody listening the hand-over fails, so the start is refused.
TEST_F(InstanceGuardTest, HandsFilesToTheListeningHolder) {
  int argc = 1;
  char name[] = "test_guard";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  const QStringList files = {"/tmp/a.bwn", QString::fromUtf8("/tmp/\xc3\xbc\nb.bwn")};

  const pid_t child = ::fork();
  if (child == 0) {  // a holder that listens and then crashes
    TInstanceGuard guard("Busweave-V2");
    const bool ready = guard.TryAcquire() && guard.Listen([](const QStringList&) {});
    ::_exit(ready ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  TInstanceGuard holder("Busweave-V2");
  ASSERT_TRUE(holder.TryAcquire());
  TInstanceGuard later("Busweave-V2");
  EXPECT_FALSE(later.HandOver(files, 500)) << "nobody listens yet";

  QStringList received;
  ASSERT_TRUE(holder.Listen([&](const QStringList& Files) { received = Files; }));
  auto handed = std::async(std::launch::async, [&] { return later.HandOver(files); });
  QElapsedTimer clock;
  clock.start();
  while (received.isEmpty() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(received, files);
  EXPECT_TRUE(handed.get());
}

TEST_F(InstanceGuardTest, ALockFolderOthersMayWriteAndATakenSocketPathAreSaid) {
  QStringList said;
  const auto warn = [&said](const QString& Message) { said << Message; };
  const QString folder = QString::fromStdString(FFolder.Path().string());
  const std::string link = FFolder.File("link");
  std::filesystem::create_directory_symlink(FFolder.Path(), link);
  for (const auto& [chosen, mode, reason] : {std::tuple{folder, 0777, "others may write"},
                                             {folder, 0775, "others may write"},
                                             {QString::fromStdString(link), 0755, "not a folder"}}) {
    ::chmod(FFolder.Path().c_str(), static_cast<mode_t>(mode));
    qputenv("BUSWEAVE_LOCK_DIR", chosen.toLocal8Bit());
    said.clear();
    const TInstanceGuard guard("Busweave-V2", warn);
    EXPECT_FALSE(guard.LockFilePath().startsWith(chosen)) << guard.LockFilePath().toStdString();
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].contains(chosen) && said[0].contains(reason)) << said[0].toStdString();
  }
  ::chmod(FFolder.Path().c_str(), 0700);
  qputenv("BUSWEAVE_LOCK_DIR", folder.toLocal8Bit());

  // A folder where the socket goes: the copy runs, says so, and leaves the folder alone.
  int argc = 1;
  char name[] = "test_guard";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  ASSERT_TRUE(std::filesystem::create_directory(FFolder.File("Busweave-V2.socket")));
  said.clear();
  TInstanceGuard holder("Busweave-V2", warn);
  ASSERT_TRUE(holder.TryAcquire());
  EXPECT_FALSE(holder.Listen([](const QStringList&) {}));
  ASSERT_EQ(said.size(), 1);
  EXPECT_TRUE(said[0].contains(QString::fromStdString(FFolder.File("Busweave-V2.socket")))) << said[0].toStdString();
  EXPECT_TRUE(std::filesystem::is_directory(FFolder.File("Busweave-V2.socket")));
}

}  // namespace
}  // namespace busweave

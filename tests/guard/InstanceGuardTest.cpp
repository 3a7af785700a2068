#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <memory>

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

}  // namespace
}  // namespace busweave

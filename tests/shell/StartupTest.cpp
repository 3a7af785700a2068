// Starting the real program: a second copy for the same user is refused with exit code 254
// after its message, and a copy that crashed does not block the next start; a second start with
// files hands them to the running copy and ends with 0.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <optional>
#include <tuple>

#include "guard/InstanceGuard.h"

#ifndef BUSWEAVE_PROGRAM
#error "BUSWEAVE_PROGRAM names the program under test"
#endif

namespace {

class Startup : public testing::Test {
 protected:
  QProcess* start(const QStringList& Arguments = {}) {
    auto* process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("BUSWEAVE_LOCK_DIR", FLocks.path());
    environment.insert("BUSWEAVE_ANSWER_PROMPTS", "ok");
    environment.insert("BUSWEAVE_INI", FLocks.path() + "/settings.INI");
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(FLocks.path());
    process->start(BUSWEAVE_PROGRAM, Arguments);
    FProcesses.push_back(process);
    return process;
  }

  // Waits until the running copy holds its lock.
  bool waitForLock() {
    for (int i = 0; i < 200; ++i) {
      if (!QDir(FLocks.path()).entryList({"*.lock"}, QDir::Files).isEmpty()) return true;
      QThread::msleep(25);
    }
    return false;
  }

  ~Startup() override {
    for (QProcess* process : FProcesses) {
      process->kill();
      process->waitForFinished(5000);
      delete process;
    }
  }

  QTemporaryDir FLocks;
  std::vector<QProcess*> FProcesses;
};

TEST_F(Startup, SecondCopyIsRefusedAndACrashedCopyDoesNotBlock) {
  QProcess* first = start();
  ASSERT_TRUE(first->waitForStarted(10000));
  ASSERT_TRUE(waitForLock());

  QProcess* second = start();
  ASSERT_TRUE(second->waitForFinished(20000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 254);
  EXPECT_EQ(first->state(), QProcess::Running);

  first->kill();  // a crash: the lock file stays behind
  ASSERT_TRUE(first->waitForFinished(10000));
  QProcess* third = start();
  ASSERT_TRUE(third->waitForStarted(10000));
  EXPECT_FALSE(third->waitForFinished(2000)) << "exit code " << third->exitCode();
  EXPECT_EQ(third->state(), QProcess::Running);
}

TEST_F(Startup, SecondStartWithFilesHandsThemOver) {
  QProcess* holder = start({"opened-at-start.bwn"});
  ASSERT_TRUE(holder->waitForStarted(10000));
  ASSERT_TRUE(waitForLock());
  QProcess* handing = nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {  // until the holder listens
    handing = start({"handed-over.bwn", "--", "-odd name.bwn"});
    ASSERT_TRUE(handing->waitForFinished(20000));
    if (handing->exitCode() == 0) break;
    QThread::msleep(50);
  }
  EXPECT_EQ(handing->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(handing->exitCode(), 0);
  EXPECT_EQ(holder->state(), QProcess::Running);

  QProcess* empty = start();
  ASSERT_TRUE(empty->waitForFinished(20000));
  EXPECT_EQ(empty->exitCode(), 254);
}

TEST_F(Startup, SecondStartWithoutFilesIsRefusedAndBringsTheRunningCopyForward) {
  // The running copy is this test, holding the lock and listening as the program does.
  qputenv("BUSWEAVE_LOCK_DIR", FLocks.path().toLocal8Bit());
  busweave::TInstanceGuard holder("Busweave-V2");
  qunsetenv("BUSWEAVE_LOCK_DIR");
  ASSERT_TRUE(holder.TryAcquire());
  std::optional<QStringList> handed;
  ASSERT_TRUE(holder.Listen([&handed](const QStringList& Files) { handed = Files; }));

  QProcess* second = start();
  QDeadlineTimer deadline(20000);
  while (!second->waitForFinished(10) && !deadline.hasExpired()) QCoreApplication::processEvents();
  while (!handed && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 254);
  // An empty list: nothing to open, only the window to raise.
  EXPECT_EQ(handed, QStringList());
}

TEST(StartupWithoutDisplay, HelpAndVersionAnswerAndExit) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
  for (const auto& [argument, answer] :
       {std::pair{"--help", "Usage: busweave [FILE...]\n"}, std::pair{"--version", "busweave 2."}}) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(BUSWEAVE_PROGRAM, {argument});
    ASSERT_TRUE(process.waitForFinished(10000)) << argument;
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << argument;
    EXPECT_EQ(process.exitCode(), 0) << argument;
    EXPECT_TRUE(process.readAllStandardOutput().startsWith(answer)) << argument;
    EXPECT_EQ(process.readAllStandardError(), "") << argument;
  }
}

TEST(StartupWithoutDisplay, UnknownOptionsAndAMissingDisplayEndWithOneClearLine) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
  QProcessEnvironment unreachable = environment;
  unreachable.insert("DISPLAY", ":97");  // no server there
  for (const auto& [arguments, env, code, says] :
       {std::tuple{QStringList{"--bogus", "x.bwn"}, environment, 2, "busweave: unknown option --bogus\n"},
        std::tuple{QStringList{"--hepl"}, environment, 2, "busweave: unknown option --hepl. Did you mean --help?\n"},
        std::tuple{QStringList{"x.bwn"}, environment, 1, "busweave: no display to show the window on"},
        std::tuple{QStringList{"x.bwn"}, unreachable, 1, "busweave: the window cannot be shown: "}}) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(BUSWEAVE_PROGRAM, arguments);
    ASSERT_TRUE(process.waitForFinished(10000)) << says;
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << says;
    EXPECT_EQ(process.exitCode(), code) << says;
    const QByteArray error = process.readAllStandardError();
    EXPECT_TRUE(error.startsWith(says)) << error.toStdString();
    EXPECT_LE(error.count('\n'), code) << error.toStdString();  // the usage error adds where to find help
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

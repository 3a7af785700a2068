// Test entry point for tests that need Qt: one application object, a fixed locale and a
// test-only application name, so runs are the same on every machine.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  // Settings go to a file of this run, never beside the test program.
  if (qEnvironmentVariableIsEmpty("BUSWEAVE_INI"))
    qputenv("BUSWEAVE_INI",
            (QDir::tempPath() + "/busweave-test-" + QString::number(QCoreApplication::applicationPid()) + ".INI")
                .toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setApplicationName("busweave-tests");
  QLocale::setDefault(QLocale::c());
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  QFile::remove(qEnvironmentVariable("BUSWEAVE_INI"));
  return result;
}

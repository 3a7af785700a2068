// Settings that survive a restart, and the per-document options dialog.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <functional>
#include <tuple>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "drawing/RecordingCanvas.h"
#include "editor/DocumentOptionsDialog.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "gui/Prompts.h"
#include "settings/SettingsFile.h"
#include "shell/MainWindow.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

TEST(Profile, ReadsAndWritesOneKeyAtATime) {
  TempFolder folder;
  TProfile profile;
  profile.IniFileName = folder.File("a.INI");
  profile.SetCategory("Busweave-V2");
  profile.SetKeyName("Left");
  profile.DefaultValue = "340";
  EXPECT_TRUE(profile.Execute());  // a missing file delivers the default
  EXPECT_EQ(profile.DataString, "340");
  profile.DefaultValue.clear();
  EXPECT_TRUE(profile.Execute());
  EXPECT_EQ(profile.DataString, " ");

  profile.Action = paWrite;
  profile.DataString = "12";
  EXPECT_TRUE(profile.Execute());
  const std::string longFolder = "/home/" + std::string(80, 'x') + "/networks";
  profile.SetKeyName("IDirectory");
  profile.DataString = longFolder;
  EXPECT_TRUE(profile.Execute());
  EXPECT_EQ(ReadBytes(folder.File("a.INI")), "[Busweave-V2]\nLeft=12\nIDirectory=" + longFolder + "\n");

  profile.Action = paRead;
  profile.SetKeyName("idirectory");  // keys are found whatever their case
  EXPECT_TRUE(profile.Execute());
  EXPECT_EQ(profile.DataString, longFolder);
  profile.SetCategory("");
  EXPECT_FALSE(profile.Execute());
  EXPECT_EQ(profile.Error(), 1);

  // Other sections and comments survive a write.
  WriteBytes(folder.File("b.INI"), "; mine\n[Other]\nLeft=1\n\n[busweave-v2]\nTop=5\n");
  EXPECT_EQ(SetIniValue(ReadBytes(folder.File("b.INI")), "Busweave-V2", "Left", "7"),
            "; mine\n[Other]\nLeft=1\n\n[busweave-v2]\nTop=5\nLeft=7\n");
}

class Settings : public testing::Test {
 protected:
  Settings() : FStart(QDir::currentPath()), FRunIni(qgetenv("BUSWEAVE_INI")) {
    qputenv("BUSWEAVE_INI", Ini.toLocal8Bit());
  }
  ~Settings() override {
    QDir::setCurrent(FStart);
    qputenv("BUSWEAVE_INI", FRunIni);
  }

  TempFolder Folder;
  QString Ini = QString::fromStdString(Folder.File("busweave.INI"));
  QString FStart;
  QByteArray FRunIni;
  test::ScriptedPrompts<> Prompts;
};

TEST_F(Settings, BesideTheProgramOnlyInAWritableFolderOfTheUsersOwnAndTheVariableWins) {
  EXPECT_EQ(TMDIMainForm::SettingsFilePath(), Ini);
  const QString own = QString::fromStdString(Folder.Path().string());
  EXPECT_TRUE(TMDIMainForm::KeepsSettingsBeside(own));
  // Folders of installed software, whoever runs the program (root may write there).
  for (const char* installed : {"/usr/bin", "/usr/local/bin", "/opt", "/"})
    EXPECT_FALSE(TMDIMainForm::KeepsSettingsBeside(installed)) << installed;
  EXPECT_FALSE(TMDIMainForm::KeepsSettingsBeside(own + "/missing"));
  // An install for one user (~/.local/bin) is installed software too.
  std::filesystem::create_directory(Folder.Path() / "bin");
  EXPECT_FALSE(TMDIMainForm::KeepsSettingsBeside(own + "/bin"));
  // A folder of another user's, or one closed to writing.
  const std::string other = Folder.File("other");
  std::filesystem::create_directory(other);
  if (::getuid() == 0)
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
  else
    std::filesystem::permissions(other, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_FALSE(TMDIMainForm::KeepsSettingsBeside(QString::fromStdString(other)));
}

TEST_F(Settings, FirstStartTakesMostOfTheScreenAndExitWritesFiveKeys) {
  {
    TMDIMainForm form(Prompts);
    EXPECT_EQ(form.geometry(), QRect(128, 102, 1024, 819));  // of the test screen's 1280 x 1024
    EXPECT_EQ(QDir::currentPath(), FStart);
  }
  std::string value;
  const std::string text = ReadBytes(Ini.toStdString());
  for (const char* key : {"Left", "Top", "Width", "Height", "IDirectory"})
    EXPECT_TRUE(FindIniValue(text, "Busweave-V2", key, value)) << key;
  EXPECT_EQ(text.rfind("[Busweave-V2]\nLeft=", 0), 0u);
}

TEST_F(Settings, RecentFilesSurviveARestartInASectionOfTheirOwn) {
  QStringList paths;
  for (int i = 0; i < 10; ++i) {
    paths << QString::fromStdString(Folder.File("net" + std::to_string(i) + ".bwn"));
    TCanNodes net{120, 1500, 120};
    net.AddNode({0, 0});
    net.AddNode({200, 0});
    net.AddWire({0, 0}, {200, 0}, 120, true);
    ASSERT_TRUE(net.SaveNetwork(paths.back().toStdString()));
  }
  {
    TMDIMainForm form(Prompts);
    EXPECT_TRUE(form.RecentFiles().isEmpty());
    for (const QString& path : paths) form.OpenFile(path);
    form.OpenFile(paths[3]);  // already open: refused, and not made the newest
    for (TMDIChild* document : form.Documents()) document->DestroyDocument();
    Prompts.Errors.clear();
  }
  const std::string text = ReadBytes(Ini.toStdString());
  std::string value;
  EXPECT_FALSE(FindIniValue(text, "Busweave-V2", "File1", value));
  EXPECT_TRUE(FindIniValue(text, "Busweave-Recent", "File8", value));
  EXPECT_EQ(value, paths[2].toStdString());
  EXPECT_FALSE(FindIniValue(text, "Busweave-Recent", "File9", value));

  std::filesystem::remove(paths[8].toStdString());
  {
    TMDIMainForm form(Prompts);
    ASSERT_EQ(form.RecentFiles().size(), 8);
    EXPECT_EQ(form.RecentFiles().front(), paths[9]);
    EXPECT_EQ(form.RecentFiles().back(), paths[2]);
    // The menu's second entry is the missing file: told and dropped; the first one opens.
    form.FileRecentMenu->aboutToShow();
    const QList<QAction*> entries = form.FileRecentMenu->actions();
    ASSERT_EQ(entries.size(), 8);
    entries[1]->trigger();
    ASSERT_EQ(Prompts.Errors.size(), 1);
    EXPECT_TRUE(Prompts.Errors[0].contains(paths[8]));
    EXPECT_EQ(form.RecentFiles().size(), 7);
    EXPECT_TRUE(form.Documents().isEmpty());
    entries[0]->trigger();
    ASSERT_EQ(form.Documents().size(), 1);
    form.Documents()[0]->DestroyDocument();
  }
  TMDIMainForm again(Prompts);
  EXPECT_EQ(again.RecentFiles().size(), 7);
  EXPECT_FALSE(again.RecentFiles().contains(paths[8]));
  EXPECT_FALSE(FindIniValue(ReadBytes(Ini.toStdString()), "Busweave-V2", "File1", value));
}

TEST_F(Settings, RestartRestoresPlacementAndALongFolder) {
  const std::filesystem::path deep = Folder.Path() / std::string(70, 'n') / "my nets";
  std::filesystem::create_directories(deep);
  WriteBytes(Ini.toStdString(),
             "[Busweave-V2]\nLeft=120\nTop=80\nWidth=700\nHeight=500\nIDirectory=" + deep.string() + "\n");
  {
    TMDIMainForm form(Prompts);
    EXPECT_EQ(form.geometry(), QRect(120, 80, 700, 500));
    EXPECT_EQ(QDir::currentPath().toStdString(), deep.string());
    form.setGeometry(130, 90, 640, 480);
    QDir::setCurrent(QString::fromStdString(Folder.Path().string()));
  }
  TMDIMainForm again(Prompts);
  EXPECT_EQ(again.geometry(), QRect(130, 90, 640, 480));
  EXPECT_EQ(QDir::currentPath().toStdString(), Folder.Path().string());
}

// Maximised at exit, the window comes back maximised; the placement's five keys keep the normal
// placement, to which it returns.
TEST_F(Settings, AMaximisedWindowIsRestoredMaximisedOverItsNormalPlacement) {
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=120\nTop=80\nWidth=700\nHeight=500\n");
  {
    TMDIMainForm form(Prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.showMaximized();
    QTest::qWait(20);
  }
  const auto stored = [this] {
    const std::string text = ReadBytes(Ini.toStdString());
    std::string all;
    for (const char* key : {"Left", "Top", "Width", "Height"}) {
      std::string value;
      EXPECT_TRUE(FindIniValue(text, "Busweave-V2", key, value)) << key;
      all += value + " ";
    }
    std::string maximized;
    EXPECT_FALSE(FindIniValue(text, "Busweave-V2", "Maximized", maximized));
    FindIniValue(text, "Busweave-Window", "Maximized", maximized);
    return all + maximized;
  };
  EXPECT_EQ(stored(), "120 80 700 500 1");
  {
    TMDIMainForm form(Prompts);
    EXPECT_TRUE(form.isMaximized());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.isMaximized());
    EXPECT_GT(form.width(), 700);
  }
  EXPECT_EQ(stored(), "120 80 700 500 1");
  {
    TMDIMainForm form(Prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.showNormal();
    EXPECT_TRUE(QTest::qWaitFor([&form] { return form.frameGeometry() == QRect(120, 80, 700, 500); }, 3000))
        << form.frameGeometry().width();
  }
  EXPECT_EQ(stored(), "120 80 700 500 0");
}

TEST_F(Settings, BadValuesKeepTheirDefaultsOnlyAndNothingIsReported) {
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=abc\nTop=80\nWidth=700\nHeight=500\nIDirectory=/no/such/folder\n");
  {
    TMDIMainForm form(Prompts);
    EXPECT_EQ(form.geometry(), QRect(128, 80, 700, 500));  // the first start's left edge
    EXPECT_EQ(QDir::currentPath(), FStart);
    EXPECT_TRUE(Prompts.Errors.isEmpty());
  }
  std::string left;
  FindIniValue(ReadBytes(Ini.toStdString()), "Busweave-V2", "Left", left);
  EXPECT_EQ(left, "128");  // rewritten with a valid value

  // A placement on a screen that is gone comes back onto the screen.
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=-30000\nTop=-30000\nWidth=700\nHeight=500\n");
  TMDIMainForm form(Prompts);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(form.geometry()));
}

// Paths that cannot serve as a settings file: the program starts as it does the first time,
// says why on stderr, and leaves the path as it was.
TEST_F(Settings, UnreadableSettingsStartAsTheFirstTimeAndAreKept) {
  const std::string folder = Folder.File("folder.INI");
  std::filesystem::create_directory(folder);
  const std::string fifo = Folder.File("fifo.INI");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = Folder.File("large.INI");
  const std::string largeText = "[Busweave-V2]\nLeft=5\n[Mine]\n; " + std::string(TProfile::MaxFileBytes, 'x') + "\n";
  WriteBytes(large, largeText);

  for (const std::string& path : {folder, fifo, large}) {
    qputenv("BUSWEAVE_INI", QByteArray::fromStdString(path));
    testing::internal::CaptureStderr();
    {
      TMDIMainForm form(Prompts);
      EXPECT_EQ(form.geometry(), QRect(128, 102, 1024, 819)) << path;
      form.move(10, 10);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_NE(said.find("not written"), std::string::npos) << said;
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(ReadBytes(large), largeText);
}

TEST_F(Settings, SavingKeepsLineEndsAndOtherSectionsAndAFailureIsReported) {
  const std::string text = "[Other]\r\nA=1\r\n\r\n[Busweave-V2]\r\nLeft=120\r\nTop=80\r\n";
  WriteBytes(Ini.toStdString(), text);
  { TMDIMainForm form(Prompts); }
  const std::string saved = ReadBytes(Ini.toStdString());
  EXPECT_EQ(saved.rfind(text, 0), 0u) << saved;
  for (std::size_t at = saved.find('\n'); at != std::string::npos; at = saved.find('\n', at + 1))
    EXPECT_EQ(saved[at - 1], '\r') << saved;

  const std::string gone = Folder.File("gone/busweave.INI");
  qputenv("BUSWEAVE_INI", QByteArray::fromStdString(gone));
  testing::internal::CaptureStderr();
  { TMDIMainForm form(Prompts); }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("not saved"), std::string::npos) << said;
  EXPECT_NE(said.find(gone), std::string::npos) << said;
}

// Placements read from the file, fitted to the screen. These also run at QT_SCALE_FACTOR=2.
class Placement : public Settings {
 protected:
  static QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

TEST_F(Placement, FirstStartTakesFourFifthsOfTheScreenInItsMiddle) {
  TMDIMainForm form(Prompts);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTest::qWait(20);
  const QRect screen = Available();
  const QRect outer = form.frameGeometry();
  EXPECT_TRUE(screen.contains(outer));
  EXPECT_NEAR(outer.width(), screen.width() * 0.8, 1);
  EXPECT_NEAR(outer.height(), screen.height() * 0.8, 1);
  EXPECT_NEAR(outer.center().x(), screen.center().x(), 1);
  EXPECT_NEAR(outer.center().y(), screen.center().y(), 1);
}

// Files named at start wait for the final placement, so their documents are laid out in the area
// the user sees (a later frame would shrink it under them).
TEST_F(Placement, ActionsWaitForTheFinalPlacement) {
  TMDIMainForm form(Prompts);
  int ran = 0;
  form.WhenPlaced([&ran] { ++ran; });
  EXPECT_EQ(ran, 0);
  form.show();
  EXPECT_TRUE(QTest::qWaitFor([&ran] { return ran == 1; }, 5000));
  form.WhenPlaced([&ran] { ++ran; });
  EXPECT_EQ(ran, 2);
}

TEST_F(Placement, StoredValuesAreTheOuterWindowAndAreFittedToTheScreen) {
  const auto placedBy = [this](const std::string& Values) {
    WriteBytes(Ini.toStdString(), "[Busweave-V2]\n" + Values);
    TMDIMainForm form(Prompts);
    return form.geometry();
  };
  const QRect screen = Available();
  EXPECT_EQ(placedBy("Left=10\nTop=-5000\nWidth=300\nHeight=99999\n"), QRect(10, screen.top(), 300, screen.height()));
  EXPECT_EQ(placedBy("Left=0\nTop=0\nWidth=60000\nHeight=60000\n"), screen);
  const QRect recovered = placedBy("Left=-30000\nTop=-30000\nWidth=300\nHeight=250\n");
  EXPECT_EQ(recovered, QRect(screen.topLeft(), QSize(300, 250)));

  // Shown with its frame, the window's outer edges are the stored values, and they come back
  // unchanged at exit.
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=20\nTop=30\nWidth=400\nHeight=300\n");
  {
    TMDIMainForm form(Prompts);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(20);
    EXPECT_EQ(form.frameGeometry(), QRect(20, 30, 400, 300));
  }
  std::string values;
  for (const char* key : {"Left", "Top", "Width", "Height"}) {
    std::string value;
    FindIniValue(ReadBytes(Ini.toStdString()), "Busweave-V2", key, value);
    values += value + " ";
  }
  EXPECT_EQ(values, "20 30 400 300 ");
}

TEST(PlacementFit, TakesTheScreenThatShowsMostOfTheWindow) {
  const QList<QRect> screens = {{0, 0, 1000, 800}, {1000, 0, 800, 600}};
  const QSize least(200, 200);
  EXPECT_EQ(TMDIMainForm::FitPlacement({1500, 100, 200, 300}, screens, least), QRect(1500, 100, 200, 300));
  EXPECT_EQ(TMDIMainForm::FitPlacement({900, 100, 400, 300}, screens, least), QRect(1000, 100, 400, 300));
  EXPECT_EQ(TMDIMainForm::FitPlacement({5000, 5000, 400, 300}, screens, least), QRect(600, 500, 400, 300));
  EXPECT_EQ(TMDIMainForm::FitPlacement({1200, 50, 50, -7}, screens, least), QRect(1200, 50, 200, 200));
  const std::int64_t huge = std::int64_t{1} << 40;
  EXPECT_EQ(TMDIMainForm::FitPlacement({-huge, huge, huge, huge}, screens, least), QRect(0, 0, 1000, 800));
  EXPECT_EQ(TMDIMainForm::FitPlacement({10, 10, 400, 300}, {{0, 0, 150, 120}}, least), QRect(0, 0, 150, 120));
}

// The options dialog on one document.
class Options : public testing::Test {
 protected:
  Options() {
    TFrameLink link;
    link.Notify = [this](TEditorNotifyCode Code, int Value) { Notes.emplace_back(static_cast<int>(Code), Value); };
    link.ExportFont = [this] { return PictureFont; };
    link.SetExportFont = [this](const TFontSpec& Font) { PictureFont = Font; };
    Editor = std::make_unique<TSubForm>(nullptr, link, Folder.File("NONAME1.BWN"), TPoint{200, 200}, DrawingScale,
                                        &HostWindow);
  }

  // Fills the dialog's fields with the texts given and presses OK.
  void runWith(const std::vector<std::pair<const char*, QString>>& Texts) {
    Prompts.OnDialog = [Texts](QDialog& Dialog) {
      for (const auto& [name, text] : Texts) Dialog.findChild<QLineEdit*>(name)->setText(text);
      QTest::mouseClick(static_cast<TFormOptions&>(Dialog).BitBtnOK, Qt::LeftButton);
      return Dialog.isVisible() ? 0 : Dialog.result();
    };
    RunOptions(*Editor, Prompts);
  }

  TempFolder Folder;
  test::ScriptedPrompts<> Prompts;
  test::FakeEditorHost HostWindow{Prompts};
  TFontSpec PictureFont{"Arial", 8, clFuchsia};
  std::vector<std::pair<int, int>> Notes;
  std::unique_ptr<TSubForm> Editor;
};

TEST_F(Options, ImpedancesFallBackAsDocumentedAndOutOfRangeIsRefused) {
  runWith({{"EditLineZL", "abc"}, {"EditZLTerm", "150"}});
  EXPECT_EQ(Editor->FDefaults().LineZL, 120);
  EXPECT_EQ(Editor->FDefaults().ZLTerm, 150);
  runWith({{"EditLineZL", "100"}, {"EditZLTerm", "abc"}});
  EXPECT_EQ(Editor->FDefaults().LineZL, 100);
  EXPECT_EQ(Editor->FDefaults().ZLTerm, 100);
  Editor->FDefaults().ZLTerm = 120;
  runWith({{"EditLineZL", "abc"}, {"EditZLTerm", "abc"}, {"EditNoZL", "x"}});
  EXPECT_EQ(Editor->FDefaults().LineZL, 120);
  EXPECT_EQ(Editor->FDefaults().ZLTerm, 120);
  EXPECT_EQ(Editor->FDefaults().NoZL, 1500);

  runWith({{"EditLineZL", "70000"}});  // the dialog stays open; the script then gives up
  ASSERT_EQ(Prompts.Errors.size(), 1);
  EXPECT_TRUE(Prompts.Errors[0].contains("Impedance of CAN line [ohms]"));
  EXPECT_TRUE(Prompts.Errors[0].contains("0 to 65535"));
  EXPECT_EQ(Editor->FDefaults().LineZL, 120);

  // Past the 32-bit range too, in any field, sizes included; nothing changes.
  for (const auto& [field, text, words] :
       {std::tuple{"EditLineZL", "4294967296",
                   "Impedance of CAN line [ohms]: 4294967296 is outside the range 0 to 65535."},
        std::tuple{"EditNoZL", "99999999999999999999",
                   "Impedance of line wo/ termination [ohms]: 99999999999999999999"},
        std::tuple{"EditSizeX", "2147483647",
                   "Size (X) of document [0.01 mm]: 2147483647 is outside the range 1 to "
                   "320000000."}}) {
    Prompts.Errors.clear();
    runWith({{field, text}});
    ASSERT_EQ(Prompts.Errors.size(), 1) << field;
    EXPECT_TRUE(Prompts.Errors[0].startsWith(words)) << Prompts.Errors[0].toStdString();
  }
  EXPECT_EQ(Editor->FDefaults().LineZL, 120);
  EXPECT_EQ(Editor->FDefaults().NoZL, 1500);
  EXPECT_EQ(Editor->DocExtent(), (TPoint{200, 200}));
}

TEST_F(Options, SizesInHundredthsOfAMillimetre) {
  Prompts.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFormOptions&>(Dialog);
    EXPECT_EQ(d.windowTitle(), "Options");
    EXPECT_EQ(d.PageControl->currentWidget(), d.TabSheetLayout);
    EXPECT_EQ(d.EditSizeX->text(), "4000");
    EXPECT_EQ(d.EditSizeY->text(), "4000");
    return 2;
  };
  RunOptions(*Editor, Prompts);
  runWith({{"EditSizeX", "4010"}, {"EditSizeY", "6000"}});
  EXPECT_EQ(Editor->DocExtent(), (TPoint{200, 300}));
  EXPECT_EQ(Notes, (std::vector<std::pair<int, int>>{{1, 200}, {2, 300}}));
  for (const char* kept : {"0", "-5", ""}) {
    runWith({{"EditSizeX", kept}, {"EditSizeY", kept}});
    EXPECT_EQ(Editor->DocExtent(), (TPoint{200, 300})) << kept;
  }
}

TEST_F(Options, FontsChangeOnlyOnOkAndNamesCanBeHidden) {
  Prompts.FontAnswer = QFont("Courier New", 14);
  Prompts.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFormOptions&>(Dialog);
    d.LabelFontDrawClick();
    EXPECT_EQ(d.LabelFontDraw->text(), "Courier New");
    return 2;
  };
  RunOptions(*Editor, Prompts);
  EXPECT_EQ(Editor->DrawingFont().Name, "Arial");

  Prompts.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFormOptions&>(Dialog);
    d.LabelFontClipClick();
    d.CheckBoxShowNames->setChecked(false);
    return 1;
  };
  RunOptions(*Editor, Prompts);
  EXPECT_EQ(PictureFont.Name, "Courier New");
  EXPECT_EQ(PictureFont.Size, 14);
  EXPECT_EQ(PictureFont.Color, clFuchsia);  // the font dialog keeps the colour
  Editor->Nodes().AddNode({100, 100});
  TRecordingCanvas canvas;
  Editor->PlotIt(canvas, ptScreen, true, {1, 1});
  EXPECT_TRUE(canvas.OpsOfKind(TCanvasOp::opText).empty());

  // A new document starts with the defaults again.
  TSubForm fresh(nullptr, {}, Folder.File("NONAME3.BWN"), {200, 200}, DrawingScale, &HostWindow);
  const TDocumentOptions options = fresh.Options();
  EXPECT_EQ(options.LineZL, 120);
  EXPECT_EQ(options.ZLTerm, 120);
  EXPECT_EQ(options.NoZL, 1500);
  EXPECT_TRUE(options.ShowNames);
}

}  // namespace
}  // namespace busweave

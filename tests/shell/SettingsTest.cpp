// Settings that survive a restart, and the per-document options dialog.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "drawing/RecordingCanvas.h"
#include "editor/EditorWindow.h"
#include "gui/Prompts.h"
#include "shell/MainWindow.h"
#include "shell/Settings.h"
#include "editor/DocumentOptionsDialog.h"

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

TEST_F(Settings, FirstStartUsesTheDesignedPlacementAndExitWritesFiveKeys) {
  {
    TMDIMainForm form(Prompts);
    EXPECT_EQ(form.geometry(), QRect(340, 96, 613, 611));
    EXPECT_EQ(QDir::currentPath(), FStart);
  }
  std::string value;
  const std::string text = ReadBytes(Ini.toStdString());
  for (const char* key : {"Left", "Top", "Width", "Height", "IDirectory"})
    EXPECT_TRUE(FindIniValue(text, "Busweave-V2", key, value)) << key;
  EXPECT_EQ(text.rfind("[Busweave-V2]\nLeft=", 0), 0u);
}

TEST_F(Settings, RestartRestoresPlacementAndALongFolder) {
  const std::filesystem::path deep = Folder.Path() / std::string(70, 'n') / "my nets";
  std::filesystem::create_directories(deep);
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=120\nTop=80\nWidth=700\nHeight=500\nIDirectory=" +
                                    deep.string() + "\n");
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

TEST_F(Settings, BadValuesKeepTheirDefaultsOnlyAndNothingIsReported) {
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=abc\nTop=80\nWidth=700\nHeight=500\nIDirectory=/no/such/folder\n");
  {
    TMDIMainForm form(Prompts);
    EXPECT_EQ(form.geometry(), QRect(340, 80, 700, 500));
    EXPECT_EQ(QDir::currentPath(), FStart);
    EXPECT_TRUE(Prompts.Errors.isEmpty());
  }
  std::string left;
  FindIniValue(ReadBytes(Ini.toStdString()), "Busweave-V2", "Left", left);
  EXPECT_EQ(left, "340");  // rewritten with a valid value

  // A placement on a screen that is gone comes back onto the screen.
  WriteBytes(Ini.toStdString(), "[Busweave-V2]\nLeft=-30000\nTop=-30000\nWidth=700\nHeight=500\n");
  TMDIMainForm form(Prompts);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(form.geometry()));
}

// The options dialog on one document.
class Options : public testing::Test {
 protected:
  struct Host : TEditorHost {
    void ShowModeButtons(bool, TMode) override {}
    void ShowPosition(const QString&, const QString&) override {}
    TPrompts& Prompts() override { return *Scripted; }
    test::ScriptedPrompts<>* Scripted = nullptr;
  };

  Options() {
    HostWindow.Scripted = &Prompts;
    TFrameLink link;
    link.Notify = [this](int Code, int Value) { Notes.emplace_back(Code, Value); };
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
  Host HostWindow;
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

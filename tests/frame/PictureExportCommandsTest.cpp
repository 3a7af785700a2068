// The picture export of the frame window: the save dialog's proposal and the format rules,
// cancelling, a file that cannot be written, the clipboard flavours, SVG and PDF documents of
// the true size, and the Options menu's commands.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QVBoxLayout>
#include <filesystem>

#include "CliRun.h"
#include "FakeEditorHost.h"
#include "MetafileReader.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "base/PathText.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "frame/PictureExportCommands.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

using test::Int;
using test::Long;
using test::ReadBytes;
using test::Short;
using test::TempFolder;

// A frame on a 1500 x 1000 document: its nodes span 1300 x 800 and get 100 units of margin.
class PictureExport : public testing::Test {
 protected:
  PictureExport() {
    // The save dialog answers from the script and errors are kept; any other question fails the
    // test.
    using TQuestion = test::ScriptedPrompts<>::TQuestion;
    Scripted.Unexpected = {TQuestion::Open, TQuestion::Message, TQuestion::Warning, TQuestion::Dialog};
    TCanNodes net{120, 1500, 120};
    const std::vector<std::pair<TPoint, TPoint>> wires = {{{0, 0}, {1300, 800}}, {{1300, 800}, {1300, 0}}};
    for (const auto& [a, b] : wires) {
      net.AddNode(a);
      net.AddNode(b);
      net.AddWire(a, b, 120, true);
    }
    net.NodeAt({0, 0})->FResistance = 120;
    Path = Folder.File("bus.bwn");
    EXPECT_TRUE(net.SaveNetwork(Path));

    Area = new QMdiArea(&Main);
    auto* layout = new QVBoxLayout(&Main);
    layout->addWidget(Area);
    Main.resize(800, 600);
    Main.show();
    Frame = TMDIChild::Open(Area, &Host, Path, {200, 200});
  }

  std::string File(const std::string& Name) const { return Folder.File(Name); }
  test::ScriptedPrompts<>& Prompts() { return Scripted; }

  TempFolder Folder;
  std::string Path;
  test::ScriptedPrompts<> Scripted;
  test::FakeEditorHost Host{Scripted};
  QWidget Main;
  QMdiArea* Area;
  TMDIChild* Frame;
};

bool IsPlaceableWmf(const std::string& Bytes) { return Bytes.size() > 40 && Long(Bytes, 0) == 0x9AC6CDD7u; }
bool IsEmf(const std::string& Bytes) {
  return Bytes.size() > 88 && Long(Bytes, 0) == 1 && Long(Bytes, 40) == 0x464D4520u;
}

TEST_F(PictureExport, WmfCommandProposesTheDocumentWithoutExtensionAndWritesAPlaceableMetafile) {
  ASSERT_EQ(Frame->FDocSize(), (TPoint{1500, 1000}));
  Prompts().SaveAnswer = QString::fromStdString(File("bus"));  // the proposal, accepted
  Frame->ExportPicture(ptFileWMF);

  ASSERT_EQ(Prompts().SaveRequests.size(), 1u);
  const TSaveDialogRequest& request = Prompts().SaveRequests[0];
  EXPECT_EQ(request.FileName.toStdString(), File("bus"));
  EXPECT_EQ(request.Folder.toStdString(), Folder.Path().string());
  EXPECT_EQ(request.DefaultSuffix, "WMF");
  EXPECT_EQ(request.Filter, "Metafiles (*.WMF)");

  const std::string bytes = ReadBytes(File("bus.WMF"));
  ASSERT_TRUE(IsPlaceableWmf(bytes));
  EXPECT_EQ(Short(bytes, 10), 1134);
  EXPECT_EQ(Short(bytes, 12), 756);
  EXPECT_NO_THROW(test::ReadWmf(bytes));
  EXPECT_TRUE(Prompts().Errors.isEmpty());
}

TEST_F(PictureExport, FormatFollowsTheCommandUnlessTheNameEndsInWmf) {
  Prompts().SaveAnswer = QString::fromStdString(File("picture"));
  Frame->ExportPicture(ptFileEMF);
  EXPECT_EQ(Prompts().SaveRequests.back().DefaultSuffix, "EMF");
  EXPECT_EQ(Prompts().SaveRequests.back().Filter, "Metafiles (*.EMF)");
  const std::string emf = ReadBytes(File("picture.EMF"));
  ASSERT_TRUE(IsEmf(emf));
  EXPECT_EQ(Int(emf, 32), 30000);
  EXPECT_EQ(Int(emf, 36), 20000);
  const std::string description = test::Utf16("Busweave-V2") + std::string(2, '\0') + test::Utf16(Path);
  EXPECT_EQ(emf.substr(Long(emf, 64), description.size()), description);

  // The EMF command with a name ending in .wmf, any case: a placeable Windows metafile, its
  // labels turned the way that format's readers turn them.
  Prompts().SaveAnswer = QString::fromStdString(File("shown.WmF"));
  Frame->ExportPicture(ptFileEMF);
  const std::string wmf = ReadBytes(File("shown.WmF"));
  ASSERT_TRUE(IsPlaceableWmf(wmf));
  const auto records = test::ReadWmf(wmf).Records;
  const auto label = std::find_if(records.begin(), records.end(), [](const test::WmfRecord& r) {
    return r.Function == test::wmfCreateFont && Short(r.Data, 10) != 0;
  });
  ASSERT_NE(label, records.end());
  EXPECT_GT(Short(label->Data, 10), 0);  // the rising wire's label turns upwards

  // The WMF command keeps its format under any name.
  Prompts().SaveAnswer = QString::fromStdString(File("other.emf"));
  Frame->ExportPicture(ptFileWMF);
  EXPECT_TRUE(IsPlaceableWmf(ReadBytes(File("other.emf"))));
  EXPECT_TRUE(Prompts().Errors.isEmpty());
}

TEST_F(PictureExport, CancellingWritesNothingAndAFailedWriteSaysWhichFile) {
  const auto before = std::distance(std::filesystem::directory_iterator(Folder.Path()), {});
  Frame->ExportPicture(ptFileEMF);
  Frame->SaveVectorPicture(true);
  EXPECT_EQ(Prompts().SaveRequests.size(), 2u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()), {}), before);
  EXPECT_TRUE(Prompts().Errors.isEmpty());

  const std::string target = File("missing/bus.emf");
  Prompts().SaveAnswer = QString::fromStdString(target);
  Frame->ExportPicture(ptFileEMF);
  ASSERT_EQ(Prompts().Errors.size(), 1);
  EXPECT_EQ(Prompts().Errors[0].toStdString(), "Cannot create file " + target + ": No such file or directory");
}

TEST_F(PictureExport, TheCommandLineDrawsWhatTheFrameExports) {
  // The same file through the Options menu and through busweave-cli: the same bytes.
  for (const auto& [target, name] : {std::pair{ptFileEMF, "frame.emf"}, std::pair{ptFileWMF, "frame.wmf"}}) {
    Prompts().SaveAnswer = QString::fromStdString(File(name));
    Frame->ExportPicture(target);
  }
  Prompts().SaveAnswer = QString::fromStdString(File("frame.svg"));
  Frame->SaveVectorPicture(true);
  ASSERT_TRUE(Prompts().Errors.isEmpty());
  for (const std::string format : {"emf", "wmf", "svg"}) {
    const std::string out = File("cli." + format);
    const test::Outcome result = test::run({"picture", Path, "-o", out});
    ASSERT_EQ(result.Code, 0) << result.Err;
    EXPECT_EQ(ReadBytes(out), ReadBytes(File("frame." + format))) << format;
  }
}

TEST_F(PictureExport, AWindowsMetafileTooLargeIsRefusedNamingTheFileAndTheLimit) {
  TPictureSource source;
  source.DocPath = File("long.bwn");
  source.DocSize = {45200, 200};  // 9 m
  const std::string target = File("long.wmf");
  Prompts().SaveAnswer = QString::fromStdString(target);
  busweave::ExportPicture(nullptr, source, ptFileWMF, Prompts());
  ASSERT_EQ(Prompts().Errors.size(), 1);
  EXPECT_EQ(Prompts().Errors[0].toStdString(),
            target +
                ": the picture is 9040.0 x 40.0 mm, too large for a Windows metafile: it holds at most 32,767 "
                "units of 1/96 inch (8.67 m) a side");
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(PictureExport, ANeverSavedDocumentProposesItsNameInTheDialogsOwnFolder) {
  TPictureSource source;
  source.DocPath = "NONAME1.BWN";
  Prompts().SaveAnswer.reset();
  busweave::ExportPicture(nullptr, source, ptFileWMF, Prompts());
  ASSERT_EQ(Prompts().SaveRequests.size(), 1u);
  EXPECT_EQ(Prompts().SaveRequests[0].FileName, "NONAME1");
  EXPECT_TRUE(Prompts().SaveRequests[0].Folder.isEmpty());
  EXPECT_EQ(PathWithoutExtension("/nets.v2/bus"), "/nets.v2/bus");
  EXPECT_EQ(PathWithoutExtension("C:\\nets\\bus.bwn"), "C:\\nets\\bus");
}

TEST_F(PictureExport, BothClipboardCommandsLeaveAnEnhancedMetafileOnlyOneWithADescription) {
  QClipboard* clipboard = QApplication::clipboard();
  for (const TPlotTarget target : {ptClipWMF, ptClipEMF}) {
    clipboard->clear();
    Frame->ExportPicture(target);
    const QMimeData* data = clipboard->mimeData();
    ASSERT_NE(data, nullptr);
    const QByteArray office = data->data(kOfficeEmfMime);
    const QByteArray inkscape = data->data(kEmfMime);
    ASSERT_FALSE(office.isEmpty());
    EXPECT_EQ(office, inkscape);
    const std::string emf = office.toStdString();
    ASSERT_TRUE(IsEmf(emf));
    EXPECT_EQ(Int(emf, 32), 30000);
    EXPECT_EQ(Long(emf, 60) != 0, target == ptClipEMF) << int(target);
    EXPECT_NO_THROW(test::ReadEmf(emf));

    QImage image;
    ASSERT_TRUE(image.loadFromData(data->data("image/png"), "PNG"));
    EXPECT_EQ(image.size(), QSize(1134, 756));
  }
  EXPECT_TRUE(Prompts().SaveRequests.empty());
}

TEST_F(PictureExport, SvgAndPdfDocumentsHaveTheTrueSize) {
  Prompts().SaveAnswer = QString::fromStdString(File("bus"));
  Frame->SaveVectorPicture(true);
  EXPECT_EQ(Prompts().SaveRequests.back().DefaultSuffix, "svg");
  const std::string svg = ReadBytes(File("bus.svg"));
  EXPECT_NE(svg.find("width=\"300mm\" height=\"200mm\""), std::string::npos);
  EXPECT_NE(svg.find("[1] "), std::string::npos);

  Frame->SaveVectorPicture(false);
  EXPECT_EQ(Prompts().SaveRequests.back().DefaultSuffix, "pdf");
  const std::string pdf = ReadBytes(File("bus.pdf"));
  ASSERT_EQ(pdf.substr(0, 5), "%PDF-");
  // 300 x 200 mm; Qt keeps page sizes in whole points.
  EXPECT_NE(pdf.find("/MediaBox [0 0 850.000000 567.000000]"), std::string::npos);
}

TEST_F(PictureExport, OptionsMenuCommandsRunTheExport) {
  for (QAction* action : Frame->Option1->actions()) EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
  Prompts().SaveAnswer = QString::fromStdString(File("menu"));
  Frame->SaveAsMetafileWMF->trigger();
  EXPECT_TRUE(IsPlaceableWmf(ReadBytes(File("menu.WMF"))));
  Frame->SaveAsPDF->trigger();
  EXPECT_EQ(ReadBytes(File("menu.pdf")).substr(0, 5), "%PDF-");
}

}  // namespace
}  // namespace busweave

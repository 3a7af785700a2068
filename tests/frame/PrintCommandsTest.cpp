// Printing a document through the real print path into a PDF file: true size across pages and
// fitted to one page, the footer on every page, a printer that cannot be opened, a file that
// cannot be written whole; the print preview; and the editor window that resizes and maximises
// like the frame.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <csignal>
#include <filesystem>
#include <functional>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "drawing/NetworkDrawing.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "frame/PrintCommands.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "picture/PictureRendering.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;

// The text Ghostscript reads on one page; nothing when Ghostscript is not installed.
std::optional<QString> PageText(const std::string& Pdf, int Page) {
  const QString gs = QStandardPaths::findExecutable("gs");
  if (gs.isEmpty()) return std::nullopt;
  QProcess process;
  process.start(gs,
                {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=txtwrite", "-sOutputFile=-",
                 QString("-dFirstPage=%1").arg(Page), QString("-dLastPage=%1").arg(Page), QString::fromStdString(Pdf)});
  process.waitForFinished(30000);
  return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

int PageCount(const std::string& Pdf) {
  return static_cast<int>(QString::fromLatin1(ReadBytes(Pdf)).count(QRegularExpression("/Type\\s*/Page\\b")));
}

// A 1500 x 1000 document (300 x 200 mm): on A4 landscape it takes 2 x 2 pages at true size.
class Printing : public testing::Test {
 protected:
  Printing() {
    TCanNodes net{120, 1500, 120};
    const std::vector<std::pair<TPoint, TPoint>> wires = {{{0, 0}, {1300, 800}}, {{1300, 800}, {1300, 0}}};
    for (const auto& [a, b] : wires) {
      net.AddNode(a);
      net.AddNode(b);
      net.AddWire(a, b, 120, true);
    }
    Path = Folder.File("bus.bwn");
    EXPECT_TRUE(net.SaveNetwork(Path));
    Area = new QMdiArea(&Main);
    auto* layout = new QVBoxLayout(&Main);
    layout->addWidget(Area);
    Main.resize(900, 700);
    Main.show();
    Frame = TMDIChild::Open(Area, &Host, Path, {200, 200});
    // The print dialog prints on A4 landscape paper with margins of 10 mm.
    Scripted.OnPrinter = [this](QPrinter& Printer) {
      Printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                        QPageLayout::Millimeter));
      if (FromPage > 0) {
        Printer.setPrintRange(QPrinter::PageRange);
        Printer.setFromTo(FromPage, ToPage);
      }
    };
  }

  test::ScriptedPrompts<>& Prompts() { return Scripted; }
  // Prints into the file Name in Layout; no layout: the print dialog is cancelled.
  std::string PrintTo(const std::string& Name, std::optional<TPrintLayout> Layout) {
    Prompts().PrintFile = Layout ? QString::fromStdString(Folder.File(Name)) : QString();
    Prompts().PrintLayout = Layout;
    Frame->Print();
    return Folder.File(Name);
  }

  TempFolder Folder;
  std::string Path;
  int FromPage = 0, ToPage = 0;  // a page range, when set
  test::ScriptedPrompts<> Scripted;
  test::FakeEditorHost Host{Scripted};
  QWidget Main;
  QMdiArea* Area;
  TMDIChild* Frame;
};

TEST_F(Printing, TrueSizeTakesPagesFittedOneAndEveryPageHasTheFooter) {
  ASSERT_EQ(Frame->FDocSize(), (TPoint{1500, 1000}));
  const std::string across = PrintTo("across.pdf", TPrintLayout::TrueSize);
  const std::string fitted = PrintTo("fitted.pdf", TPrintLayout::FitToPage);
  EXPECT_TRUE(Prompts().Errors.isEmpty()) << Prompts().Errors.join("; ").toStdString();
  EXPECT_EQ(PageCount(across), 4);
  EXPECT_EQ(PageCount(fitted), 1);
  EXPECT_EQ(Frame->PrintLayout(), TPrintLayout::FitToPage);  // proposed next time
  FromPage = 2;
  ToPage = 3;
  const std::string range = PrintTo("range.pdf", TPrintLayout::TrueSize);
  EXPECT_EQ(PageCount(range), 2);

  const QString date = QDate::currentDate().toString(Qt::ISODate);
  if (!PageText(fitted, 1)) GTEST_SKIP() << "Ghostscript (gs) is not installed to read the pages' text";
  QString drawn;
  for (int page = 1; page <= 4; ++page) {
    const QString text = *PageText(across, page);
    EXPECT_TRUE(text.contains(QString::fromStdString(Path) + " " + date)) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Page %1 of 4").arg(page))) << text.toStdString();
    drawn += text;
  }
  EXPECT_TRUE(PageText(range, 1)->contains("Page 2 of 4"));
  // The drawing itself is printed: the node names are in the pages' text.
  const QString one = *PageText(fitted, 1);
  EXPECT_TRUE(one.contains("Page 1 of 1"));
  for (const char* name : {"[1] ", "[2] ", "[3] "}) {
    EXPECT_TRUE(drawn.contains(name)) << name;
    EXPECT_TRUE(one.contains(name)) << name;
  }
}

// The network of a file drawn as the frame's commands draw it.
TPictureSource SourceOf(TCanNodes& Net, const std::string& Path, TPoint DocSize) {
  TPictureSource source;
  source.DocSize = DocSize;
  source.DocPath = Path;
  source.Font = DefaultPictureFont;
  TPlotSettings settings;
  settings.ExportFont = DefaultPictureFont;
  source.PlotIt = [&Net, settings](Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale) {
    PlotNetwork(C, Net, settings, Target, MakeFont, Scale);
  };
  return source;
}

TEST_F(Printing, ThePrintDialogOffersTheLayoutAndProposesAFileBesideTheDocument) {
  TCanNodes net{120, 1500, 120};
  net.LoadNetwork(Path);
  const TPictureSource source = SourceOf(net, Path, Frame->FDocSize());
  std::optional<QString> proposed;
  bool layoutShown = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    poll.stop();
    if (auto* file = dialog->findChild<QLineEdit*>("filename")) proposed = file->text();
    auto* fitted = dialog->findChild<QRadioButton*>("PrintFitToPage");
    layoutShown = fitted && fitted->isVisible();
    if (fitted) fitted->setChecked(true);
    // Into the file, whatever printers the machine has.
    if (auto* printers = dialog->findChild<QComboBox*>("printers")) printers->setCurrentIndex(printers->count() - 1);
    dialog->accept();
  });
  poll.start();
  TDialogPrompts prompts;
  TPrintLayout layout = TPrintLayout::TrueSize;
  PrintDocument(&Main, source, prompts, layout);
  const std::string beside = Folder.File("bus.pdf");
  EXPECT_EQ(proposed, QFileInfo(QString::fromStdString(beside)).absoluteFilePath());
  EXPECT_TRUE(layoutShown);  // without unfolding the dialog's options
  EXPECT_EQ(layout, TPrintLayout::FitToPage);
  ASSERT_TRUE(std::filesystem::exists(beside));
  EXPECT_EQ(PageCount(beside), 1);
}

TEST(PrintPages, AtTrueSizeNoLabelIsCutByASeam) {
  // A label in the middle of a wire that lies across the first seam of A4 landscape (277 mm of
  // picture a page, 1385 units).
  TCanNodes net{120, 1500, 120};
  net.AddNode({100, 500});
  net.AddNode({2670, 500});
  net.AddWire({100, 500}, {2670, 500}, 120, true);
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = 12345;
  const TPictureSource source = SourceOf(net, "seam.bwn", {2770, 800});
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                    QPageLayout::Millimeter));
  const TPageGrid grid = PageGridOf(printer, source, TPrintLayout::TrueSize);
  const std::vector<QRectF> texts = PictureTextBoxes(source, printer.resolution());
  bool acrossAPage = false;
  for (const QRectF& box : texts) {
    acrossAPage = acrossAPage || (box.left() < grid.Room.width() && box.right() > grid.Room.width());
    bool whole = false;
    for (int row = 0; row < grid.Rows; ++row)
      for (int column = 0; column < grid.Columns; ++column) whole = whole || grid.PageRect(column, row).contains(box);
    EXPECT_TRUE(whole) << box.left() << " .. " << box.right();
  }
  EXPECT_TRUE(acrossAPage);  // pages of the full width would cut it
  EXPECT_EQ(grid.Columns, 3);
  EXPECT_EQ(grid.Rows, 1);
}

TEST_F(Printing, CancellingPrintsNothingAndAFileThatCannotBeMadeIsNamed) {
  EXPECT_FALSE(std::filesystem::exists(PrintTo("cancelled.pdf", std::nullopt)));
  const std::string blocked = Folder.File("missing-folder/out.pdf");
  PrintTo("missing-folder/out.pdf", TPrintLayout::TrueSize);
  ASSERT_EQ(Prompts().Errors.size(), 1);
  EXPECT_TRUE(Prompts().Errors[0].contains(QString::fromStdString(blocked))) << Prompts().Errors[0].toStdString();
}

TEST_F(Printing, AFailedPrintKeepsTheOldFileAndIsShown) {
  const std::string old = PrintTo("old.pdf", TPrintLayout::FitToPage);
  const std::string before = ReadBytes(old);
  ASSERT_GT(before.size(), 1000u);
  // A disk that fills up halfway through the new file, by the limit on the size of files.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = before.size() / 2;
  ::setrlimit(RLIMIT_FSIZE, &small);
  PrintTo("old.pdf", TPrintLayout::TrueSize);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(ReadBytes(old) == before) << "the old PDF was replaced";
  ASSERT_EQ(Prompts().Errors.size(), 1);
  EXPECT_TRUE(Prompts().Errors[0].contains("old.pdf")) << Prompts().Errors[0].toStdString();
  Prompts().PrintFile = "/dev/full";
  Frame->Print();
  ASSERT_EQ(Prompts().Errors.size(), 2);
  EXPECT_TRUE(Prompts().Errors[1].contains("/dev/full")) << Prompts().Errors[1].toStdString();
}

TEST_F(Printing, PreviewRendersThePagesAndSwitchesTheLayout) {
  int truePages = 0;
  int fittedPages = 0;
  const auto countPages = [&](QDialog& Dialog) {
    auto* preview = Dialog.findChild<QPrintPreviewWidget*>();
    auto* fit = Dialog.findChild<QAction*>("PreviewFitToPage");
    ASSERT_TRUE(preview && fit);
    preview->updatePreview();
    truePages = preview->pageCount();
    fit->trigger();
    fittedPages = preview->pageCount();
  };
  Prompts().OnDialog = [&](QDialog& Dialog) {
    countPages(Dialog);
    return 2;
  };
  Frame->PrintPreview();
  EXPECT_GE(truePages, 2);  // on the default paper of the machine
  EXPECT_EQ(fittedPages, 1);
  EXPECT_EQ(Frame->PrintLayout(), TPrintLayout::FitToPage);
  EXPECT_TRUE(Prompts().Errors.isEmpty());
}

TEST_F(Printing, TheEditorWindowResizesAndMaximisesLikeTheFrame) {
  QMdiSubWindow* editor = Frame->EditorWindow();
  EXPECT_FALSE(editor->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(editor->windowFlags() & Qt::WindowMaximizeButtonHint);
  editor->resize(520, 410);
  EXPECT_EQ(editor->size(), QSize(520, 410));
  editor->showMaximized();
  EXPECT_TRUE(editor->isMaximized());
  EXPECT_EQ(editor->size(), Area->viewport()->size());
  // The editor's drawing area follows the window.
  EXPECT_TRUE(QTest::qWaitFor([this] { return Frame->Editor()->ClientSize().X > 520; }, 2000));
  editor->showNormal();
  EXPECT_EQ(editor->size(), QSize(520, 410));
}

}  // namespace
}  // namespace busweave

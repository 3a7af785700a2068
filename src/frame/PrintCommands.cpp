#include "frame/PrintCommands.h"

#include <QActionGroup>
#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/PathText.h"
#include "base/SafeFile.h"

namespace busweave {
namespace {

// The footer's font; its height in points keeps it readable whatever the printer's resolution.
QFont footerFont() {
  QFont font("Arial");
  font.setPointSizeF(8);
  return font;
}

// The part of a page that the picture may fill, in the printer's device units, the footer's band
// taken off at the bottom; and that band.
struct TPageAreas {
  QRectF Picture;
  QRectF Footer;
};

TPageAreas pageAreasOf(QPagedPaintDevice& Device, int Resolution) {
  const QRect paint = Device.pageLayout().paintRectPixels(Resolution);
  const QFontMetricsF metrics(footerFont(), &Device);
  // One line of text with half a line of room above it.
  const double band = std::min(metrics.height() * 1.5, paint.height() / 2.0);
  TPageAreas areas;
  areas.Picture = QRectF(0, 0, std::max(1, paint.width()), std::max(1.0, paint.height() - band));
  areas.Footer = QRectF(0, paint.height() - band, paint.width(), band);
  return areas;
}

// The picture's size in the device units of a resolution.
QSizeF pictureDeviceSize(int Resolution, const TPictureSource& Source) {
  const TPoint size = PictureSize(Source);
  const double perHundredth = Resolution / 2540.0;
  return {size.X * perHundredth, size.Y * perHundredth};
}

void drawFooter(QPainter& Painter, const QRectF& Band, const QString& Footer, int Page, int Pages) {
  Painter.save();
  Painter.setClipping(false);
  Painter.setFont(footerFont());
  Painter.setPen(Qt::black);
  const QString number = QString("Page %1 of %2").arg(Page).arg(Pages);
  const QFontMetricsF metrics(Painter.font(), Painter.device());
  const double numberWidth = metrics.horizontalAdvance(number);
  // A long path gives way in its middle, so that the file's name and the date stay readable.
  const double room = std::max(0.0, Band.width() - numberWidth - metrics.averageCharWidth() * 4);
  const QString text = metrics.elidedText(Footer, Qt::ElideMiddle, room);
  Painter.drawText(Band, Qt::AlignLeft | Qt::AlignBottom, text);
  Painter.drawText(Band, Qt::AlignRight | Qt::AlignBottom, number);
  Painter.restore();
}

// Where the pages along one side of the picture begin: a page each Room, but a seam that would
// cut through a text moves back to the text's start, so that the text goes whole onto the next
// page. A page keeps at least half its room, so crowded labels cannot make pages of slivers.
std::vector<double> pageStarts(double Length, double Room, const std::vector<std::pair<double, double>>& Texts) {
  std::vector<double> starts{0.0};
  // A sliver of less than a millionth of a page beyond the last one does not start a new one.
  while (Length - starts.back() > Room * (1 + 1e-6)) {
    const double start = starts.back();
    double seam = start + Room;
    for (bool moved = true; moved;) {
      moved = false;
      for (const auto& [from, to] : Texts)
        if (from < seam && seam < to && from >= start + Room / 2) {
          seam = from;
          moved = true;
        }
    }
    starts.push_back(seam);
  }
  return starts;
}

}  // namespace

QRectF TPageGrid::PageRect(int Column, int Row) const {
  const double left = ColumnStarts.at(static_cast<std::size_t>(Column));
  const double top = RowStarts.at(static_cast<std::size_t>(Row));
  const auto next = [](const std::vector<double>& Starts, int Index, double Start, double Length) {
    const auto at = static_cast<std::size_t>(Index) + 1;
    return at < Starts.size() ? Starts[at] - Start : Length;
  };
  return {left, top, next(ColumnStarts, Column, left, Room.width()), next(RowStarts, Row, top, Room.height())};
}

QString PrintFooter(const std::string& DocPath, QDate Date) {
  return QString::fromLocal8Bit(DocPath) + "    " + Date.toString(Qt::ISODate);
}

namespace {

TPageGrid pageGridOf(QPagedPaintDevice& Device, int Resolution, const TPictureSource& Source, TPrintLayout Layout) {
  const QSizeF area = pageAreasOf(Device, Resolution).Picture.size();
  const QSizeF picture = pictureDeviceSize(Resolution, Source);
  TPageGrid grid;
  grid.Room = area;
  if (Layout == TPrintLayout::FitToPage) {
    grid.Scale = std::min(area.width() / picture.width(), area.height() / picture.height());
    return grid;
  }
  std::vector<std::pair<double, double>> across;
  std::vector<std::pair<double, double>> down;
  if (picture.width() > area.width() || picture.height() > area.height())
    for (const QRectF& box : PictureTextBoxes(Source, Resolution)) {
      // Printer fonts measure a little differently from the ones measured here.
      const double margin = box.height() / 10;
      across.emplace_back(box.left() - margin, box.right() + margin);
      down.emplace_back(box.top() - margin, box.bottom() + margin);
    }
  grid.ColumnStarts = pageStarts(picture.width(), area.width(), across);
  grid.RowStarts = pageStarts(picture.height(), area.height(), down);
  grid.Columns = static_cast<int>(grid.ColumnStarts.size());
  grid.Rows = static_cast<int>(grid.RowStarts.size());
  return grid;
}

// Paints the pages First to Last on Device; false when it cannot be opened.
bool paintPages(QPagedPaintDevice& Device, int Resolution, const TPictureSource& Source, TPrintLayout Layout,
                const QString& Footer, int First, int Last) {
  const TPageGrid grid = pageGridOf(Device, Resolution, Source, Layout);
  const TPageAreas areas = pageAreasOf(Device, Resolution);
  QPainter painter;
  if (!painter.begin(&Device)) return false;
  for (int page = First; page <= Last; ++page) {
    if (page > First) Device.newPage();
    const int row = (page - 1) / grid.Columns;
    const int column = (page - 1) % grid.Columns;
    const QRectF shown = grid.PageRect(column, row);
    painter.save();
    painter.setClipRect(QRectF(areas.Picture.topLeft(), shown.size()));
    painter.translate(-shown.left(), -shown.top());
    painter.scale(grid.Scale, grid.Scale);
    PaintPicture(painter, Source, Resolution);
    painter.restore();
    drawFooter(painter, areas.Footer, Footer, page, grid.Pages());
  }
  return painter.end();
}

}  // namespace

TPageGrid PageGridOf(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout) {
  return pageGridOf(Printer, Printer.resolution(), Source, Layout);
}

int PrintPages(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout, const QString& Footer) {
  const TPageGrid grid = PageGridOf(Printer, Source, Layout);
  int first = 1;
  int last = grid.Pages();
  if (Printer.printRange() == QPrinter::PageRange && Printer.fromPage() > 0) {
    first = std::max(first, Printer.fromPage());
    last = std::min(last, Printer.toPage() > 0 ? Printer.toPage() : last);
  }
  if (first > last) return 0;

  const QString file = Printer.outputFileName();
  // A print into a file is a file like every other output: made in memory, then written safely,
  // so that a full disk never leaves half a PDF in place of the old one and is reported. (The
  // preview paints through its own engine and is left alone.)
  const QPaintEngine* engine = Printer.paintEngine();
  if (!file.isEmpty() && engine && engine->type() == QPaintEngine::Pdf) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
      QPdfWriter writer(&buffer);
      writer.setResolution(Printer.resolution());
      writer.setPageLayout(Printer.pageLayout());
      writer.setTitle(Printer.docName());
      writer.setCreator(Printer.creator());
      if (!paintPages(writer, writer.resolution(), Source, Layout, Footer, first, last))
        throw std::runtime_error(("Cannot create file " + file).toLocal8Bit().toStdString());
    }
    writeFileAtomically(file.toLocal8Bit().toStdString(), std::string_view(bytes.constData(), bytes.size()));
    return last - first + 1;
  }
  if (!paintPages(Printer, Printer.resolution(), Source, Layout, Footer, first, last)) {
    const QString message = file.isEmpty() ? "The printer " + Printer.printerName() + " could not be opened."
                                           : "Cannot create file " + file;
    throw std::runtime_error(message.toLocal8Bit().toStdString());
  }
  return last - first + 1;
}

void PrintDocument(QWidget* Owner, const TPictureSource& Source, TPrompts& Prompts, TPrintLayout& Layout) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QString::fromLocal8Bit(FileNameOf(Source.DocPath)));
  const QString proposed =
      QFileInfo(QString::fromLocal8Bit(ReplaceExtension(Source.DocPath, "pdf"))).absoluteFilePath();
  const auto chosen = Prompts.SetUpPrinter(Owner, printer, Layout, proposed);
  if (!chosen) return;
  Layout = *chosen;
  try {
    PrintPages(printer, Source, Layout, PrintFooter(Source.DocPath, QDate::currentDate()));
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
  }
}

void PreviewDocument(QWidget* Owner, const TPictureSource& Source, TPrompts& Prompts, TPrintLayout& Layout) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(QString::fromLocal8Bit(FileNameOf(Source.DocPath)));
  QPrintPreviewDialog dialog(&printer, Owner);
  const QString footer = PrintFooter(Source.DocPath, QDate::currentDate());
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* Target) {
    try {
      PrintPages(*Target, Source, Layout, footer);
    } catch (const std::exception& error) {
      Prompts.ShowError(&dialog, QString::fromLocal8Bit(error.what()));
    }
  });
  // The layout is chosen on the preview's own tool bar; the pages follow at once.
  if (auto* tools = dialog.findChild<QToolBar*>()) {
    auto* group = new QActionGroup(&dialog);
    tools->addSeparator();
    QAction* trueSize = tools->addAction("True size");
    trueSize->setObjectName("PreviewTrueSize");
    QAction* fitted = tools->addAction("Fit to page");
    fitted->setObjectName("PreviewFitToPage");
    for (QAction* action : {trueSize, fitted}) {
      action->setCheckable(true);
      group->addAction(action);
    }
    (Layout == TPrintLayout::FitToPage ? fitted : trueSize)->setChecked(true);
    auto* preview = dialog.findChild<QPrintPreviewWidget*>();
    QObject::connect(group, &QActionGroup::triggered, &dialog, [&Layout, fitted, preview](QAction* Chosen) {
      Layout = Chosen == fitted ? TPrintLayout::FitToPage : TPrintLayout::TrueSize;
      if (preview) preview->updatePreview();
    });
  }
  Prompts.ExecDialog(dialog);
}

}  // namespace busweave

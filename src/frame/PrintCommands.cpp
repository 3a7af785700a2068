#include "frame/PrintCommands.h"

#include <QActionGroup>
#include <QBuffer>
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

#include "model/PathText.h"
#include "model/SafeFile.h"

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

}  // namespace

QString PrintFooter(const std::string& DocPath, QDate Date) {
  return QString::fromLocal8Bit(DocPath) + "    " + Date.toString(Qt::ISODate);
}

namespace {

TPageGrid pageGridOf(QPagedPaintDevice& Device, int Resolution, const TPictureSource& Source, TPrintLayout Layout) {
  const QSizeF area = pageAreasOf(Device, Resolution).Picture.size();
  const QSizeF picture = pictureDeviceSize(Resolution, Source);
  TPageGrid grid;
  if (Layout == TPrintLayout::FitToPage) {
    grid.Scale = std::min(area.width() / picture.width(), area.height() / picture.height());
    return grid;
  }
  // A sliver of less than a device unit beyond a page does not start a new one.
  const auto pagesFor = [](double Length, double Room) {
    return std::max(1, static_cast<int>(std::ceil(Length / Room - 1e-6)));
  };
  grid.Columns = pagesFor(picture.width(), area.width());
  grid.Rows = pagesFor(picture.height(), area.height());
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
    painter.save();
    painter.setClipRect(areas.Picture);
    painter.translate(-column * areas.Picture.width(), -row * areas.Picture.height());
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
  const auto chosen = Prompts.SetUpPrinter(Owner, printer, Layout);
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

#include "frame/PrintCommands.h"

#include <QActionGroup>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "model/PathText.h"

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

TPageAreas pageAreasOf(QPrinter& Printer) {
  const QRect paint = Printer.pageLayout().paintRectPixels(Printer.resolution());
  const QFontMetricsF metrics(footerFont(), &Printer);
  // One line of text with half a line of room above it.
  const double band = std::min(metrics.height() * 1.5, paint.height() / 2.0);
  TPageAreas areas;
  areas.Picture = QRectF(0, 0, std::max(1, paint.width()), std::max(1.0, paint.height() - band));
  areas.Footer = QRectF(0, paint.height() - band, paint.width(), band);
  return areas;
}

// The picture's size in the printer's device units.
QSizeF pictureDeviceSize(QPrinter& Printer, const TPictureSource& Source) {
  const TPoint size = PictureSize(Source);
  const double perHundredth = Printer.resolution() / 2540.0;
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

TPageGrid PageGridOf(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout) {
  const QSizeF area = pageAreasOf(Printer).Picture.size();
  const QSizeF picture = pictureDeviceSize(Printer, Source);
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

int PrintPages(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout, const QString& Footer) {
  const TPageGrid grid = PageGridOf(Printer, Source, Layout);
  const TPageAreas areas = pageAreasOf(Printer);
  int first = 1;
  int last = grid.Pages();
  if (Printer.printRange() == QPrinter::PageRange && Printer.fromPage() > 0) {
    first = std::max(first, Printer.fromPage());
    last = std::min(last, Printer.toPage() > 0 ? Printer.toPage() : last);
  }
  if (first > last) return 0;

  QPainter painter;
  if (!painter.begin(&Printer)) {
    const QString file = Printer.outputFileName();
    const QString message = file.isEmpty() ? "The printer " + Printer.printerName() + " could not be opened."
                                           : "Cannot create file " + file;
    throw std::runtime_error(message.toLocal8Bit().toStdString());
  }
  int printed = 0;
  for (int page = first; page <= last; ++page) {
    if (printed > 0) Printer.newPage();
    const int row = (page - 1) / grid.Columns;
    const int column = (page - 1) % grid.Columns;
    painter.save();
    painter.setClipRect(areas.Picture);
    painter.translate(-column * areas.Picture.width(), -row * areas.Picture.height());
    painter.scale(grid.Scale, grid.Scale);
    PaintPicture(painter, Source, Printer.resolution());
    painter.restore();
    drawFooter(painter, areas.Footer, Footer, page, grid.Pages());
    ++printed;
  }
  if (!painter.end()) throw std::runtime_error(("Cannot write file " + Printer.outputFileName()).toStdString());
  return printed;
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

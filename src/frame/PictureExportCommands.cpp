#include "frame/PictureExportCommands.h"

#include <QBuffer>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

#include "picture/EmfCanvas.h"
#include "picture/QPainterCanvas.h"
#include "picture/WmfCanvas.h"
#include "circuit/CircuitFile.h"
#include "gui/Prompts.h"
#include "model/SafeFile.h"

namespace busweave {
namespace {

constexpr const char16_t* kCreator = u"Busweave-V2";

// Character advances from the installed fonts, so that the spacing arrays of metafile text
// fit the font the user picked for pictures.
std::vector<double> installedFontAdvances(const TLogFont& Font, const std::string& Text) {
  QFont font(QString::fromLatin1(Font.FaceName.data(), static_cast<qsizetype>(Font.FaceName.size())));
  constexpr int kMeasureSize = 1000;
  font.setPixelSize(kMeasureSize);
  font.setWeight(Font.Weight >= 600 ? QFont::Bold : QFont::Normal);
  font.setItalic(Font.Italic);
  const QFontMetricsF metrics(font);
  std::vector<double> advances;
  advances.reserve(Text.size());
  for (char c : Text) advances.push_back(metrics.horizontalAdvance(QChar::fromLatin1(c)) / kMeasureSize);
  return advances;
}

// Labels follow the format that is written: an enhanced metafile turns them the way its targets
// do, a Windows metafile the way its targets do, so that they run along their wires whichever
// command made the picture.
TPlotTarget enhancedTarget(TPlotTarget Target) {
  if (Target == ptClipWMF) return ptClipEMF;
  if (Target == ptFileWMF) return ptFileEMF;
  return Target;
}

TPlotTarget windowsTarget(TPlotTarget Target) {
  if (Target == ptClipEMF) return ptClipWMF;
  if (Target == ptFileEMF) return ptFileWMF;
  return Target;
}

// Draws the picture on a canvas as the export does: picture font, thinnest black pen.
void plotPicture(Canvas& C, const TPictureSource& Source, TPlotTarget Target) {
  C.SetFont(Source.Font);
  C.SetPen({clBlack, TPenStyle::psSolid, 0});
  if (Source.PlotIt) Source.PlotIt(C, Target, true, Source.Scale);
}

// Paints the picture on a device of Dpi units per inch, the picture's top-left at (0, 0).
void paintPicture(QPainter& Painter, const TPictureSource& Source, int Dpi) {
  const TPoint size = PictureSize(Source);
  TQPainterCanvas canvas(Painter);
  TMapping mapping;
  mapping.WindowOrg = {0, size.Y};
  mapping.WindowExt = {2540, 2540};
  mapping.ViewportExt = {Dpi, -Dpi};
  canvas.SetMapping(mapping);
  plotPicture(canvas, Source, ptFileEMF);
}

// Device units of a length in 0.01 mm at Dpi units per inch.
int deviceUnits(std::int64_t Hundredths, int Dpi) {
  return std::max(1, static_cast<int>(std::llround(static_cast<double>(Hundredths) * Dpi / 2540.0)));
}

QString qPath(const std::string& Path) { return QString::fromLocal8Bit(Path); }

// The save dialog of a picture file; the chosen name with the default extension added.
std::optional<QString> askFileName(QWidget* Owner, const TPictureSource& Source, const QString& Filter,
                                   const QString& Suffix, TPrompts& Prompts) {
  const std::string proposed = PathWithoutExtension(Source.DocPath);
  TSaveDialogRequest request;
  request.Title = "Save picture as";
  request.Filter = Filter;
  request.DefaultSuffix = Suffix;
  request.Folder = qPath(FolderOf(proposed));
  request.FileName = qPath(proposed);
  const auto chosen = Prompts.SaveFileName(Owner, request);
  if (!chosen) return std::nullopt;
  return WithDefaultSuffix(*chosen, Suffix);
}

void writePicture(QWidget* Owner, const QString& FileName, const std::function<std::string()>& Bytes,
                  TPrompts& Prompts) {
  try {
    writeFileAtomically(FileName.toLocal8Bit().toStdString(), Bytes());
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
  }
}

void copyToClipboard(const TPictureSource& Source, TPlotTarget Target) {
  const std::string emf = RecordEmf(Source, Target);
  const QByteArray bytes(emf.data(), static_cast<qsizetype>(emf.size()));
  auto* data = new QMimeData;
  data->setData(kOfficeEmfMime, bytes);
  data->setData(kEmfMime, bytes);
  // A raster copy for programs that take no vector picture.
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  const QImage image = RenderImage(Source, kReferenceDpi);
  if (!image.isNull() && image.save(&buffer, "PNG")) data->setData("image/png", png);
  QGuiApplication::clipboard()->setMimeData(data);  // the clipboard owns the data from here
}

}  // namespace

TPoint PictureSize(const TPictureSource& Source) {
  auto hundredths = [](std::int64_t Units, std::int64_t Scale) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Units * Scale, 1, INT32_MAX));
  };
  return {hundredths(Source.DocSize.X, Source.Scale.X), hundredths(Source.DocSize.Y, Source.Scale.Y)};
}

std::string RecordEmf(const TPictureSource& Source, TPlotTarget Target) {
  const TPoint size = PictureSize(Source);
  std::optional<TEmfDescription> description;
  if (Target == ptClipEMF || Target == ptFileEMF) {
    const QString path = qPath(Source.DocPath);
    description = TEmfDescription{kCreator, path.toStdU16String()};
  }
  TEmfCanvas canvas(size.X, size.Y, description, installedFontAdvances);
  plotPicture(canvas, Source, enhancedTarget(Target));
  return canvas.Finish();
}

std::string RecordWmf(const TPictureSource& Source, TPlotTarget Target) {
  const TPoint size = PictureSize(Source);
  TWmfCanvas canvas(size.X, size.Y, installedFontAdvances);
  plotPicture(canvas, Source, windowsTarget(Target));
  return canvas.Finish();
}

QByteArray RenderSvg(const TPictureSource& Source) {
  // 254 units per inch: one unit is 0.1 mm, so the document's size is exact in millimetres
  // and a cosmetic pen stays a visible hairline in readers that scale it with the picture.
  constexpr int kDpi = 254;
  const TPoint size = PictureSize(Source);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setResolution(kDpi);
  generator.setSize(QSize(deviceUnits(size.X, kDpi), deviceUnits(size.Y, kDpi)));
  generator.setViewBox(QRect(0, 0, deviceUnits(size.X, kDpi), deviceUnits(size.Y, kDpi)));
  generator.setTitle(qPath(PathWithoutExtension(Source.DocPath)).section('/', -1));
  generator.setDescription("Busweave-V2");
  QPainter painter(&generator);
  paintPicture(painter, Source, kDpi);
  painter.end();
  return bytes;
}

QByteArray RenderPdf(const TPictureSource& Source) {
  constexpr int kDpi = 2540;
  const TPoint size = PictureSize(Source);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QSizeF(size.X / 100.0, size.Y / 100.0), QPageSize::Millimeter));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setCreator("Busweave-V2");
    writer.setTitle(qPath(Source.DocPath));
    QPainter painter(&writer);
    paintPicture(painter, Source, kDpi);
  }
  return bytes;
}

QImage RenderImage(const TPictureSource& Source, int Dpi) {
  const TPoint size = PictureSize(Source);
  QImage image(deviceUnits(size.X, Dpi), deviceUnits(size.Y, Dpi), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;  // too large to hold in memory
  image.fill(Qt::white);
  const int dotsPerMetre = static_cast<int>(std::lround(Dpi / 0.0254));
  image.setDotsPerMeterX(dotsPerMetre);
  image.setDotsPerMeterY(dotsPerMetre);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paintPicture(painter, Source, Dpi);
  }
  return image;
}

bool WritesPlaceableWmf(TPlotTarget Target, const QString& FileName) {
  return Target == ptFileWMF || FileName.endsWith(".wmf", Qt::CaseInsensitive);
}

std::string PathWithoutExtension(const std::string& Path) {
  const std::size_t separator = Path.find_last_of("/\\");
  const std::size_t dot = Path.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return Path;
  return Path.substr(0, dot);
}

void ExportPicture(QWidget* Owner, const TPictureSource& Source, TPlotTarget Target, TPrompts& Prompts) {
  try {
    if (Target == ptClipWMF || Target == ptClipEMF) {
      copyToClipboard(Source, Target);
      return;
    }
    if (Target != ptFileWMF && Target != ptFileEMF) return;
    const QString suffix = Target == ptFileWMF ? "WMF" : "EMF";
    const auto chosen = askFileName(Owner, Source, "Metafiles (*." + suffix + ")", suffix, Prompts);
    if (!chosen) return;
    const bool placeable = WritesPlaceableWmf(Target, *chosen);
    writePicture(
        Owner, *chosen, [&] { return placeable ? RecordWmf(Source, Target) : RecordEmf(Source, Target); }, Prompts);
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
  }
}

void SaveVectorPicture(QWidget* Owner, const TPictureSource& Source, TVectorFormat Format, TPrompts& Prompts) {
  const bool svg = Format == TVectorFormat::Svg;
  const auto chosen =
      askFileName(Owner, Source, svg ? "SVG pictures (*.svg)" : "PDF documents (*.pdf)", svg ? "svg" : "pdf", Prompts);
  if (!chosen) return;
  writePicture(
      Owner, *chosen,
      [&] {
        const QByteArray bytes = svg ? RenderSvg(Source) : RenderPdf(Source);
        return bytes.toStdString();
      },
      Prompts);
}

}  // namespace busweave

#include "picture/PictureRendering.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "base/PathText.h"
#include "model/NameText.h"
#include "picture/EmfCanvas.h"
#include "picture/MarkupText.h"
#include "picture/QPainterCanvas.h"
#include "picture/QtFonts.h"

namespace busweave {
namespace {

constexpr const char16_t* kCreator = u"Busweave-V2";

// Character advances from the installed fonts, so that the spacing arrays of metafile text
// fit the font the user picked for pictures.
std::vector<double> installedFontAdvances(const TLogFont& Font, const std::string& Text) {
  // Measured under the face name as the metafile writes it (its bytes read as Windows-1252).
  TLogFont measured = Font;
  measured.FaceName = NameToUtf8(Font.FaceName);
  constexpr int kMeasureSize = 1000;
  const QFontMetricsF metrics(QFontOf(measured, kMeasureSize));
  std::vector<double> advances;
  advances.reserve(Text.size());
  // One advance per byte, measured on the character the byte stands for.
  for (unsigned char c : Text)
    advances.push_back(metrics.horizontalAdvance(QChar(static_cast<char16_t>(CodePointOfNameByte(c)))) / kMeasureSize);
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

// Device units of a length in 0.01 mm at Dpi units per inch, in 64 bits (at least 1).
std::int64_t deviceUnits64(std::int64_t Hundredths, int Dpi) {
  return std::max<std::int64_t>(1, std::llround(static_cast<double>(Hundredths) * Dpi / 2540.0));
}

// For the vector formats, whose resolutions keep every picture size within an int.
int deviceUnits(std::int64_t Hundredths, int Dpi) {
  return static_cast<int>(std::min<std::int64_t>(deviceUnits64(Hundredths, Dpi), INT32_MAX));
}

QString qPath(const std::string& Path) { return QString::fromLocal8Bit(Path); }

std::string recordEmf(const TPictureSource& Source, TPlotTarget Target) {
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

std::string recordWmf(const TPictureSource& Source, TPlotTarget Target) {
  const TPoint size = PictureSize(Source);
  TWmfCanvas canvas(size.X, size.Y, installedFontAdvances);
  plotPicture(canvas, Source, windowsTarget(Target));
  return canvas.Finish();
}

// Svg with the content of its first Tag element replaced by Text, escaped; the element is added
// after the opening svg tag when there is none.
std::string withElement(std::string Svg, const std::string& Tag, const std::string& Text) {
  const std::string open = "<" + Tag + ">";
  const std::string close = "</" + Tag + ">";
  const std::string element = open + MarkupEscaped(Text) + close;
  const auto start = Svg.find(open);
  const auto end = start == std::string::npos ? start : Svg.find(close, start);
  if (end != std::string::npos) return Svg.replace(start, end + close.size() - start, element);
  const auto svg = Svg.find("<svg");
  const auto tagEnd = svg == std::string::npos ? svg : Svg.find('>', svg);
  if (tagEnd != std::string::npos) Svg.insert(tagEnd + 1, "\n" + element);
  return Svg;
}

std::string renderSvg(const TPictureSource& Source) {
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
  // QSvgGenerator writes its title and description as they are, markup and all: they are
  // filled in here, escaped.
  generator.setTitle(QString());
  generator.setDescription(QString());
  QPainter painter(&generator);
  PaintPicture(painter, Source, kDpi);
  painter.end();
  // Names may hold control characters, which no XML reader accepts even as references.
  std::string svg = MarkupCharactersOnly(bytes.toStdString());
  svg =
      withElement(std::move(svg), "title", qPath(PathWithoutExtension(Source.DocPath)).section('/', -1).toStdString());
  return withElement(std::move(svg), "desc", "Busweave-V2");
}

QByteArray renderPdf(const TPictureSource& Source) {
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
    PaintPicture(painter, Source, kDpi);
  }
  return bytes;
}

void paintPictureOn(TQPainterCanvas& Canvas, const TPictureSource& Source, int Dpi) {
  const TPoint size = PictureSize(Source);
  TMapping mapping;
  mapping.WindowOrg = {0, size.Y};
  mapping.WindowExt = {2540, 2540};
  mapping.ViewportExt = {Dpi, -Dpi};
  Canvas.SetMapping(mapping);
  plotPicture(Canvas, Source, ptFileEMF);
}

QByteArray renderPng(const TPictureSource& Source) {
  const QImage image = RenderImage(Source, kReferenceDpi);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw std::runtime_error("the PNG image could not be encoded");
  return bytes;
}

}  // namespace

void PaintPicture(QPainter& Painter, const TPictureSource& Source, int Dpi) {
  TQPainterCanvas canvas(Painter);
  paintPictureOn(canvas, Source, Dpi);
}

std::vector<QRectF> PictureTextBoxes(const TPictureSource& Source, int Dpi) {
  // Drawn on one pixel of the device's resolution: the fonts measure as they would there, and
  // next to nothing is rasterised.
  QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  const int dotsPerMetre = static_cast<int>(std::lround(Dpi / 0.0254));
  device.setDotsPerMeterX(dotsPerMetre);
  device.setDotsPerMeterY(dotsPerMetre);
  std::vector<QRectF> boxes;
  QPainter painter(&device);
  TQPainterCanvas canvas(painter);
  canvas.OnText = [&boxes](const QRectF& Box) { boxes.push_back(Box); };
  paintPictureOn(canvas, Source, Dpi);
  return boxes;
}

std::optional<TPictureFormat> PictureFormatOf(const std::string& FileName) {
  const std::size_t dot = FileName.rfind('.');
  if (dot == std::string::npos || FileName.find_first_of("/\\", dot) != std::string::npos) return std::nullopt;
  std::string extension = FileName.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".emf") return TPictureFormat::Emf;
  if (extension == ".wmf") return TPictureFormat::Wmf;
  if (extension == ".svg") return TPictureFormat::Svg;
  if (extension == ".pdf") return TPictureFormat::Pdf;
  if (extension == ".png") return TPictureFormat::Png;
  return std::nullopt;
}

TPoint PictureSize(const TPictureSource& Source) {
  auto hundredths = [](std::int64_t Units, std::int64_t Scale) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Units * Scale, 1, INT32_MAX));
  };
  return {hundredths(Source.DocSize.X, Source.Scale.X), hundredths(Source.DocSize.Y, Source.Scale.Y)};
}

std::string RenderPicture(const TPictureSource& Source, TPictureFormat Format, TPlotTarget Target) {
  switch (Format) {
    case TPictureFormat::Emf:
      return recordEmf(Source, Target);
    case TPictureFormat::Wmf:
      return recordWmf(Source, Target);
    case TPictureFormat::Svg:
      return renderSvg(Source);
    case TPictureFormat::Pdf:
      return renderPdf(Source).toStdString();
    case TPictureFormat::Png:
      return renderPng(Source).toStdString();
  }
  return {};
}

QImage RenderImage(const TPictureSource& Source, int Dpi) {
  const TPoint size = PictureSize(Source);
  const std::int64_t width = deviceUnits64(size.X, std::max(1, Dpi));
  const std::int64_t height = deviceUnits64(size.Y, std::max(1, Dpi));
  // Checked before the image is allocated: a picture of a few metres would take gigabytes.
  if (width > kLargestImageSide || height > kLargestImageSide || width * height * 4 > kLargestImageBytes) {
    char message[240];
    std::snprintf(message, sizeof message,
                  "the picture is %.1f x %.1f mm, too large for an image at %d pixels per inch: it would be %lld x "
                  "%lld pixels, and an image holds at most %lld million pixels",
                  size.X / 100.0, size.Y / 100.0, Dpi, static_cast<long long>(width), static_cast<long long>(height),
                  static_cast<long long>(kLargestImageBytes / 4 / 1'000'000));
    throw EPictureTooLarge(message);
  }
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) throw std::bad_alloc();
  image.fill(Qt::white);
  const int dotsPerMetre = static_cast<int>(std::lround(Dpi / 0.0254));
  image.setDotsPerMeterX(dotsPerMetre);
  image.setDotsPerMeterY(dotsPerMetre);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintPicture(painter, Source, Dpi);
  }
  return image;
}

}  // namespace busweave

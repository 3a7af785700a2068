#pragma once

// The one rendering path of pictures: a network drawn at its true size (one document unit is
// 0.2 mm) as the bytes of an enhanced metafile, a placeable Windows metafile, an SVG, a PDF or a
// PNG. The frame window's export commands and busweave-cli's picture command both call it, so a
// picture looks the same whichever made it. Needs a QGuiApplication (fonts); no widgets.

#include <QImage>
#include <QRectF>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drawing/Canvas.h"
#include "drawing/DocumentTypes.h"
#include "picture/WmfCanvas.h"

class QPainter;

namespace busweave {

// What a picture is made of. PlotIt draws the network (the editor's PlotIt, or the drawing of
// a network opened without a window); it must use the picture font for the export targets.
struct TPictureSource {
  TPoint DocSize{200, 200};     // document units
  TPoint Scale = DrawingScale;  // 0.01 mm per document unit
  std::string DocPath;          // the document's path: proposed file name, title, EMF description
  TFontSpec Font;               // the picture font
  std::function<void(Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale)> PlotIt;
};

enum class TPictureFormat { Emf, Wmf, Svg, Pdf, Png };

// The format a file name asks for by its extension (.emf, .wmf, .svg, .pdf, .png, any case).
std::optional<TPictureFormat> PictureFormatOf(const std::string& FileName);

// The picture's width and height in 0.01 mm (at least 1 each).
TPoint PictureSize(const TPictureSource& Source);

// The bytes of the picture in Format. Target says which command asks: enhanced metafiles of
// targets 3 and 5 carry the creator "Busweave-V2" and the document path as their description,
// and labels turn as the targets of the format written do (the clipboard's Metafile command
// is an EMF on this platform, and a .wmf name under the EMF command is a Windows metafile).
// SVG and PDF carry the document's name as title; PNG has 96 pixels per inch. Throws
// EPictureTooLarge (a message without the file's name, which callers put in front) before
// drawing anything when the format cannot hold the picture.
std::string RenderPicture(const TPictureSource& Source, TPictureFormat Format, TPlotTarget Target);

// Paints the picture as the SVG and PDF pictures have it, on a device of Dpi units per inch with
// its top-left corner at the painter's origin; the painter's transformation and clip apply (the
// print scales and cuts it into pages this way).
void PaintPicture(QPainter& Painter, const TPictureSource& Source, int Dpi);

// Where the picture's texts (names and labels) lie when PaintPicture draws it on a device of Dpi
// units per inch with an untransformed painter: one box per text, in device units.
std::vector<QRectF> PictureTextBoxes(const TPictureSource& Source, int Dpi);

// The picture as a raster image of Dpi pixels per inch that carries its physical size. Throws
// EPictureTooLarge, before allocating, beyond the largest image this program makes.
QImage RenderImage(const TPictureSource& Source, int Dpi);

// The largest raster image: 2^28 bytes of pixels (the image readers' default limit, so that
// the image can be opened again) and at most 1,000,000 pixels a side (the PNG library's).
inline constexpr std::int64_t kLargestImageBytes = std::int64_t{1} << 28;
inline constexpr std::int64_t kLargestImageSide = 1'000'000;

}  // namespace busweave

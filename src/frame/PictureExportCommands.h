#pragma once

// The picture export of a document frame: the network drawn at its true size (one document
// unit is 0.2 mm) as an enhanced metafile, a placeable Windows metafile, an SVG or a PDF, into
// a file or onto the clipboard. TMDIChild's "&Options" commands call ExportPicture and
// SaveVectorPicture; every question goes through TPrompts, so tests can answer them.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <string>

#include "drawing/Canvas.h"
#include "drawing/DocumentTypes.h"

class QWidget;

namespace busweave {

class TPrompts;

// What a picture is made of. PlotIt draws the network (the editor's PlotIt); it must use the
// picture font for the export targets.
struct TPictureSource {
  TPoint DocSize{200, 200};     // document units
  TPoint Scale = DrawingScale;  // 0.01 mm per document unit
  std::string DocPath;          // the document's path: proposed file name, EMF description
  TFontSpec Font;               // the picture font
  std::function<void(Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale)> PlotIt;
};

// The picture's width and height in 0.01 mm (at least 1 each).
TPoint PictureSize(const TPictureSource& Source);

// The enhanced metafile of the picture; targets 3 and 5 carry the creator "Busweave-V2" and
// the document path as its description, targets 2 and 4 none. Both recorders turn the labels
// as the targets of the format they write do, so that the clipboard's Metafile command (an
// EMF on this platform) and a .wmf name under the EMF command still put labels along wires.
std::string RecordEmf(const TPictureSource& Source, TPlotTarget Target);
// The placeable Windows metafile of the picture. Throws EPictureTooLarge beyond 16 bits.
std::string RecordWmf(const TPictureSource& Source, TPlotTarget Target);
// The picture painted through QPainter: SVG and PDF documents of the true size, and a raster
// image at Dpi pixels per inch that carries its physical size.
QByteArray RenderSvg(const TPictureSource& Source);
QByteArray RenderPdf(const TPictureSource& Source);
// A null image when the picture is too large for memory at that resolution.
QImage RenderImage(const TPictureSource& Source, int Dpi);

// Whether a file gets the Windows 3.x format: always for target 4, and for any name that ends
// in ".wmf" in any letter case.
bool WritesPlaceableWmf(TPlotTarget Target, const QString& FileName);
// The path without the extension of its file-name part (a path without one stays whole).
std::string PathWithoutExtension(const std::string& Path);

// The MIME types of the clipboard's enhanced metafile: LibreOffice's and Inkscape's.
inline constexpr const char* kOfficeEmfMime = "application/x-openoffice-emf;windows_formatname=\"Image EMF\"";
inline constexpr const char* kEmfMime = "image/x-emf";

// The export of targets 2 to 5: onto the clipboard (2, 3) or through the save dialog into a
// file (4, 5). Cancelling writes nothing; failures are shown through Prompts.ShowError.
void ExportPicture(QWidget* Owner, const TPictureSource& Source, TPlotTarget Target, TPrompts& Prompts);

enum class TVectorFormat { Svg, Pdf };
// "Save as SVG" and "Save as PDF": the save dialog, then the file.
void SaveVectorPicture(QWidget* Owner, const TPictureSource& Source, TVectorFormat Format, TPrompts& Prompts);

}  // namespace busweave

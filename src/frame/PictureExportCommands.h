#pragma once

// The picture export of a document frame: the network drawn at its true size (one document
// unit is 0.2 mm) as an enhanced metafile, a placeable Windows metafile, an SVG or a PDF, into
// a file or onto the clipboard. TMDIChild's "&Options" commands call ExportPicture and
// SaveVectorPicture; every question goes through TPrompts, so tests can answer them. The bytes
// of every format come from RenderPicture, the rendering busweave-cli uses too.

#include <QString>

#include "picture/PictureRendering.h"

class QWidget;

namespace busweave {

class TPrompts;

// Whether a file gets the Windows 3.x format: always for target 4, and for any name that ends
// in ".wmf" in any letter case.
bool WritesPlaceableWmf(TPlotTarget Target, const QString& FileName);
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

#pragma once

// TEmfCanvas: records a drawing as an enhanced metafile (EMF) of a true physical size, for the
// picture export. Logical units are 0.01 mm with y pointing up and the origin at the bottom-left
// corner of the picture (the high-metric mapping with the window origin at the picture's top);
// the canvas writes that mapping itself, so SetMapping has no effect on the records. Pens,
// brushes and fonts are created when a drawing call first needs them and deleted once replaced.
// Records (laid out in MetafileRecords) are kept in memory until Finish hands out the file's bytes.
// Font escapements are written with the sign that readers of the format turn by: what the
// canvas calls a turn towards logical -y is a negative escapement in the file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drawing/Canvas.h"

namespace busweave {

// The advance of every character of Text (8-bit, Windows-1252) in Font, as a fraction of the
// font's character height. Metafile text carries these as its spacing array.
using TTextMeasure = std::function<std::vector<double>(const TLogFont& Font, const std::string& Text)>;

// Advances from the metrics of Arial (the same as Helvetica's): exact for the default picture
// font and a fair guess for other proportional fonts.
std::vector<double> ArialAdvances(const TLogFont& Font, const std::string& Text);

// Whole-unit spacing for characters of the given advances at a character height, rounded along
// the running position so that the text keeps its total width.
std::vector<std::int32_t> CharacterSpacing(const std::vector<double>& Advances, double Height);

// The creator and description texts an enhanced metafile's header can carry.
struct TEmfDescription {
  std::u16string Creator;
  std::u16string Description;
};

// The reference device the pictures are recorded for: a screen of 96 pixels per inch.
inline constexpr int kReferenceDpi = 96;

class TEmfCanvas : public Canvas {
 public:
  // Starts a picture of Width x Height hundredths of a millimetre (both at least 1).
  TEmfCanvas(std::int32_t Width, std::int32_t Height, const std::optional<TEmfDescription>& Description = std::nullopt,
             TTextMeasure Measure = ArialAdvances);
  ~TEmfCanvas() override;
  TEmfCanvas(const TEmfCanvas&) = delete;
  TEmfCanvas& operator=(const TEmfCanvas&) = delete;

  // Logical units per inch: text heights for this canvas are given in 0.01 mm.
  int PixelsPerInch() const override { return 2540; }

  void Polyline(const std::vector<TPoint>& Points) override;
  void Ellipse(TPoint Corner1, TPoint Corner2) override;
  void Rectangle(TPoint Corner1, TPoint Corner2) override;
  void Polygon(const std::vector<TPoint>& Points) override;
  void TextOut(TPoint At, const std::string& Text) override;

  // Ends the picture and returns the bytes of the metafile; later calls return the same bytes
  // and drawing after it records nothing.
  const std::string& Finish();

 private:
  void append(const std::string& Record);
  std::uint32_t newHandle();
  void replaceObject(std::uint32_t& Current, std::uint32_t Created);
  void syncPen();
  void syncBrush();
  void syncText();

  std::int32_t FWidth;
  std::int32_t FHeight;
  TTextMeasure FMeasure;
  std::string FBytes;
  std::uint32_t FRecords = 0;
  bool FFinished = false;

  std::vector<std::uint32_t> FFreeHandles;
  std::uint32_t FPeakHandle = 0;
  std::uint32_t FPenHandle = 0;
  std::uint32_t FBrushHandle = 0;
  std::uint32_t FFontHandle = 0;
  TPen FPenInDC;
  TBrush FBrushInDC;
  TLogFont FFontInDC;
  std::optional<TColor> FTextColorInDC;
  std::optional<bool> FTransparentInDC;
  std::optional<TTextAlign> FAlignInDC;
};

// The font a canvas writes for text: the selected made font, or one made from the canvas font
// with its point size in logical units of UnitsPerInch.
TLogFont TextFontOf(const Canvas& C, int UnitsPerInch);

// The text alignment flags of the platform's graphics for an alignment.
std::uint32_t TextAlignFlags(const TTextAlign& Align);

}  // namespace busweave

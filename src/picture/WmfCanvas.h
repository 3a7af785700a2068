#pragma once

// TWmfCanvas: records a drawing as a placeable Windows 3.x metafile (WMF) of a true physical
// size. The caller draws as on TEmfCanvas (0.01 mm, y up, origin at the bottom-left corner); the
// records hold what converting such an enhanced metafile with the anisotropic mapping gives:
// units of 1/96 inch with y pointing down, and a window that spans the placeable header's box.
// Font escapements are written as given, so they turn in the file's y-down units; that is why
// the drawing turns labels the other way for Windows metafile targets. The format has no stock
// objects: every pen, brush and font, the empty ones too, is created and deleted here.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture/EmfCanvas.h"
#include "picture/MetafileRecords.h"

namespace busweave {

// A picture that its format cannot hold: beyond the 16-bit coordinates of a Windows metafile,
// or too large for a raster image. The message says the size and the limit, not the file's
// name, which callers put in front.
class EPictureTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TWmfCanvas : public Canvas {
 public:
  // Starts a picture of Width x Height hundredths of a millimetre (both at least 1); throws
  // EPictureTooLarge when its size in 1/96 inch does not fit 16 bits.
  TWmfCanvas(std::int32_t Width, std::int32_t Height, TTextMeasure Measure = ArialAdvances);
  ~TWmfCanvas() override;
  TWmfCanvas(const TWmfCanvas&) = delete;
  TWmfCanvas& operator=(const TWmfCanvas&) = delete;

  int PixelsPerInch() const override { return 2540; }

  void Polyline(const std::vector<TPoint>& Points) override;
  void Ellipse(TPoint Corner1, TPoint Corner2) override;
  void Rectangle(TPoint Corner1, TPoint Corner2) override;
  void Polygon(const std::vector<TPoint>& Points) override;
  void TextOut(TPoint At, const std::string& Text) override;

  // Ends the picture and returns the file's bytes, placeable header first.
  const std::string& Finish();

  // The placeable header's box: the picture size in 0.01 mm x 96 / 2540, rounded to nearest.
  static std::int32_t Units(std::int64_t Hundredths);

 private:
  void append(const std::string& Record);
  std::uint16_t newObject();
  void replaceObject(int& Current, std::uint16_t Created);
  void syncPen();
  void syncBrush();
  void syncText();
  std::int16_t fileX(std::int64_t X) const;
  std::int16_t fileY(std::int64_t Y) const;
  // The box of two corners in file units.
  wmf::TRect16 fileBox(TPoint Corner1, TPoint Corner2) const;

  std::int32_t FHeight;
  TTextMeasure FMeasure;
  std::string FBytes;
  std::size_t FHeaderAt = 0;  // where the metafile header follows the placeable one
  std::uint32_t FLargestRecord = 0;
  bool FFinished = false;

  std::vector<bool> FObjectSlots;
  int FPenSlot = -1;
  int FBrushSlot = -1;
  int FFontSlot = -1;
  TPen FPenInDC;
  TBrush FBrushInDC;
  TLogFont FFontInDC;
  std::optional<TColor> FTextColorInDC;
  std::optional<bool> FTransparentInDC;
  std::optional<TTextAlign> FAlignInDC;
};

}  // namespace busweave

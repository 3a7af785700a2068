#include "picture/WmfCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "picture/MetafileRecords.h"

namespace busweave {
namespace {

std::int16_t clamp16(std::int64_t Value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(Value, INT16_MIN, INT16_MAX));
}

std::uint16_t penStyle(TPenStyle Style) {
  switch (Style) {
    case TPenStyle::psDot:
      return kPenDot;
    case TPenStyle::psClear:
      return kPenNull;
    case TPenStyle::psSolid:
      break;
  }
  return kPenSolid;
}

}  // namespace

std::int32_t TWmfCanvas::Units(std::int64_t Hundredths) {
  const std::int64_t scaled = Hundredths * kReferenceDpi;
  return static_cast<std::int32_t>(scaled >= 0 ? (scaled + 1270) / 2540 : -((-scaled + 1270) / 2540));
}

TWmfCanvas::TWmfCanvas(std::int32_t Width, std::int32_t Height, TTextMeasure Measure)
    : FHeight(std::max(1, Height)), FMeasure(std::move(Measure)) {
  if (!FMeasure) FMeasure = ArialAdvances;
  const std::int32_t right = Units(std::max(1, Width));
  const std::int32_t bottom = Units(FHeight);
  if (right > INT16_MAX || bottom > INT16_MAX) {
    char message[200];
    std::snprintf(message, sizeof message,
                  "the picture is %.1f x %.1f mm, too large for a Windows metafile: it holds at most 32,767 "
                  "units of 1/96 inch (8.67 m) a side",
                  std::max(1, Width) / 100.0, FHeight / 100.0);
    throw EPictureTooLarge(message);
  }

  const auto boxRight = static_cast<std::int16_t>(right);
  const auto boxBottom = static_cast<std::int16_t>(bottom);
  FBytes = wmf::Placeable(boxRight, boxBottom, kReferenceDpi);
  FHeaderAt = FBytes.size();
  FBytes += wmf::Header();

  append(wmf::SetMapMode(kMapAnisotropic));
  append(wmf::SetWindowOrg({0, 0}));
  append(wmf::SetWindowExt({boxRight, boxBottom}));
}

TWmfCanvas::~TWmfCanvas() = default;

void TWmfCanvas::append(const std::string& Record) {
  FBytes += Record;
  FLargestRecord = std::max(FLargestRecord, static_cast<std::uint32_t>(Record.size() / 2));
}

std::int16_t TWmfCanvas::fileX(std::int64_t X) const { return clamp16(Units(X)); }
std::int16_t TWmfCanvas::fileY(std::int64_t Y) const { return clamp16(Units(FHeight - Y)); }

std::uint16_t TWmfCanvas::newObject() {
  // A player puts every new object into the lowest free slot of its object table.
  const auto free = std::find(FObjectSlots.begin(), FObjectSlots.end(), false);
  const auto slot = static_cast<std::uint16_t>(free - FObjectSlots.begin());
  if (free == FObjectSlots.end())
    FObjectSlots.push_back(true);
  else
    *free = true;
  return slot;
}

void TWmfCanvas::replaceObject(int& Current, std::uint16_t Created) {
  append(wmf::SelectObject(Created));
  if (Current >= 0) {
    append(wmf::DeleteObject(static_cast<std::uint16_t>(Current)));
    FObjectSlots[static_cast<std::size_t>(Current)] = false;
  }
  Current = Created;
}

void TWmfCanvas::syncPen() {
  if (FPenSlot >= 0 && FPenInDC == FPen) return;
  const auto width = static_cast<std::int16_t>(FPen.Width <= 1 ? 0 : std::max(1, Units(FPen.Width)));
  append(wmf::CreatePen(penStyle(FPen.Style), width, FPen.Color));
  replaceObject(FPenSlot, newObject());
  FPenInDC = FPen;
}

void TWmfCanvas::syncBrush() {
  if (FBrushSlot >= 0 && FBrushInDC == FBrush) return;
  const std::uint16_t style = FBrush.Style == TBrushStyle::bsClear ? kBrushNull : kBrushSolid;
  append(wmf::CreateBrush(style, FBrush.Color));
  replaceObject(FBrushSlot, newObject());
  FBrushInDC = FBrush;
}

void TWmfCanvas::syncText() {
  const TLogFont font = TextFontOf(*this, PixelsPerInch());
  if (FFontSlot < 0 || !(FFontInDC == font)) {
    const std::int32_t height = std::max(1, Units(std::abs(font.Height)));
    const TMetafileFont described{clamp16(font.Height < 0 ? -height : height),
                                  clamp16(Units(font.Width)),
                                  clamp16(font.Escapement),
                                  clamp16(font.Orientation),
                                  clamp16(font.Weight),
                                  font.Italic,
                                  font.Underline,
                                  font.StrikeOut};
    append(wmf::CreateFont(described, font.FaceName));
    replaceObject(FFontSlot, newObject());
    FFontInDC = font;
  }
  if (FTextColorInDC != FFont.Color) {
    append(wmf::SetTextColor(FFont.Color));
    FTextColorInDC = FFont.Color;
  }
  if (FTransparentInDC != FTransparentText) {
    append(wmf::SetBackgroundMode(FTransparentText ? kBackgroundTransparent : kBackgroundOpaque));
    FTransparentInDC = FTransparentText;
  }
  if (FAlignInDC != FTextAlign) {
    append(wmf::SetTextAlign(static_cast<std::uint16_t>(TextAlignFlags(FTextAlign))));
    FAlignInDC = FTextAlign;
  }
}

namespace {

std::vector<wmf::TPoint16> filePoints(const std::vector<TPoint>& Points,
                                      const std::function<std::int16_t(std::int64_t)>& X,
                                      const std::function<std::int16_t(std::int64_t)>& Y) {
  std::vector<wmf::TPoint16> out;
  out.reserve(Points.size());
  for (const TPoint& p : Points) out.push_back(wmf::TPoint16{X(p.X), Y(p.Y)});
  return out;
}

}  // namespace

void TWmfCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2 || Points.size() > INT16_MAX) return;
  syncPen();
  const auto points = filePoints(
      Points, [this](std::int64_t X) { return fileX(X); }, [this](std::int64_t Y) { return fileY(Y); });
  append(wmf::Polyline(points));
}

void TWmfCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2 || Points.size() > INT16_MAX) return;
  syncPen();
  syncBrush();
  const auto points = filePoints(
      Points, [this](std::int64_t X) { return fileX(X); }, [this](std::int64_t Y) { return fileY(Y); });
  append(wmf::Polygon(points));
}

wmf::TRect16 TWmfCanvas::fileBox(TPoint Corner1, TPoint Corner2) const {
  const std::int16_t x1 = fileX(Corner1.X), x2 = fileX(Corner2.X), y1 = fileY(Corner1.Y), y2 = fileY(Corner2.Y);
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

void TWmfCanvas::Ellipse(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(wmf::Ellipse(fileBox(Corner1, Corner2)));
}

void TWmfCanvas::Rectangle(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(wmf::Rectangle(fileBox(Corner1, Corner2)));
}

void TWmfCanvas::TextOut(TPoint At, const std::string& Text) {
  if (FFinished || Text.empty() || Text.size() > INT16_MAX) return;
  syncText();
  // Spacing in 0.01 mm first, then the running positions in file units, so that rounding to
  // the coarse units does not add up along the text.
  const double height = std::abs(static_cast<double>(FFontInDC.Height));
  const std::vector<std::int32_t> spacing = CharacterSpacing(FMeasure(FFontInDC, Text), height);
  std::vector<std::int16_t> dx;
  dx.reserve(spacing.size());
  std::int64_t position = 0;
  std::int32_t placed = 0;
  for (std::int32_t step : spacing) {
    position += step;
    const std::int32_t next = Units(position);
    dx.push_back(clamp16(next - placed));
    placed = next;
  }
  append(wmf::TextOut({fileX(At.X), fileY(At.Y)}, Text, dx));
}

const std::string& TWmfCanvas::Finish() {
  if (FFinished) return FBytes;
  for (int* slot : {&FPenSlot, &FBrushSlot, &FFontSlot}) {
    if (*slot >= 0) append(wmf::DeleteObject(static_cast<std::uint16_t>(*slot)));
    *slot = -1;
  }
  append(wmf::EndOfFile());
  FFinished = true;
  wmf::FinishHeader(FBytes, FHeaderAt, static_cast<std::uint16_t>(FObjectSlots.size()), FLargestRecord);
  return FBytes;
}

}  // namespace busweave

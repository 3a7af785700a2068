#include "picture/WmfCanvas.h"

#include <uwmf.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace busweave {
namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
// Offsets inside the 18-byte metafile header that only the finished file knows.
constexpr std::size_t kHeaderSizeWords = 6;
constexpr std::size_t kHeaderObjects = 10;
constexpr std::size_t kHeaderLargestRecord = 12;

std::int16_t clamp16(std::int64_t Value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(Value, INT16_MIN, INT16_MAX));
}

U_RECT16 rect16(const std::array<std::int16_t, 4>& Box) { return U_RECT16{Box[0], Box[1], Box[2], Box[3]}; }

U_COLORREF colorRef(TColor C) { return colorref3_set(C.R, C.G, C.B); }

std::uint16_t penStyle(TPenStyle Style) {
  switch (Style) {
    case TPenStyle::psDot:
      return U_PS_DOT;
    case TPenStyle::psClear:
      return U_PS_NULL;
    case TPenStyle::psSolid:
      break;
  }
  return U_PS_SOLID;
}

void putWord(std::string& Bytes, std::size_t Offset, std::uint16_t Value) {
  Bytes[Offset] = static_cast<char>(Value & 0xFF);
  Bytes[Offset + 1] = static_cast<char>(Value >> 8);
}

void putLong(std::string& Bytes, std::size_t Offset, std::uint32_t Value) {
  putWord(Bytes, Offset, static_cast<std::uint16_t>(Value & 0xFFFF));
  putWord(Bytes, Offset + 2, static_cast<std::uint16_t>(Value >> 16));
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
  if (right > INT16_MAX || bottom > INT16_MAX)
    throw EPictureTooLarge("The picture is too large for a Windows metafile (at most 8.6 m by 8.6 m)");

  // The placeable header: key, handle, box (left, top, right, bottom), units per inch,
  // reserved, and the exclusive-or of the ten words before the checksum.
  FBytes.assign(U_SIZE_WMRPLACEABLE, '\0');
  putLong(FBytes, 0, kPlaceableKey);
  putWord(FBytes, 10, static_cast<std::uint16_t>(right));
  putWord(FBytes, 12, static_cast<std::uint16_t>(bottom));
  putWord(FBytes, 14, kReferenceDpi);
  std::uint16_t checksum = 0;
  for (std::size_t offset = 0; offset < 20; offset += 2)
    checksum ^= static_cast<std::uint16_t>(static_cast<unsigned char>(FBytes[offset]) |
                                           static_cast<unsigned char>(FBytes[offset + 1]) << 8);
  putWord(FBytes, 20, checksum);

  char* header = U_WMRHEADER_set(nullptr, 0);
  if (!header) throw std::bad_alloc();
  FBytes.append(header, U_SIZE_WMRHEADER);
  std::free(header);

  append(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
  append(U_WMRSETWINDOWORG_set(U_POINT16{0, 0}));
  append(U_WMRSETWINDOWEXT_set(U_POINT16{static_cast<std::int16_t>(right), static_cast<std::int16_t>(bottom)}));
}

TWmfCanvas::~TWmfCanvas() = default;

void TWmfCanvas::append(char* Record) {
  if (!Record) throw std::bad_alloc();
  std::uint32_t words = 0;
  std::memcpy(&words, Record, sizeof words);
  FBytes.append(Record, std::size_t{words} * 2);
  std::free(Record);
  FLargestRecord = std::max(FLargestRecord, words);
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
  append(U_WMRSELECTOBJECT_set(Created));
  if (Current >= 0) {
    append(U_WMRDELETEOBJECT_set(static_cast<std::uint16_t>(Current)));
    FObjectSlots[static_cast<std::size_t>(Current)] = false;
  }
  Current = Created;
}

void TWmfCanvas::syncPen() {
  if (FPenSlot >= 0 && FPenInDC == FPen) return;
  const auto width = static_cast<std::uint16_t>(FPen.Width <= 1 ? 0 : std::max(1, Units(FPen.Width)));
  append(U_WMRCREATEPENINDIRECT_set(U_PEN_set(penStyle(FPen.Style), width, colorRef(FPen.Color))));
  replaceObject(FPenSlot, newObject());
  FPenInDC = FPen;
}

void TWmfCanvas::syncBrush() {
  if (FBrushSlot >= 0 && FBrushInDC == FBrush) return;
  const std::uint16_t style = FBrush.Style == TBrushStyle::bsClear ? U_BS_NULL : U_BS_SOLID;
  append(U_WMRCREATEBRUSHINDIRECT_set(U_WLOGBRUSH_set(style, colorRef(FBrush.Color), 0)));
  replaceObject(FBrushSlot, newObject());
  FBrushInDC = FBrush;
}

void TWmfCanvas::syncText() {
  const TLogFont font = TextFontOf(*this, PixelsPerInch());
  if (FFontSlot < 0 || !(FFontInDC == font)) {
    const std::int32_t height = std::max(1, Units(std::abs(font.Height)));
    std::string face = font.FaceName.substr(0, 31);
    U_FONT* described =
        U_FONT_set(clamp16(font.Height < 0 ? -height : height), clamp16(Units(font.Width)), clamp16(font.Escapement),
                   clamp16(font.Orientation), clamp16(font.Weight), font.Italic, font.Underline, font.StrikeOut,
                   U_ANSI_CHARSET, U_OUT_TT_ONLY_PRECIS, U_CLIP_CHARACTER_PRECIS | U_CLIP_LH_ANGLES, U_PROOF_QUALITY,
                   U_VARIABLE_PITCH | U_FF_DONTCARE, face.data());
    if (!described) throw std::bad_alloc();
    char* record = U_WMRCREATEFONTINDIRECT_set(described);
    std::free(described);
    append(record);
    replaceObject(FFontSlot, newObject());
    FFontInDC = font;
  }
  if (FTextColorInDC != FFont.Color) {
    append(U_WMRSETTEXTCOLOR_set(colorRef(FFont.Color)));
    FTextColorInDC = FFont.Color;
  }
  if (FTransparentInDC != FTransparentText) {
    append(U_WMRSETBKMODE_set(FTransparentText ? U_TRANSPARENT : U_OPAQUE));
    FTransparentInDC = FTransparentText;
  }
  if (FAlignInDC != FTextAlign) {
    append(U_WMRSETTEXTALIGN_set(static_cast<std::uint16_t>(TextAlignFlags(FTextAlign))));
    FAlignInDC = FTextAlign;
  }
}

namespace {

std::vector<U_POINT16> filePoints(const std::vector<TPoint>& Points, const std::function<std::int16_t(std::int64_t)>& X,
                                  const std::function<std::int16_t(std::int64_t)>& Y) {
  std::vector<U_POINT16> out;
  out.reserve(Points.size());
  for (const TPoint& p : Points) out.push_back(U_POINT16{X(p.X), Y(p.Y)});
  return out;
}

}  // namespace

void TWmfCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2 || Points.size() > INT16_MAX) return;
  syncPen();
  const auto points = filePoints(
      Points, [this](std::int64_t X) { return fileX(X); }, [this](std::int64_t Y) { return fileY(Y); });
  append(U_WMRPOLYLINE_set(static_cast<std::uint16_t>(points.size()), points.data()));
}

void TWmfCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2 || Points.size() > INT16_MAX) return;
  syncPen();
  syncBrush();
  const auto points = filePoints(
      Points, [this](std::int64_t X) { return fileX(X); }, [this](std::int64_t Y) { return fileY(Y); });
  append(U_WMRPOLYGON_set(static_cast<std::uint16_t>(points.size()), points.data()));
}

std::array<std::int16_t, 4> TWmfCanvas::fileBox(TPoint Corner1, TPoint Corner2) const {
  const std::int16_t x1 = fileX(Corner1.X), x2 = fileX(Corner2.X), y1 = fileY(Corner1.Y), y2 = fileY(Corner2.Y);
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

void TWmfCanvas::Ellipse(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(U_WMRELLIPSE_set(rect16(fileBox(Corner1, Corner2))));
}

void TWmfCanvas::Rectangle(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(U_WMRRECTANGLE_set(rect16(fileBox(Corner1, Corner2))));
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
  append(U_WMREXTTEXTOUT_set(U_POINT16{fileX(At.X), fileY(At.Y)}, static_cast<std::int16_t>(Text.size()), 0,
                             Text.data(), dx.data(), U_RECT16{0, 0, 0, 0}));
}

const std::string& TWmfCanvas::Finish() {
  if (FFinished) return FBytes;
  for (int* slot : {&FPenSlot, &FBrushSlot, &FFontSlot}) {
    if (*slot >= 0) append(U_WMRDELETEOBJECT_set(static_cast<std::uint16_t>(*slot)));
    *slot = -1;
  }
  append(U_WMREOF_set());
  FFinished = true;

  const std::size_t header = U_SIZE_WMRPLACEABLE;
  putLong(FBytes, header + kHeaderSizeWords, static_cast<std::uint32_t>((FBytes.size() - header) / 2));
  putWord(FBytes, header + kHeaderObjects, static_cast<std::uint16_t>(FObjectSlots.size()));
  putLong(FBytes, header + kHeaderLargestRecord, FLargestRecord);
  return FBytes;
}

}  // namespace busweave

#include "picture/EmfCanvas.h"

#include <uemf.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "model/NameText.h"

namespace busweave {
namespace {

// Arial's advance widths of the printable ASCII characters, in 1/1000 of the character height.
constexpr std::uint16_t kArialWidths[95] = {
    278,  278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // space to /
    556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0 to ?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @ to O
    667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // P to _
    333,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // ` to o
    556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};      // p to ~

// Reference screen: 20 x 15 inches at 96 pixels per inch.
constexpr std::int32_t kDevicePixelsX = 1920;
constexpr std::int32_t kDevicePixelsY = 1440;
constexpr std::int32_t kDeviceMillimetresX = 508;
constexpr std::int32_t kDeviceMillimetresY = 381;

// One reference pixel in 0.01 mm.
constexpr std::int32_t kThinPenWidth = 2540 / kReferenceDpi;

// Hundredths of a millimetre to reference pixels, rounded to nearest.
std::int32_t toPixels(std::int64_t Value) {
  const std::int64_t scaled = Value * kReferenceDpi;
  return static_cast<std::int32_t>(scaled >= 0 ? (scaled + 1270) / 2540 : -((-scaled + 1270) / 2540));
}

U_COLORREF colorRef(TColor C) { return colorref3_set(C.R, C.G, C.B); }

std::u16string utf16Of(const std::string& Text) {
  std::u16string out;
  out.reserve(Text.size());
  for (unsigned char c : Text) out += static_cast<char16_t>(CodePointOfNameByte(c));  // all in the BMP
  return out;
}

// A face name as the 32 UTF-16 units of a font description, NUL-padded.
std::vector<std::uint16_t> faceName(const std::string& Name) {
  std::vector<std::uint16_t> face(U_LF_FACESIZE, 0);
  const std::u16string wide = utf16Of(Name.substr(0, U_LF_FACESIZE - 1));
  std::copy(wide.begin(), wide.end(), face.begin());
  return face;
}

// The bounds of logical points on the reference device (the picture's top-left is (0, 0)).
U_RECTL deviceBounds(const std::vector<TPoint>& Points, std::int32_t Height) {
  if (Points.empty()) return U_RECTL{0, 0, -1, -1};
  std::int64_t minX = Points[0].X, maxX = Points[0].X, minY = Points[0].Y, maxY = Points[0].Y;
  for (const TPoint& p : Points) {
    minX = std::min<std::int64_t>(minX, p.X);
    maxX = std::max<std::int64_t>(maxX, p.X);
    minY = std::min<std::int64_t>(minY, p.Y);
    maxY = std::max<std::int64_t>(maxY, p.Y);
  }
  return U_RECTL{toPixels(minX), toPixels(Height - maxY), toPixels(maxX), toPixels(Height - minY)};
}

std::uint32_t penStyle(TPenStyle Style) {
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

}  // namespace

std::vector<double> ArialAdvances(const TLogFont&, const std::string& Text) {
  std::vector<double> advances;
  advances.reserve(Text.size());
  for (unsigned char c : Text) advances.push_back((c >= 32 && c <= 126 ? kArialWidths[c - 32] : 556) / 1000.0);
  return advances;
}

std::vector<std::int32_t> CharacterSpacing(const std::vector<double>& Advances, double Height) {
  std::vector<std::int32_t> spacing;
  spacing.reserve(Advances.size());
  double position = 0;
  std::int64_t placed = 0;
  for (double advance : Advances) {
    position += advance * Height;
    const std::int64_t next = std::llround(position);
    spacing.push_back(static_cast<std::int32_t>(next - placed));
    placed = next;
  }
  return spacing;
}

TLogFont TextFontOf(const Canvas& C, int UnitsPerInch) {
  if (C.SelectedFont()) return *C.SelectedFont();
  const TFontSpec& font = C.Font();
  TLogFont made;
  made.FaceName = font.Name.substr(0, 31);
  made.Height = -static_cast<int>(std::lround(font.Size * UnitsPerInch / 72.0));
  made.Weight = font.Bold ? 700 : 400;
  made.Italic = font.Italic;
  made.Underline = font.Underline;
  made.StrikeOut = font.StrikeOut;
  return made;
}

std::uint32_t TextAlignFlags(const TTextAlign& Align) {
  std::uint32_t flags = U_TA_NOUPDATECP;
  if (Align.Horz == THorzAlign::Center) flags |= U_TA_CENTER;
  if (Align.Horz == THorzAlign::Right) flags |= U_TA_RIGHT;
  if (Align.Vert == TVertAlign::Bottom) flags |= U_TA_BOTTOM;
  if (Align.Vert == TVertAlign::Baseline) flags |= U_TA_BASELINE;
  return flags;
}

TEmfCanvas::TEmfCanvas(std::int32_t Width, std::int32_t Height, const std::optional<TEmfDescription>& Description,
                       TTextMeasure Measure)
    : FWidth(std::max(1, Width)), FHeight(std::max(1, Height)), FMeasure(std::move(Measure)) {
  if (!FMeasure) FMeasure = ArialAdvances;
  const std::int32_t widthPixels = std::max(1, toPixels(FWidth));
  const std::int32_t heightPixels = std::max(1, toPixels(FHeight));

  // Creator, NUL, description, NUL, NUL, as the header's description holds them.
  std::vector<std::uint16_t> text;
  if (Description) {
    text.assign(Description->Creator.begin(), Description->Creator.end());
    text.push_back(0);
    text.insert(text.end(), Description->Description.begin(), Description->Description.end());
    text.push_back(0);
    text.push_back(0);
  }
  const U_RECTL bounds{0, 0, widthPixels - 1, heightPixels - 1};
  const U_RECTL frame{0, 0, FWidth, FHeight};
  append(U_EMRHEADER_set(bounds, frame, nullptr, static_cast<U_CBSTR>(text.size()),
                         text.empty() ? nullptr : text.data(), sizel_set(kDevicePixelsX, kDevicePixelsY),
                         sizel_set(kDeviceMillimetresX, kDeviceMillimetresY), 0));

  append(U_EMRSETMAPMODE_set(U_MM_HIMETRIC));
  // The platform ignores both extents in the high-metric mapping; other readers scale by them.
  append(U_EMRSETWINDOWEXTEX_set(sizel_set(FWidth, FHeight)));
  append(U_EMRSETVIEWPORTEXTEX_set(sizel_set(widthPixels, heightPixels)));
  append(U_EMRSETWINDOWORGEX_set(point32_set(0, FHeight)));
}

TEmfCanvas::~TEmfCanvas() = default;

void TEmfCanvas::append(char* Record) {
  if (!Record) throw std::bad_alloc();
  std::uint32_t size = 0;
  std::memcpy(&size, Record + offsetof(U_EMR, nSize), sizeof size);
  FBytes.append(Record, size);
  std::free(Record);
  ++FRecords;
}

std::uint32_t TEmfCanvas::newHandle() {
  if (!FFreeHandles.empty()) {
    const std::uint32_t handle = FFreeHandles.back();
    FFreeHandles.pop_back();
    return handle;
  }
  return ++FPeakHandle;  // handle 0 stands for the metafile itself
}

void TEmfCanvas::replaceObject(std::uint32_t& Current, std::uint32_t Created) {
  append(U_EMRSELECTOBJECT_set(Created));
  if (Current != 0) {
    append(U_EMRDELETEOBJECT_set(Current));
    FFreeHandles.push_back(Current);
  }
  Current = Created;
}

void TEmfCanvas::syncPen() {
  if (FPenHandle != 0 && FPenInDC == FPen) return;
  const std::uint32_t handle = newHandle();
  // The thinnest line is one pixel of the reference screen: a zero width, which the platform
  // draws one device pixel wide, comes out as 0.01 mm in Inkscape and vanishes.
  const std::int32_t width = FPen.Width <= 1 ? kThinPenWidth : FPen.Width;
  append(U_EMRCREATEPEN_set(handle, logpen_set(penStyle(FPen.Style), U_POINT{width, 0}, colorRef(FPen.Color))));
  replaceObject(FPenHandle, handle);
  FPenInDC = FPen;
}

void TEmfCanvas::syncBrush() {
  if (FBrushHandle != 0 && FBrushInDC == FBrush) return;
  const std::uint32_t handle = newHandle();
  const std::uint32_t style = FBrush.Style == TBrushStyle::bsClear ? U_BS_NULL : U_BS_SOLID;
  append(U_EMRCREATEBRUSHINDIRECT_set(handle, logbrush_set(style, colorRef(FBrush.Color), 0)));
  replaceObject(FBrushHandle, handle);
  FBrushInDC = FBrush;
}

void TEmfCanvas::syncText() {
  const TLogFont font = TextFontOf(*this, PixelsPerInch());
  if (FFontHandle == 0 || !(FFontInDC == font)) {
    const std::uint32_t handle = newHandle();
    std::vector<std::uint16_t> face = faceName(font.FaceName);
    // Readers of enhanced metafiles (LibreOffice, Inkscape) turn a positive escapement towards
    // the top of the page even in this y-up mapping; the canvas's angles turn towards logical -y.
    const U_LOGFONT logFont = logfont_set(font.Height, font.Width, -font.Escapement, -font.Orientation, font.Weight,
                                          font.Italic, font.Underline, font.StrikeOut, U_ANSI_CHARSET,
                                          U_OUT_TT_ONLY_PRECIS, U_CLIP_CHARACTER_PRECIS | U_CLIP_LH_ANGLES,
                                          U_PROOF_QUALITY, U_VARIABLE_PITCH | U_FF_DONTCARE, face.data());
    std::vector<std::uint16_t> fullName(U_LF_FULLFACESIZE, 0);
    std::copy(face.begin(), face.end(), fullName.begin());
    std::vector<std::uint16_t> style(U_LF_FACESIZE, 0);
    const U_LOGFONT_PANOSE described =
        logfont_panose_set(logFont, fullName.data(), style.data(), 0, panose_set(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    append(U_EMREXTCREATEFONTINDIRECTW_set(handle, nullptr, reinterpret_cast<const char*>(&described)));
    replaceObject(FFontHandle, handle);
    FFontInDC = font;
  }
  if (FTextColorInDC != FFont.Color) {
    append(U_EMRSETTEXTCOLOR_set(colorRef(FFont.Color)));
    FTextColorInDC = FFont.Color;
  }
  if (FTransparentInDC != FTransparentText) {
    append(U_EMRSETBKMODE_set(FTransparentText ? U_TRANSPARENT : U_OPAQUE));
    FTransparentInDC = FTransparentText;
  }
  if (FAlignInDC != FTextAlign) {
    append(U_EMRSETTEXTALIGN_set(TextAlignFlags(FTextAlign)));
    FAlignInDC = FTextAlign;
  }
}

namespace {

std::vector<U_POINTL> pointsOf(const std::vector<TPoint>& Points) {
  std::vector<U_POINTL> out;
  out.reserve(Points.size());
  for (const TPoint& p : Points) out.push_back(point32_set(p.X, p.Y));
  return out;
}

}  // namespace

void TEmfCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2) return;
  syncPen();
  const std::vector<U_POINTL> points = pointsOf(Points);
  append(U_EMRPOLYLINE_set(deviceBounds(Points, FHeight), static_cast<std::uint32_t>(points.size()), points.data()));
}

void TEmfCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2) return;
  syncPen();
  syncBrush();
  const std::vector<U_POINTL> points = pointsOf(Points);
  append(U_EMRPOLYGON_set(deviceBounds(Points, FHeight), static_cast<std::uint32_t>(points.size()), points.data()));
}

void TEmfCanvas::Ellipse(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(U_EMRELLIPSE_set(U_RECTL{Corner1.X, Corner1.Y, Corner2.X, Corner2.Y}));
}

void TEmfCanvas::Rectangle(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(U_EMRRECTANGLE_set(U_RECTL{Corner1.X, Corner1.Y, Corner2.X, Corner2.Y}));
}

void TEmfCanvas::TextOut(TPoint At, const std::string& Text) {
  if (FFinished || Text.empty()) return;
  syncText();
  const double height = std::abs(static_cast<double>(FFontInDC.Height));
  const std::vector<std::int32_t> spacing = CharacterSpacing(FMeasure(FFontInDC, Text), height);
  std::vector<std::uint32_t> dx(spacing.begin(), spacing.end());
  std::u16string text = utf16Of(Text);

  std::int64_t width = 0;
  for (std::int32_t step : spacing) width += step;
  const auto extent =
      static_cast<std::int32_t>(std::min<std::int64_t>(width + static_cast<std::int64_t>(height), INT32_MAX / 2));
  const U_RECTL bounds = deviceBounds({{At.X - extent, At.Y - extent}, {At.X + extent, At.Y + extent}}, FHeight);

  char* record = emrtext_set(point32_set(At.X, At.Y), static_cast<U_NUM_STR>(text.size()), 2, text.data(), U_ETO_NONE,
                             U_RECTL{0, 0, -1, -1}, dx.data());
  if (!record) throw std::bad_alloc();
  char* textRecord = U_EMREXTTEXTOUTW_set(bounds, U_GM_COMPATIBLE, 1.0f, 1.0f, reinterpret_cast<PU_EMRTEXT>(record));
  std::free(record);
  append(textRecord);
}

const std::string& TEmfCanvas::Finish() {
  if (FFinished) return FBytes;
  // Leave the stock objects selected so that every object of ours can be deleted.
  if (FPenHandle) append(U_EMRSELECTOBJECT_set(U_BLACK_PEN));
  if (FBrushHandle) append(U_EMRSELECTOBJECT_set(U_WHITE_BRUSH));
  if (FFontHandle) append(U_EMRSELECTOBJECT_set(U_SYSTEM_FONT));
  for (std::uint32_t* handle : {&FPenHandle, &FBrushHandle, &FFontHandle}) {
    if (*handle) append(U_EMRDELETEOBJECT_set(*handle));
    *handle = 0;
  }
  EMFTRACK track{};
  append(U_EMREOF_set(0, nullptr, &track));
  FFinished = true;

  auto patch = [this](std::size_t Offset, auto Value) { std::memcpy(FBytes.data() + Offset, &Value, sizeof Value); };
  patch(offsetof(U_EMRHEADER, nBytes), static_cast<std::uint32_t>(FBytes.size()));
  patch(offsetof(U_EMRHEADER, nRecords), FRecords);
  patch(offsetof(U_EMRHEADER, nHandles), static_cast<std::uint16_t>(FPeakHandle + 1));
  patch(offsetof(U_EMRHEADER, nPalEntries), std::uint32_t{0});
  return FBytes;
}

}  // namespace busweave

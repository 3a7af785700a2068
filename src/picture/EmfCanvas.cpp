#include "picture/EmfCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "model/NameText.h"
#include "picture/MetafileRecords.h"

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

std::u16string utf16Of(const std::string& Text) {
  std::u16string out;
  out.reserve(Text.size());
  for (unsigned char c : Text) out += static_cast<char16_t>(CodePointOfNameByte(c));  // all in the BMP
  return out;
}

// The bounds of logical points on the reference device (the picture's top-left is (0, 0)).
emf::TRect deviceBounds(const std::vector<TPoint>& Points, std::int32_t Height) {
  if (Points.empty()) return emf::TRect{0, 0, -1, -1};
  std::int64_t minX = Points[0].X, maxX = Points[0].X, minY = Points[0].Y, maxY = Points[0].Y;
  for (const TPoint& p : Points) {
    minX = std::min<std::int64_t>(minX, p.X);
    maxX = std::max<std::int64_t>(maxX, p.X);
    minY = std::min<std::int64_t>(minY, p.Y);
    maxY = std::max<std::int64_t>(maxY, p.Y);
  }
  return emf::TRect{toPixels(minX), toPixels(Height - maxY), toPixels(maxX), toPixels(Height - minY)};
}

std::uint32_t penStyle(TPenStyle Style) {
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
  std::uint32_t flags = kAlignNoUpdate;
  if (Align.Horz == THorzAlign::Center) flags |= kAlignCenter;
  if (Align.Horz == THorzAlign::Right) flags |= kAlignRight;
  if (Align.Vert == TVertAlign::Bottom) flags |= kAlignBottom;
  if (Align.Vert == TVertAlign::Baseline) flags |= kAlignBaseline;
  return flags;
}

TEmfCanvas::TEmfCanvas(std::int32_t Width, std::int32_t Height, const std::optional<TEmfDescription>& Description,
                       TTextMeasure Measure)
    : FWidth(std::max(1, Width)), FHeight(std::max(1, Height)), FMeasure(std::move(Measure)) {
  if (!FMeasure) FMeasure = ArialAdvances;
  const std::int32_t widthPixels = std::max(1, toPixels(FWidth));
  const std::int32_t heightPixels = std::max(1, toPixels(FHeight));

  // Creator, NUL, description, NUL, NUL, as the header's description holds them.
  emf::THeader header;
  if (Description) header.Description = Description->Creator + u'\0' + Description->Description + u'\0' + u'\0';
  header.Bounds = {0, 0, widthPixels - 1, heightPixels - 1};
  header.Frame = {0, 0, FWidth, FHeight};
  header.DevicePixels = {kDevicePixelsX, kDevicePixelsY};
  header.DeviceMillimetres = {kDeviceMillimetresX, kDeviceMillimetresY};
  append(emf::Header(header));

  append(emf::SetMapMode(kMapHighMetric));
  // The platform ignores both extents in the high-metric mapping; other readers scale by them.
  append(emf::SetWindowExt(FWidth, FHeight));
  append(emf::SetViewportExt(widthPixels, heightPixels));
  append(emf::SetWindowOrg({0, FHeight}));
}

TEmfCanvas::~TEmfCanvas() = default;

void TEmfCanvas::append(const std::string& Record) {
  FBytes += Record;
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
  append(emf::SelectObject(Created));
  if (Current != 0) {
    append(emf::DeleteObject(Current));
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
  append(emf::CreatePen(handle, penStyle(FPen.Style), width, FPen.Color));
  replaceObject(FPenHandle, handle);
  FPenInDC = FPen;
}

void TEmfCanvas::syncBrush() {
  if (FBrushHandle != 0 && FBrushInDC == FBrush) return;
  const std::uint32_t handle = newHandle();
  const std::uint32_t style = FBrush.Style == TBrushStyle::bsClear ? kBrushNull : kBrushSolid;
  append(emf::CreateBrush(handle, style, FBrush.Color));
  replaceObject(FBrushHandle, handle);
  FBrushInDC = FBrush;
}

void TEmfCanvas::syncText() {
  const TLogFont font = TextFontOf(*this, PixelsPerInch());
  if (FFontHandle == 0 || !(FFontInDC == font)) {
    const std::uint32_t handle = newHandle();
    // Readers of enhanced metafiles (LibreOffice, Inkscape) turn a positive escapement towards
    // the top of the page even in this y-up mapping; the canvas's angles turn towards logical -y.
    const TMetafileFont described{font.Height, font.Width,  -font.Escapement, -font.Orientation,
                                  font.Weight, font.Italic, font.Underline,   font.StrikeOut};
    append(emf::CreateFont(handle, described, utf16Of(font.FaceName.substr(0, 31))));
    replaceObject(FFontHandle, handle);
    FFontInDC = font;
  }
  if (FTextColorInDC != FFont.Color) {
    append(emf::SetTextColor(FFont.Color));
    FTextColorInDC = FFont.Color;
  }
  if (FTransparentInDC != FTransparentText) {
    append(emf::SetBackgroundMode(FTransparentText ? kBackgroundTransparent : kBackgroundOpaque));
    FTransparentInDC = FTransparentText;
  }
  if (FAlignInDC != FTextAlign) {
    append(emf::SetTextAlign(TextAlignFlags(FTextAlign)));
    FAlignInDC = FTextAlign;
  }
}

void TEmfCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2) return;
  syncPen();
  append(emf::Polyline(deviceBounds(Points, FHeight), Points));
}

void TEmfCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (FFinished || Points.size() < 2) return;
  syncPen();
  syncBrush();
  append(emf::Polygon(deviceBounds(Points, FHeight), Points));
}

void TEmfCanvas::Ellipse(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(emf::Ellipse({Corner1.X, Corner1.Y, Corner2.X, Corner2.Y}));
}

void TEmfCanvas::Rectangle(TPoint Corner1, TPoint Corner2) {
  if (FFinished) return;
  syncPen();
  syncBrush();
  append(emf::Rectangle({Corner1.X, Corner1.Y, Corner2.X, Corner2.Y}));
}

void TEmfCanvas::TextOut(TPoint At, const std::string& Text) {
  if (FFinished || Text.empty()) return;
  syncText();
  const double height = std::abs(static_cast<double>(FFontInDC.Height));
  const std::vector<std::int32_t> spacing = CharacterSpacing(FMeasure(FFontInDC, Text), height);

  std::int64_t width = 0;
  for (std::int32_t step : spacing) width += step;
  const auto extent =
      static_cast<std::int32_t>(std::min<std::int64_t>(width + static_cast<std::int64_t>(height), INT32_MAX / 2));
  const emf::TRect bounds = deviceBounds({{At.X - extent, At.Y - extent}, {At.X + extent, At.Y + extent}}, FHeight);
  append(emf::TextOut(bounds, At, utf16Of(Text), spacing));
}

const std::string& TEmfCanvas::Finish() {
  if (FFinished) return FBytes;
  // Leave the stock objects selected so that every object of ours can be deleted.
  if (FPenHandle) append(emf::SelectObject(emf::kBlackPen));
  if (FBrushHandle) append(emf::SelectObject(emf::kWhiteBrush));
  if (FFontHandle) append(emf::SelectObject(emf::kSystemFont));
  for (std::uint32_t* handle : {&FPenHandle, &FBrushHandle, &FFontHandle}) {
    if (*handle) append(emf::DeleteObject(*handle));
    *handle = 0;
  }
  append(emf::EndOfFile());
  FFinished = true;
  emf::FinishHeader(FBytes, FRecords, static_cast<std::uint16_t>(FPeakHandle + 1));
  return FBytes;
}

}  // namespace busweave

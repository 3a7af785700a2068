#include "picture/MetafileRecords.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <stdexcept>

namespace busweave {
namespace {

// Enhanced metafile record types.
enum : std::uint32_t {
  emrHeader = 1,
  emrPolygon = 3,
  emrPolyline = 4,
  emrSetWindowExtEx = 9,
  emrSetWindowOrgEx = 10,
  emrSetViewportExtEx = 11,
  emrEof = 14,
  emrSetMapMode = 17,
  emrSetBkMode = 18,
  emrSetTextAlign = 22,
  emrSetTextColor = 24,
  emrSelectObject = 37,
  emrCreatePen = 38,
  emrCreateBrushIndirect = 39,
  emrDeleteObject = 40,
  emrEllipse = 42,
  emrRectangle = 43,
  emrExtCreateFontIndirectW = 82,
  emrExtTextOutW = 84
};

// Windows metafile record functions.
enum : std::uint16_t {
  wmfEof = 0x0000,
  wmfSetBkMode = 0x0102,
  wmfSetMapMode = 0x0103,
  wmfSetTextAlign = 0x012E,
  wmfSelectObject = 0x012D,
  wmfDeleteObject = 0x01F0,
  wmfSetTextColor = 0x0209,
  wmfSetWindowOrg = 0x020B,
  wmfSetWindowExt = 0x020C,
  wmfCreatePenIndirect = 0x02FA,
  wmfCreateFontIndirect = 0x02FB,
  wmfCreateBrushIndirect = 0x02FC,
  wmfPolygon = 0x0324,
  wmfPolyline = 0x0325,
  wmfEllipse = 0x0418,
  wmfRectangle = 0x041B,
  wmfExtTextOut = 0x0A32
};

constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kEmfVersion = 0x00010000;
constexpr std::size_t kEmfHeaderSize = 108;  // with the reference device in micrometres
constexpr std::uint32_t kGraphicsCompatible = 1;
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kFaceLength = 32;      // UTF-16 units or bytes, terminator included
constexpr std::size_t kFullNameLength = 64;  // UTF-16 units

// The rest of every font's description (see TMetafileFont).
constexpr std::uint8_t kAnsiCharset = 0;
constexpr std::uint8_t kTrueTypeOnly = 7;
constexpr std::uint8_t kClipByCharacterWithAngles = 0x11;
constexpr std::uint8_t kProofQuality = 2;
constexpr std::uint8_t kVariablePitch = 2;

// Little-endian values appended in order.
class TBytes {
 public:
  TBytes& Byte(std::uint8_t Value) {
    FBytes += static_cast<char>(Value);
    return *this;
  }
  TBytes& Word(std::uint16_t Value) {
    return Byte(static_cast<std::uint8_t>(Value & 0xFF)).Byte(static_cast<std::uint8_t>(Value >> 8));
  }
  TBytes& Long(std::uint32_t Value) {
    return Word(static_cast<std::uint16_t>(Value & 0xFFFF)).Word(static_cast<std::uint16_t>(Value >> 16));
  }
  TBytes& Short(std::int16_t Value) { return Word(static_cast<std::uint16_t>(Value)); }
  TBytes& Int(std::int32_t Value) { return Long(static_cast<std::uint32_t>(Value)); }
  TBytes& Color(TColor C) { return Byte(C.R).Byte(C.G).Byte(C.B).Byte(0); }
  TBytes& Text(const std::string& Text) {
    FBytes += Text;
    return *this;
  }
  TBytes& Zeros(std::size_t Count) {
    FBytes.append(Count, '\0');
    return *this;
  }
  // Zeros up to the next multiple of Unit bytes.
  TBytes& Align(std::size_t Unit) { return Zeros((Unit - FBytes.size() % Unit) % Unit); }
  std::size_t Size() const { return FBytes.size(); }
  const std::string& Bytes() const { return FBytes; }

 private:
  std::string FBytes;
};

void putWord(std::string& Bytes, std::size_t Offset, std::uint16_t Value) {
  Bytes[Offset] = static_cast<char>(Value & 0xFF);
  Bytes[Offset + 1] = static_cast<char>(Value >> 8);
}

void putLong(std::string& Bytes, std::size_t Offset, std::uint32_t Value) {
  putWord(Bytes, Offset, static_cast<std::uint16_t>(Value & 0xFFFF));
  putWord(Bytes, Offset + 2, static_cast<std::uint16_t>(Value >> 16));
}

std::uint32_t recordSize(std::size_t Bytes) {
  if (Bytes > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("metafile record too large");
  return static_cast<std::uint32_t>(Bytes);
}

// Type, size in bytes, and the body filled up to whole 4-byte units.
std::string enhanced(std::uint32_t Type, TBytes Body) {
  Body.Align(4);
  TBytes record;
  record.Long(Type).Long(recordSize(8 + Body.Size()));
  return record.Bytes() + Body.Bytes();
}

// Size in words, function, and the body filled up to whole words.
std::string windows(std::uint16_t Function, TBytes Body) {
  Body.Align(2);
  TBytes record;
  record.Long(recordSize((6 + Body.Size()) / 2)).Word(Function);
  return record.Bytes() + Body.Bytes();
}

TBytes& rect(TBytes& Bytes, const emf::TRect& R) { return Bytes.Int(R.Left).Int(R.Top).Int(R.Right).Int(R.Bottom); }

TBytes& points(TBytes& Bytes, const std::vector<TPoint>& Points) {
  Bytes.Long(recordSize(Points.size()));
  for (const TPoint& p : Points) Bytes.Int(p.X).Int(p.Y);
  return Bytes;
}

TBytes& points(TBytes& Bytes, const std::vector<wmf::TPoint16>& Points) {
  Bytes.Short(static_cast<std::int16_t>(Points.size()));
  for (const wmf::TPoint16& p : Points) Bytes.Short(p.X).Short(p.Y);
  return Bytes;
}

// The face up to its first NUL, at most one character short of Length; the rest zeros.
template <typename TString>
TString faceOf(const TString& Face) {
  const TString face = Face.substr(0, Face.find(typename TString::value_type{0}));
  return face.substr(0, kFaceLength - 1);
}

TBytes& wideText(TBytes& Bytes, const std::u16string& Text, std::size_t Length) {
  for (std::size_t i = 0; i < Length; ++i) Bytes.Word(i < Text.size() ? Text[i] : 0);
  return Bytes;
}

TBytes& fontStyles(TBytes& Bytes, const TMetafileFont& Font) {
  return Bytes.Byte(Font.Italic)
      .Byte(Font.Underline)
      .Byte(Font.StrikeOut)
      .Byte(kAnsiCharset)
      .Byte(kTrueTypeOnly)
      .Byte(kClipByCharacterWithAngles)
      .Byte(kProofQuality)
      .Byte(kVariablePitch);
}

}  // namespace

namespace emf {

std::string Header(const THeader& Header) {
  const std::size_t count = Header.Description.size();
  TBytes body;
  rect(body, Header.Bounds);
  rect(body, Header.Frame);
  body.Long(kEmfSignature).Long(kEmfVersion);
  body.Long(0).Long(0).Word(0).Word(0);  // size, records, handles: FinishHeader
  body.Long(recordSize(count)).Long(count ? kEmfHeaderSize : 0);
  body.Long(0);  // no palette
  body.Int(Header.DevicePixels.X).Int(Header.DevicePixels.Y);
  body.Int(Header.DeviceMillimetres.X).Int(Header.DeviceMillimetres.Y);
  body.Long(0).Long(0).Long(0);  // no pixel format, no OpenGL
  body.Int(Header.DeviceMillimetres.X * 1000).Int(Header.DeviceMillimetres.Y * 1000);
  wideText(body, Header.Description, count);
  return enhanced(emrHeader, body);
}

void FinishHeader(std::string& File, std::uint32_t Records, std::uint16_t Handles) {
  putLong(File, 48, recordSize(File.size()));
  putLong(File, 52, Records);
  putWord(File, 56, Handles);
}

std::string SetMapMode(std::uint32_t Mode) { return enhanced(emrSetMapMode, TBytes().Long(Mode)); }

std::string SetWindowExt(std::int32_t Width, std::int32_t Height) {
  return enhanced(emrSetWindowExtEx, TBytes().Int(Width).Int(Height));
}

std::string SetViewportExt(std::int32_t Width, std::int32_t Height) {
  return enhanced(emrSetViewportExtEx, TBytes().Int(Width).Int(Height));
}

std::string SetWindowOrg(TPoint Origin) { return enhanced(emrSetWindowOrgEx, TBytes().Int(Origin.X).Int(Origin.Y)); }

std::string CreatePen(std::uint32_t Handle, std::uint32_t Style, std::int32_t Width, TColor Color) {
  return enhanced(emrCreatePen, TBytes().Long(Handle).Long(Style).Int(Width).Int(0).Color(Color));
}

std::string CreateBrush(std::uint32_t Handle, std::uint32_t Style, TColor Color) {
  return enhanced(emrCreateBrushIndirect, TBytes().Long(Handle).Long(Style).Color(Color).Long(0));
}

std::string CreateFont(std::uint32_t Handle, const TMetafileFont& Font, const std::u16string& Face) {
  const std::u16string face = faceOf(Face);
  TBytes body;
  body.Long(Handle).Int(Font.Height).Int(Font.Width).Int(Font.Escapement).Int(Font.Orientation).Int(Font.Weight);
  fontStyles(body, Font);
  wideText(body, face, kFaceLength);
  wideText(body, face, kFullNameLength);  // the full name is the face
  wideText(body, u"", kFaceLength);       // no style name
  body.Zeros(6 * 4);                      // version, style size, match, reserved, vendor, culture
  body.Zeros(10);                         // no classification of the face
  return enhanced(emrExtCreateFontIndirectW, body);
}

std::string SelectObject(std::uint32_t Handle) { return enhanced(emrSelectObject, TBytes().Long(Handle)); }

std::string DeleteObject(std::uint32_t Handle) { return enhanced(emrDeleteObject, TBytes().Long(Handle)); }

std::string SetTextColor(TColor Color) { return enhanced(emrSetTextColor, TBytes().Color(Color)); }

std::string SetBackgroundMode(std::uint32_t Mode) { return enhanced(emrSetBkMode, TBytes().Long(Mode)); }

std::string SetTextAlign(std::uint32_t Flags) { return enhanced(emrSetTextAlign, TBytes().Long(Flags)); }

std::string Polyline(const TRect& Bounds, const std::vector<TPoint>& Points) {
  TBytes body;
  return enhanced(emrPolyline, points(rect(body, Bounds), Points));
}

std::string Polygon(const TRect& Bounds, const std::vector<TPoint>& Points) {
  TBytes body;
  return enhanced(emrPolygon, points(rect(body, Bounds), Points));
}

std::string Ellipse(const TRect& Box) {
  TBytes body;
  return enhanced(emrEllipse, rect(body, Box));
}

std::string Rectangle(const TRect& Box) {
  TBytes body;
  return enhanced(emrRectangle, rect(body, Box));
}

std::string TextOut(const TRect& Bounds, TPoint At, const std::u16string& Text,
                    const std::vector<std::int32_t>& Spacing) {
  // Offsets count from the record's start: type, size, bounds, mode, two scales, then the
  // text's reference, count, offset, options, clipping box and spacing offset.
  constexpr std::size_t textAt = 8 + 16 + 3 * 4 + 8 + 3 * 4 + 16 + 4;
  const std::size_t spacingAt = textAt + (2 * Text.size() + 3) / 4 * 4;
  TBytes body;
  rect(body, Bounds);
  body.Long(kGraphicsCompatible).Long(std::bit_cast<std::uint32_t>(1.0f)).Long(std::bit_cast<std::uint32_t>(1.0f));
  body.Int(At.X).Int(At.Y).Long(recordSize(Text.size())).Long(recordSize(textAt));
  body.Long(0);  // no options: neither clipped nor filled
  rect(body, TRect{0, 0, -1, -1});
  body.Long(recordSize(spacingAt));
  wideText(body, Text, Text.size()).Align(4);
  for (std::int32_t step : Spacing) body.Int(step);
  return enhanced(emrExtTextOutW, body);
}

std::string EndOfFile() {
  // No palette; the last value repeats the record's size so that players can read backwards.
  return enhanced(emrEof, TBytes().Long(0).Long(0).Long(20));
}

}  // namespace emf

namespace wmf {

std::string Placeable(std::int16_t Right, std::int16_t Bottom, std::uint16_t UnitsPerInch) {
  TBytes header;
  header.Long(kPlaceableKey).Word(0).Short(0).Short(0).Short(Right).Short(Bottom).Word(UnitsPerInch).Long(0);
  // The checksum is the exclusive-or of the ten words before it.
  std::uint16_t checksum = 0;
  const std::string& words = header.Bytes();
  for (std::size_t offset = 0; offset < words.size(); offset += 2)
    checksum ^= static_cast<std::uint16_t>(static_cast<unsigned char>(words[offset]) |
                                           static_cast<unsigned char>(words[offset + 1]) << 8);
  return header.Word(checksum).Bytes();
}

std::string Header() {
  // In memory, a header of nine words, version 3.0; size, objects and largest record follow.
  return TBytes().Word(1).Word(9).Word(0x0300).Long(0).Word(0).Long(0).Word(0).Bytes();
}

void FinishHeader(std::string& File, std::size_t HeaderAt, std::uint16_t Objects, std::uint32_t LargestRecord) {
  putLong(File, HeaderAt + 6, recordSize((File.size() - HeaderAt) / 2));
  putWord(File, HeaderAt + 10, Objects);
  putLong(File, HeaderAt + 12, LargestRecord);
}

std::string SetMapMode(std::uint16_t Mode) { return windows(wmfSetMapMode, TBytes().Word(Mode)); }

// Both take y first.
std::string SetWindowOrg(TPoint16 Origin) { return windows(wmfSetWindowOrg, TBytes().Short(Origin.Y).Short(Origin.X)); }
std::string SetWindowExt(TPoint16 Extent) { return windows(wmfSetWindowExt, TBytes().Short(Extent.Y).Short(Extent.X)); }

std::string CreatePen(std::uint16_t Style, std::int16_t Width, TColor Color) {
  return windows(wmfCreatePenIndirect, TBytes().Word(Style).Short(Width).Short(0).Color(Color));
}

std::string CreateBrush(std::uint16_t Style, TColor Color) {
  return windows(wmfCreateBrushIndirect, TBytes().Word(Style).Color(Color).Word(0));
}

std::string CreateFont(const TMetafileFont& Font, const std::string& Face) {
  TBytes body;
  for (std::int32_t value : {Font.Height, Font.Width, Font.Escapement, Font.Orientation, Font.Weight})
    body.Short(static_cast<std::int16_t>(value));
  fontStyles(body, Font);
  body.Text(faceOf(Face)).Byte(0);
  return windows(wmfCreateFontIndirect, body);
}

std::string SelectObject(std::uint16_t Slot) { return windows(wmfSelectObject, TBytes().Word(Slot)); }

std::string DeleteObject(std::uint16_t Slot) { return windows(wmfDeleteObject, TBytes().Word(Slot)); }

std::string SetTextColor(TColor Color) { return windows(wmfSetTextColor, TBytes().Color(Color)); }

// These two carry a reserved word after their value.
std::string SetBackgroundMode(std::uint16_t Mode) { return windows(wmfSetBkMode, TBytes().Word(Mode).Word(0)); }
std::string SetTextAlign(std::uint16_t Flags) { return windows(wmfSetTextAlign, TBytes().Word(Flags).Word(0)); }

std::string Polyline(const std::vector<TPoint16>& Points) {
  TBytes body;
  return windows(wmfPolyline, points(body, Points));
}

std::string Polygon(const std::vector<TPoint16>& Points) {
  TBytes body;
  return windows(wmfPolygon, points(body, Points));
}

// Boxes go bottom, right, top, left.
std::string Ellipse(const TRect16& Box) {
  return windows(wmfEllipse, TBytes().Short(Box.Bottom).Short(Box.Right).Short(Box.Top).Short(Box.Left));
}

std::string Rectangle(const TRect16& Box) {
  return windows(wmfRectangle, TBytes().Short(Box.Bottom).Short(Box.Right).Short(Box.Top).Short(Box.Left));
}

std::string TextOut(TPoint16 At, const std::string& Text, const std::vector<std::int16_t>& Spacing) {
  TBytes body;
  body.Short(At.Y).Short(At.X).Short(static_cast<std::int16_t>(Text.size()));
  body.Word(0);  // no options, so no clipping box
  body.Text(Text).Align(2);
  for (std::int16_t step : Spacing) body.Short(step);
  return windows(wmfExtTextOut, body);
}

std::string EndOfFile() { return windows(wmfEof, TBytes()); }

}  // namespace wmf
}  // namespace busweave

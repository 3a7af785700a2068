#pragma once

// The records of the two metafile formats the picture export writes, laid out byte for byte:
// enhanced metafiles (emf: 32-bit values, every record a whole number of 4-byte units) and
// placeable Windows metafiles (wmf: 16-bit words). Each function returns one whole record with
// its size; the canvases decide what to draw, in which units and with which object handles.
// Every value is little-endian.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drawing/Canvas.h"

namespace busweave {

// Values of the platform's graphics that both formats carry.
inline constexpr std::uint16_t kPenSolid = 0;
inline constexpr std::uint16_t kPenDot = 2;
inline constexpr std::uint16_t kPenNull = 5;
inline constexpr std::uint16_t kBrushSolid = 0;
inline constexpr std::uint16_t kBrushNull = 1;
inline constexpr std::uint16_t kMapHighMetric = 3;  // 0.01 mm, y up
inline constexpr std::uint16_t kMapAnisotropic = 8;
inline constexpr std::uint16_t kBackgroundTransparent = 1;
inline constexpr std::uint16_t kBackgroundOpaque = 2;
inline constexpr std::uint16_t kAlignNoUpdate = 0;  // left, top, the current position left alone
inline constexpr std::uint16_t kAlignRight = 2;
inline constexpr std::uint16_t kAlignCenter = 6;
inline constexpr std::uint16_t kAlignBottom = 8;
inline constexpr std::uint16_t kAlignBaseline = 24;

// A font as both formats describe it. The rest of the description is the same for every font
// of ours: the ANSI character set, TrueType faces only, clipping by character with turned
// angles, proof quality and variable pitch. The face goes up to its first NUL, at most 31
// characters.
struct TMetafileFont {
  std::int32_t Height = 0;
  std::int32_t Width = 0;
  std::int32_t Escapement = 0;
  std::int32_t Orientation = 0;
  std::int32_t Weight = 400;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

namespace emf {

// Stock objects: selecting them frees ours for deletion.
inline constexpr std::uint32_t kWhiteBrush = 0x80000000;
inline constexpr std::uint32_t kBlackPen = 0x80000007;
inline constexpr std::uint32_t kSystemFont = 0x8000000D;

struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
};

// The first record: device bounds (reference pixels, inclusive), frame (0.01 mm), the
// description's UTF-16 units with their terminators (empty for none) and the reference device.
struct THeader {
  TRect Bounds;
  TRect Frame;
  std::u16string Description;
  TPoint DevicePixels;
  TPoint DeviceMillimetres;
};
std::string Header(const THeader& Header);
// Enters the whole file's size, its record count and the handles its player needs (the
// highest used plus one) into the header at the start of File.
void FinishHeader(std::string& File, std::uint32_t Records, std::uint16_t Handles);

std::string SetMapMode(std::uint32_t Mode);
std::string SetWindowExt(std::int32_t Width, std::int32_t Height);
std::string SetViewportExt(std::int32_t Width, std::int32_t Height);
std::string SetWindowOrg(TPoint Origin);

std::string CreatePen(std::uint32_t Handle, std::uint32_t Style, std::int32_t Width, TColor Color);
std::string CreateBrush(std::uint32_t Handle, std::uint32_t Style, TColor Color);
std::string CreateFont(std::uint32_t Handle, const TMetafileFont& Font, const std::u16string& Face);
std::string SelectObject(std::uint32_t Handle);
std::string DeleteObject(std::uint32_t Handle);

std::string SetTextColor(TColor Color);
std::string SetBackgroundMode(std::uint32_t Mode);
std::string SetTextAlign(std::uint32_t Flags);

// Bounds are the drawing's on the reference device, as the header's.
std::string Polyline(const TRect& Bounds, const std::vector<TPoint>& Points);
std::string Polygon(const TRect& Bounds, const std::vector<TPoint>& Points);
std::string Ellipse(const TRect& Box);
std::string Rectangle(const TRect& Box);
// Text at a reference point with each character's advance, unscaled and unclipped.
std::string TextOut(const TRect& Bounds, TPoint At, const std::u16string& Text,
                    const std::vector<std::int32_t>& Spacing);

std::string EndOfFile();

}  // namespace emf

namespace wmf {

struct TPoint16 {
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

struct TRect16 {
  std::int16_t Left = 0;
  std::int16_t Top = 0;
  std::int16_t Right = 0;
  std::int16_t Bottom = 0;
};

// The placeable header (22 bytes): a box from (0, 0) to (Right, Bottom) in units of 1/UnitsPerInch.
std::string Placeable(std::int16_t Right, std::int16_t Bottom, std::uint16_t UnitsPerInch);
// The metafile header (18 bytes) of a metafile in memory; FinishHeader fills in its counts.
std::string Header();
// Enters the size from the header at HeaderAt to the end of File, the size of the object table
// and the largest record (both sizes in words).
void FinishHeader(std::string& File, std::size_t HeaderAt, std::uint16_t Objects, std::uint32_t LargestRecord);

std::string SetMapMode(std::uint16_t Mode);
std::string SetWindowOrg(TPoint16 Origin);
std::string SetWindowExt(TPoint16 Extent);

// A player puts each created object into the lowest free slot of its object table.
std::string CreatePen(std::uint16_t Style, std::int16_t Width, TColor Color);
std::string CreateBrush(std::uint16_t Style, TColor Color);
// The font's values are written as 16 bits; the caller keeps them in range. Face is 8-bit text.
std::string CreateFont(const TMetafileFont& Font, const std::string& Face);
std::string SelectObject(std::uint16_t Slot);
std::string DeleteObject(std::uint16_t Slot);

std::string SetTextColor(TColor Color);
std::string SetBackgroundMode(std::uint16_t Mode);
std::string SetTextAlign(std::uint16_t Flags);

std::string Polyline(const std::vector<TPoint16>& Points);
std::string Polygon(const std::vector<TPoint16>& Points);
std::string Ellipse(const TRect16& Box);
std::string Rectangle(const TRect16& Box);
// 8-bit text at a point with each character's advance, unclipped.
std::string TextOut(TPoint16 At, const std::string& Text, const std::vector<std::int16_t>& Spacing);

std::string EndOfFile();

}  // namespace wmf
}  // namespace busweave

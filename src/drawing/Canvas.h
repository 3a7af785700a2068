#pragma once

// Canvas: the small drawing interface the network drawing uses for every target (screen,
// overview, metafiles, tests). It keeps a pen, a brush, a font, text alignment, a transparent
// text background and a window/viewport mapping like the platform's graphics contexts do;
// coordinates given to the drawing calls are logical ones, mapped by the mapping.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/Elements.h"

namespace busweave {

struct TColor {
  std::uint8_t R = 0;
  std::uint8_t G = 0;
  std::uint8_t B = 0;

  friend bool operator==(const TColor&, const TColor&) = default;
};

inline constexpr TColor clBlack{0, 0, 0};
inline constexpr TColor clWhite{255, 255, 255};
inline constexpr TColor clRed{255, 0, 0};
inline constexpr TColor clTeal{0, 128, 128};
inline constexpr TColor clYellow{255, 255, 0};
inline constexpr TColor clBlue{0, 0, 255};
inline constexpr TColor clNavy{0, 0, 128};
inline constexpr TColor clFuchsia{255, 0, 255};
inline constexpr TColor clSilver{192, 192, 192};

enum class TPenStyle : std::uint8_t { psSolid, psDot, psClear };
enum class TBrushStyle : std::uint8_t { bsSolid, bsClear };

struct TPen {
  TColor Color = clBlack;
  TPenStyle Style = TPenStyle::psSolid;
  int Width = 1;  // logical units; 1 or less draws the thinnest line

  friend bool operator==(const TPen&, const TPen&) = default;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = TBrushStyle::bsSolid;

  friend bool operator==(const TBrush&, const TBrush&) = default;
};

// A control's font as the user picks it: face, size in points, colour and styles.
struct TFontSpec {
  std::string Name = "Arial";
  int Size = 8;  // points
  TColor Color = clBlack;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;

  friend bool operator==(const TFontSpec&, const TFontSpec&) = default;
};

// The font names and labels of pictures have until the user picks another (Options).
inline const TFontSpec DefaultPictureFont{"Arial", 8, clFuchsia};

// A font made from a full description. Height < 0 is the character height in logical units;
// escapement and orientation are tenths of a degree, turning the text from the logical +x
// axis towards the logical -y axis (so with y pointing up a positive angle turns clockwise).
struct TLogFont {
  std::string FaceName;  // at most 31 characters
  int Height = 0;
  int Width = 0;
  int Escapement = 0;
  int Orientation = 0;
  int Weight = 400;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;

  friend bool operator==(const TLogFont&, const TLogFont&) = default;
};

enum class THorzAlign : std::uint8_t { Left, Center, Right };
enum class TVertAlign : std::uint8_t { Top, Bottom, Baseline };

struct TTextAlign {
  THorzAlign Horz = THorzAlign::Left;
  TVertAlign Vert = TVertAlign::Top;

  friend bool operator==(const TTextAlign&, const TTextAlign&) = default;
};

// Window-to-viewport mapping. Isotropic mappings shrink one viewport extent (keeping its sign)
// so that both axes get the same scale.
struct TMapping {
  bool Isotropic = false;
  TPoint WindowOrg{0, 0};
  TPoint WindowExt{1, 1};
  TPoint ViewportOrg{0, 0};
  TPoint ViewportExt{1, 1};

  // The viewport extent in force after the isotropic adjustment.
  void EffectiveViewportExt(double& X, double& Y) const;
  // Logical to device coordinates.
  double DeviceX(double X) const;
  double DeviceY(double Y) const;
  double ScaleX() const;
  double ScaleY() const;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  const TPen& Pen() const { return FPen; }
  virtual void SetPen(const TPen& Pen) { FPen = Pen; }
  const TBrush& Brush() const { return FBrush; }
  virtual void SetBrush(const TBrush& Brush) { FBrush = Brush; }

  // The canvas font; its colour is the text colour also while a made font is selected.
  const TFontSpec& Font() const { return FFont; }
  virtual void SetFont(const TFontSpec& Font) { FFont = Font; }
  // Selects a made font for text output; nothing goes back to the canvas font.
  const std::optional<TLogFont>& SelectedFont() const { return FSelectedFont; }
  virtual void SelectFont(const std::optional<TLogFont>& Font) { FSelectedFont = Font; }
  // Pixels per inch of the device the canvas font is measured for.
  virtual int PixelsPerInch() const { return 96; }
  // Device pixels per device unit of the mapping: more than one where the device itself is
  // magnified (a zoomed screen), less where it is shrunk.
  virtual double DeviceScale() const { return 1.0; }

  const TTextAlign& TextAlign() const { return FTextAlign; }
  virtual void SetTextAlign(const TTextAlign& Align) { FTextAlign = Align; }
  bool TransparentText() const { return FTransparentText; }
  virtual void SetTransparentText(bool Transparent) { FTransparentText = Transparent; }

  const TMapping& Mapping() const { return FMapping; }
  virtual void SetMapping(const TMapping& Mapping) { FMapping = Mapping; }

  virtual void Polyline(const std::vector<TPoint>& Points) = 0;
  virtual void Ellipse(TPoint Corner1, TPoint Corner2) = 0;
  virtual void Rectangle(TPoint Corner1, TPoint Corner2) = 0;
  virtual void Polygon(const std::vector<TPoint>& Points) = 0;
  virtual void TextOut(TPoint At, const std::string& Text) = 0;

  void Line(TPoint From, TPoint To) { Polyline({From, To}); }

 protected:
  TPen FPen;
  TBrush FBrush;
  TFontSpec FFont;
  std::optional<TLogFont> FSelectedFont;
  TTextAlign FTextAlign;
  bool FTransparentText = false;
  TMapping FMapping;
};

}  // namespace busweave

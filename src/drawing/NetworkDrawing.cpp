#include "drawing/NetworkDrawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace busweave {
namespace {

// Document coordinate times scale, kept inside 32 bits.
std::int32_t scaled(std::int64_t Value, std::int32_t Scale) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value * Scale, INT32_MIN, INT32_MAX));
}

TPoint at(std::int64_t X, std::int64_t Y, TPoint S) { return {scaled(X, S.X), scaled(Y, S.Y)}; }

using TBox = std::pair<TPoint, TPoint>;

bool overlaps(const TBox& Clip, const TReach& R) {
  return R.Left <= Clip.second.X && R.Right >= Clip.first.X && R.Bottom <= Clip.second.Y && R.Top >= Clip.first.Y;
}

void drawNodeSymbol(Canvas& C, const TNode& N, TPoint S, const TCanNodes& Net, TPoint Grid) {
  const bool terminated = N.FResistance != Net.FNoZL;
  const bool source = N.FSource == 1;
  if (!terminated && !source) return;
  const std::int64_t X = N.FPos.X;
  const std::int64_t Y = N.FPos.Y;
  const std::int64_t u = Grid.X / 16;
  const std::int64_t v = Grid.X / 6;
  const std::int64_t t = Grid.Y / 4;
  const std::int64_t m = t / 2;

  C.Polyline({at(X, Y, S), at(X + v, Y - t, S), at(X + v, Y - 3 * t, S)});
  C.Line(at(X + v - u, Y - 3 * t, S), at(X + v + u, Y - 3 * t, S));

  const TBrush brush = C.Brush();
  const TPen pen = C.Pen();
  C.SetBrush({terminated ? clYellow : clWhite, TBrushStyle::bsSolid});
  C.Rectangle(at(X + v - u, Y - m - t, S), at(X + v + u, Y - m - 2 * t, S));
  if (source) {
    C.SetPen({pen.Color, TPenStyle::psClear, pen.Width});
    C.SetBrush({clRed, TBrushStyle::bsSolid});
    C.Polygon(
        {at(X + v, Y - m - t, S), at(X + v - u + 1, Y - m - 2 * t + 1, S), at(X + v + u - 1, Y - m - 2 * t + 1, S)});
  }
  C.SetBrush(brush);
  C.SetPen(pen);
}

void drawNode(Canvas& C, const std::optional<TLogFont>& NameFont, TPoint S, const TNode& N, int Radius, bool ShowNames,
              TPlotTarget Target) {
  DrawNodeCircle(C, N.FPos, S, N.FMarked != 0 && Target == ptScreen, Radius);
  if (!N.FShowName || !ShowNames || !NameFont) return;
  const bool transparent = C.TransparentText();
  const auto font = C.SelectedFont();
  const TTextAlign align = C.TextAlign();
  C.SetTransparentText(true);
  C.SelectFont(NameFont);
  C.SetTextAlign({THorzAlign::Right, TVertAlign::Top});
  C.TextOut(at(std::int64_t{N.FPos.X} - Radius, std::int64_t{N.FPos.Y} - 2, S), N.FName);
  C.SetTextAlign(align);
  C.SelectFont(font);
  C.SetTransparentText(transparent);
}

}  // namespace

TReach WireReach(const TTrmLine& W, std::int64_t TextHeight) {
  const std::int64_t label = W.FShowLength ? 8 * TextHeight : 0;  // "65535mm" fits in 8 em
  return {std::min<std::int64_t>(W.FStart.X, W.FEnd.X) - label, std::min<std::int64_t>(W.FStart.Y, W.FEnd.Y) - label,
          std::max<std::int64_t>(W.FStart.X, W.FEnd.X) + label, std::max<std::int64_t>(W.FStart.Y, W.FEnd.Y) + label};
}

TReach NodeReach(const TNode& N, const TPlotSettings& Settings, std::int64_t TextHeight) {
  const std::int64_t x = N.FPos.X;
  const std::int64_t y = N.FPos.Y;
  const std::int64_t symbolRight = x + Settings.Grid.X / 6 + Settings.Grid.X / 16;
  const std::int64_t symbolDepth = 3 * (Settings.Grid.Y / 4);
  const std::int64_t reach = std::max<std::int64_t>(Settings.NodeRadius, 1);
  // A name ends at the circle's left edge and is no wider than one em per character.
  const std::int64_t nameLeft = x - reach - static_cast<std::int64_t>(N.FName.size() + 4) * TextHeight;
  return {std::min(nameLeft, x - reach), y - std::max(symbolDepth, reach) - TextHeight,
          std::max(symbolRight, x + reach), y + reach};
}

int FontHeightFor(const TFontSpec& Font, TPlotTarget Target, int PixelsPerInch) {
  const double perInch = Target == ptScreen ? PixelsPerInch : 2540;
  return static_cast<int>(std::lround(Font.Size * perInch / 72.0));
}

TLogFont MakeTextFont(const TFontSpec& Font, int Height, int Rotation) {
  TLogFont made;
  made.FaceName = Font.Name.substr(0, 31);
  made.Height = -Height;
  made.Width = 0;
  made.Escapement = Rotation;
  made.Orientation = Rotation;
  made.Weight = Font.Bold ? 700 : 400;
  made.Italic = Font.Italic;
  made.Underline = Font.Underline;
  made.StrikeOut = Font.StrikeOut;
  return made;
}

float PlottedAngle(const TTrmLine& Wire) {
  // A wire's angle is an arc tangent: within a right angle of the horizontal, give or take the
  // rounding of a float. Anything else comes from a damaged or foreign file.
  constexpr double kLargest = std::numbers::pi / 2 + 1e-6;
  const double stored = Wire.FAngle;
  if (std::isfinite(stored) && std::fabs(stored) <= kLargest) return Wire.FAngle;
  return WireAngle(Wire.FStart, Wire.FEnd);
}

int LabelRotation(float Angle, TPlotTarget Target) {
  // Any angle, even one that is not finite, gives a rotation within one turn.
  const double degrees =
      std::isfinite(Angle) ? std::remainder(static_cast<double>(Angle) * 180.0 / std::numbers::pi, 360.0) : 0.0;
  const long tenths = std::lround(degrees * 10.0);
  const bool negative = Target == ptScreen || Target == ptClipEMF || Target == ptFileEMF;
  return static_cast<int>(negative ? -tenths : tenths);
}

void DrawNodeCircle(Canvas& C, TPoint Pos, TPoint Scale, bool Marked, int Radius) {
  const TBrush brush = C.Brush();
  C.SetBrush({Marked ? clRed : clTeal, TBrushStyle::bsSolid});
  C.Ellipse(at(std::int64_t{Pos.X} - Radius, std::int64_t{Pos.Y} - Radius, Scale),
            at(std::int64_t{Pos.X} + Radius, std::int64_t{Pos.Y} + Radius, Scale));
  C.SetBrush(brush);
}

void DrawWire(Canvas& C, const TTrmLine& Wire, TPoint Scale, TPlotTarget Target, int PixelsPerInch, bool Label) {
  const TPen pen = C.Pen();
  const TFontSpec font = C.Font();
  // A mark (a finding, a found node) points something out on the screen; pictures and prints
  // show the network alone.
  C.SetPen({Wire.FMarked && Target == ptScreen ? clRed : clBlack, pen.Style, pen.Width});
  C.Line(at(Wire.FStart.X, Wire.FStart.Y, Scale), at(Wire.FEnd.X, Wire.FEnd.Y, Scale));
  if (Wire.FShowLength && Label) {
    const TLogFont label =
        MakeTextFont(font, FontHeightFor(font, Target, PixelsPerInch), LabelRotation(PlottedAngle(Wire), Target));
    if (Wire.FLength == 0) {
      TFontSpec red = font;
      red.Color = clRed;
      C.SetFont(red);
    }
    const std::int64_t mx = Wire.FStart.X + (std::int64_t{Wire.FEnd.X} - Wire.FStart.X) / 2;
    const std::int64_t my = Wire.FStart.Y + (std::int64_t{Wire.FEnd.Y} - Wire.FStart.Y) / 2;
    const bool transparent = C.TransparentText();
    const auto selected = C.SelectedFont();
    const TTextAlign align = C.TextAlign();
    C.SelectFont(label);
    C.SetTransparentText(true);
    C.SetTextAlign({THorzAlign::Center, TVertAlign::Bottom});
    C.TextOut(at(mx, my, Scale), std::to_string(Wire.FLength) + "mm");
    C.SetTextAlign(align);
    C.SetTransparentText(transparent);
    C.SelectFont(selected);
  }
  C.SetPen(pen);
  C.SetFont(font);
}

bool LabelsLegible(const Canvas& C, TPlotTarget Target, std::int64_t TextHeight) {
  if (Target != ptScreen) return true;
  const double shrink = std::fabs(C.Mapping().ScaleY()) * C.DeviceScale();
  return shrink >= 1.0 || static_cast<double>(TextHeight) * shrink >= kLegibleTextPixels;
}

void PlotNetwork(Canvas& C, TCanNodes& Net, const TPlotSettings& Settings, TPlotTarget Target, bool MakeFont,
                 TPoint Scale, const std::optional<std::pair<TPoint, TPoint>>& Clip) {
  const TFontSpec remembered = C.Font();
  std::optional<TLogFont> nameFont;
  int height = 0;
  if (MakeFont) {
    C.SetFont(Target == ptScreen ? Settings.DrawingFont : Settings.ExportFont);
    height = FontHeightFor(C.Font(), Target, C.PixelsPerInch());
    nameFont = MakeTextFont(C.Font(), height, 0);
  }
  Net.NumberNodeNames();

  // Text sizes in document units, for deciding what may reach into the clip box.
  const std::int64_t textHeight = std::max<std::int64_t>(
      1, (MakeFont ? height : FontHeightFor(C.Font(), Target, C.PixelsPerInch())) / std::max(1, std::abs(Scale.Y)) + 1);
  const int ppi = C.PixelsPerInch();
  const bool labels = LabelsLegible(C, Target, textHeight);
  for (int i = 0; i < Net.Count(); ++i)
    if (const TTrmLine* wire = Net.WireAtIndex(i); wire && (!Clip || overlaps(*Clip, WireReach(*wire, textHeight))))
      DrawWire(C, *wire, Scale, Target, ppi, labels);
  for (int i = 0; i < Net.Count(); ++i) {
    const TNode* node = Net.NodeAtIndex(i);
    if (!node || (Clip && !overlaps(*Clip, NodeReach(*node, Settings, textHeight)))) continue;
    drawNodeSymbol(C, *node, Scale, Net, Settings.Grid);
    drawNode(C, nameFont, Scale, *node, Settings.NodeRadius, Settings.ShowNames && labels, Target);
  }
  if (MakeFont) C.SetFont(remembered);
}

void DrawGrid(Canvas& C, TPoint Extent, TPoint Grid) {
  if (Grid.X <= 0 || Grid.Y <= 0) return;
  for (std::int64_t x = Grid.X; x < Extent.X; x += Grid.X)
    C.Polyline({{static_cast<std::int32_t>(x), 0}, {static_cast<std::int32_t>(x), Extent.Y}});
  for (std::int64_t y = Grid.Y; y < Extent.Y; y += Grid.Y)
    C.Polyline({{0, static_cast<std::int32_t>(y)}, {Extent.X, static_cast<std::int32_t>(y)}});
}

}  // namespace busweave

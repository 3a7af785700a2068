#pragma once

// PlotIt's drawing of a network on a canvas: wires with their length labels, node symbols,
// circles and names. One routine for the screen, the overview and every exported picture.

#include <optional>
#include <utility>

#include "drawing/Canvas.h"
#include "drawing/DocumentTypes.h"
#include "model/NetworkContainer.h"

namespace busweave {

struct TPlotSettings {
  TFontSpec DrawingFont;  // names and labels on the screen
  TFontSpec ExportFont;   // names and labels in pictures
  int NodeRadius = 5;
  TPoint Grid{100, 100};
  bool ShowNames = true;
};

// Draws the whole network (renumbering its node names first). Scale multiplies every document
// coordinate after the geometry is computed. When Clip (document coordinates) is given, only
// elements that may reach into it are drawn.
void PlotNetwork(Canvas& C, TCanNodes& Net, const TPlotSettings& Settings, TPlotTarget Target, bool MakeFont,
                 TPoint Scale, const std::optional<std::pair<TPoint, TPoint>>& Clip = std::nullopt);

// A box of the document, in 64 bits so that margins never wrap.
struct TReach {
  std::int64_t Left = 0;
  std::int64_t Bottom = 0;
  std::int64_t Right = 0;
  std::int64_t Top = 0;
};

// Where the drawing of a wire (with its label) or of a node (circle, symbol, name as it is now
// numbered) may reach, for names and labels TextHeight document units high; PlotNetwork draws an
// element inside its clip when this box meets the clip.
TReach WireReach(const TTrmLine& Wire, std::int64_t TextHeight);
TReach NodeReach(const TNode& Node, const TPlotSettings& Settings, std::int64_t TextHeight);

// The height of names and labels for a target: pixels for the screen, 0.01 mm for pictures.
int FontHeightFor(const TFontSpec& Font, TPlotTarget Target, int PixelsPerInch);

// A font for names and labels made from the canvas font, turned by Rotation tenths of a degree.
TLogFont MakeTextFont(const TFontSpec& Font, int Height, int Rotation);

// The angle a wire's label is turned by: the stored one, or, when that is not finite or not
// within a right angle of the horizontal, the one of the wire's ends.
float PlottedAngle(const TTrmLine& Wire);

// The label rotation of a wire for a target: its angle in tenths of a degree, negative for the
// screen and enhanced metafiles, positive for Windows metafiles.
int LabelRotation(float Angle, TPlotTarget Target);

// The circle of a node, red when marked, teal otherwise.
void DrawNodeCircle(Canvas& C, TPoint Pos, TPoint Scale, bool Marked, int Radius);

// The editing grid: a line every Grid units across a document of Extent (document units), in the
// canvas's current pen.
void DrawGrid(Canvas& C, TPoint Extent, TPoint Grid);

// One wire and its label, as the full drawing does it (also used to highlight a wire); Label
// false draws the line alone. A marked wire is red on the screen only, as is a marked node.
void DrawWire(Canvas& C, const TTrmLine& Wire, TPoint Scale, TPlotTarget Target, int PixelsPerInch, bool Label = true);

// Names and labels shrunk on the screen below this height (device pixels) cannot be read; the
// screen leaves them out, which also keeps a zoomed-out editor and the overview quick.
inline constexpr double kLegibleTextPixels = 2.0;

// Whether names and labels of TextHeight logical units are drawn on C: always, except on a
// shrinking screen canvas where they would come out smaller than kLegibleTextPixels. Pictures and
// prints always draw everything.
bool LabelsLegible(const Canvas& C, TPlotTarget Target, std::int64_t TextHeight);

}  // namespace busweave

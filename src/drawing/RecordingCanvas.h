#pragma once

// A canvas that records every drawing call with the state it was made in, so tests can ask
// what was drawn (a node circle of radius 100, a red "0mm" label, ...) without pixels.

#include <vector>

#include "drawing/Canvas.h"

namespace busweave {

struct TCanvasOp {
  enum TKind { opPolyline, opEllipse, opRectangle, opPolygon, opText };

  TKind Kind;
  std::vector<TPoint> Points;  // logical coordinates as given
  std::string Text;
  TPen Pen;
  TBrush Brush;
  TFontSpec Font;
  std::optional<TLogFont> LogFont;
  TTextAlign Align;
  bool Transparent = false;
};

class TRecordingCanvas : public Canvas {
 public:
  void Polyline(const std::vector<TPoint>& Points) override { Record(TCanvasOp::opPolyline, Points); }
  void Ellipse(TPoint Corner1, TPoint Corner2) override { Record(TCanvasOp::opEllipse, {Corner1, Corner2}); }
  void Rectangle(TPoint Corner1, TPoint Corner2) override { Record(TCanvasOp::opRectangle, {Corner1, Corner2}); }
  void Polygon(const std::vector<TPoint>& Points) override { Record(TCanvasOp::opPolygon, Points); }
  void TextOut(TPoint At, const std::string& Text) override { Record(TCanvasOp::opText, {At}, Text); }

  void SetPixelsPerInch(int Value) { FPixelsPerInch = Value; }
  int PixelsPerInch() const override { return FPixelsPerInch; }

  const std::vector<TCanvasOp>& Ops() const { return FOps; }
  std::vector<TCanvasOp> OpsOfKind(TCanvasOp::TKind Kind) const {
    std::vector<TCanvasOp> out;
    for (const auto& op : FOps)
      if (op.Kind == Kind) out.push_back(op);
    return out;
  }
  void Clear() { FOps.clear(); }

 private:
  void Record(TCanvasOp::TKind Kind, std::vector<TPoint> Points, std::string Text = {}) {
    FOps.push_back(
        {Kind, std::move(Points), std::move(Text), FPen, FBrush, FFont, FSelectedFont, FTextAlign, FTransparentText});
  }

  std::vector<TCanvasOp> FOps;
  int FPixelsPerInch = 96;
};

}  // namespace busweave

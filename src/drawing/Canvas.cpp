#include "drawing/Canvas.h"

#include <cmath>

namespace busweave {

void TMapping::EffectiveViewportExt(double& X, double& Y) const {
  X = ViewportExt.X;
  Y = ViewportExt.Y;
  if (!Isotropic || WindowExt.X == 0 || WindowExt.Y == 0) return;
  const double sx = std::fabs(X / WindowExt.X);
  const double sy = std::fabs(Y / WindowExt.Y);
  if (sx > sy)
    X = std::copysign(sy * std::fabs(static_cast<double>(WindowExt.X)), X);
  else if (sy > sx)
    Y = std::copysign(sx * std::fabs(static_cast<double>(WindowExt.Y)), Y);
}

double TMapping::ScaleX() const {
  double x = 0;
  double y = 0;
  EffectiveViewportExt(x, y);
  return WindowExt.X == 0 ? 0 : x / WindowExt.X;
}

double TMapping::ScaleY() const {
  double x = 0;
  double y = 0;
  EffectiveViewportExt(x, y);
  return WindowExt.Y == 0 ? 0 : y / WindowExt.Y;
}

double TMapping::DeviceX(double X) const { return (X - WindowOrg.X) * ScaleX() + ViewportOrg.X; }

double TMapping::DeviceY(double Y) const { return (Y - WindowOrg.Y) * ScaleY() + ViewportOrg.Y; }

}  // namespace busweave

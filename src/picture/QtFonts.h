#pragma once

// The Qt fonts of the program's font descriptions: one conversion for the screen, the pictures
// and the options dialog's samples.

#include <QFont>

#include "drawing/Canvas.h"

namespace busweave {

// A font as the user picks it, at its size in points (at least 1).
QFont QFontOf(const TFontSpec& Font);

// A made font at PixelSize pixels (at least 1): face, bold from weight 600 up, and the styles.
QFont QFontOf(const TLogFont& Font, int PixelSize);

}  // namespace busweave

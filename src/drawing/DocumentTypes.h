#pragma once

// Values the drawing shares with the editor, the frame and the picture export.

#include <cstdint>

#include "model/Elements.h"
#include "model/NetworkContainer.h"

namespace busweave {

// What a drawing is made for: the screen, or a picture on the clipboard or in a file.
enum TPlotTarget : std::uint8_t { ptScreen = 1, ptClipWMF = 2, ptClipEMF = 3, ptFileWMF = 4, ptFileEMF = 5 };

// Hundredths of a millimetre per document unit in exported pictures.
inline constexpr TPoint DrawingScale{20, 20};

}  // namespace busweave

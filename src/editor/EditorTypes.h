#pragma once

// Values an editor shares with the main window and its frame: the editing modes, the defaults of
// new elements, and the notifications to the frame.

#include <cstdint>

#include "model/NetworkContainer.h"

namespace busweave {

enum TMode : std::uint8_t {
  mNone = 0,
  mDrawTRMLine = 1,
  mGetNode = 2,
  mGetWire = 3,
  mPlaceZL = 4,
  mPlaceSrc = 5,
  mMoveNode = 6,  // a drag moves a node with the ends of its wires
};

struct TEditorDefaults {
  std::uint16_t NoZL = DocumentImpedances.NoZL;      // resistance of a node without termination
  std::uint16_t ZLTerm = DocumentImpedances.ZL;      // termination resistance
  std::uint16_t LineZL = DocumentImpedances.LineZL;  // impedance of new wires
  std::uint16_t LineLength = 2000;                   // length proposed for a wire of length 0, mm
  bool ShowNames = true;
};

// Notifications from an editor to its frame, sent synchronously with a value: the new width or
// height in document units, nothing for the file name. The codes keep the numbers of the window
// message WM_EDITORNOTIFY that carried them.
enum class TEditorNotifyCode : int { enWidth = 1, enHeight = 2, enFileName = 3 };
inline constexpr int WM_EDITORNOTIFY = 0x1400;

}  // namespace busweave

#pragma once

// The two kinds of network element, nodes and wires, with their packed file records.
// Elements refer to each other only through coordinates; the container owns them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace busweave {

// A point in document units: X to the right, Y upwards.
struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;

  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// True when P lies in the closed rectangle spanned by A and B.
bool InBox(TPoint A, TPoint B, TPoint P);

// Adds two points as 32-bit two's complement: coordinates wrap instead of overflowing.
TPoint WrappingAdd(TPoint A, TPoint Delta);

enum TUndoAction : std::uint8_t { uaNone = 0, uaAdded = 1, uaDeleted = 2, uaChanged = 3, uaRestored = 4 };

enum TFileState : std::uint8_t { fstNone = 0, fstLoaded = 1, fstSaved = 2, fstNew = 3, fstModified = 4 };

inline constexpr std::size_t NodeRecordSize = 268;
inline constexpr std::size_t WireRecordSize = 281;
inline constexpr std::size_t ShortStringCapacity = 255;

// Bookkeeping shared by both element kinds; used by the undo list and the editor, never stored in a file.
class TMyClasses {
 public:
  enum class TKind : std::uint8_t { Node, Wire };

  virtual ~TMyClasses() = default;

  // The element's class, for the scans that must tell nodes from wires quickly.
  TKind Kind() const { return FKind; }

  std::int32_t FTick = 0;   // stamp of the user action that put this object on the undo list
  std::int32_t FIndex = 0;  // container index when the undo entry was made
  TUndoAction FAction = uaNone;
  std::uint8_t FMarked = 0;  // 1 while the editor shows the element in its dialog

 protected:
  explicit TMyClasses(TKind Kind) : FKind(Kind) {}
  TMyClasses(const TMyClasses&) = default;
  TMyClasses& operator=(const TMyClasses&) = default;

 private:
  TKind FKind;
};

// A point where wires meet: a resistor to ground and, optionally, a CAN driver source.
class TNode final : public TMyClasses {
 public:
  using Record = std::array<std::uint8_t, NodeRecordSize>;

  TNode() : TMyClasses(TKind::Node) {}

  TPoint FPos;
  std::uint16_t FResistance = 0;
  std::string FName;  // at most 255 single-byte characters
  std::uint8_t FShowName = 0;
  std::uint8_t FSource = 0;  // 1 = a driver source is attached; other values mean none

  // A new node carrying a copy of this node's record and fresh bookkeeping.
  std::unique_ptr<TNode> CopyRecord() const;
  void AssignRecord(const TNode& From);

  Record PackRecord() const;
  void UnpackRecord(const std::uint8_t* Bytes);
};

// A wire: a transmission line between two points with an impedance and an electrical length.
class TTrmLine final : public TMyClasses {
 public:
  using Record = std::array<std::uint8_t, WireRecordSize>;

  TTrmLine() : TMyClasses(TKind::Wire) {}

  TPoint FStart;
  TPoint FEnd;
  std::uint16_t FImpedance = 0;
  std::uint16_t FLength = 0;                  // mm; 0 until the user enters one
  float FAngle = 0.0f;                        // radians, kept as stored
  std::array<std::uint8_t, 256> FReserved{};  // carried unchanged, never interpreted
  std::uint8_t FShowLength = 0;

  std::unique_ptr<TTrmLine> CopyRecord() const;
  void AssignRecord(const TTrmLine& From);

  Record PackRecord() const;
  void UnpackRecord(const std::uint8_t* Bytes);
};

// The angle a wire from Start to End is drawn at: arctan(dy / dx), pi/2 for a vertical wire.
float WireAngle(TPoint Start, TPoint End);

// Cuts a name to the 255 characters a short string holds.
std::string CutShortString(std::string Text);

// A point as the messages show it: "(X, Y)".
std::string PointText(TPoint P);

inline TNode* AsNode(TMyClasses* Element) {
  return Element && Element->Kind() == TMyClasses::TKind::Node ? static_cast<TNode*>(Element) : nullptr;
}

inline TTrmLine* AsWire(TMyClasses* Element) {
  return Element && Element->Kind() == TMyClasses::TKind::Wire ? static_cast<TTrmLine*>(Element) : nullptr;
}

}  // namespace busweave

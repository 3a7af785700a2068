#pragma once

// The shape of a bus as the advice search changes it: the trunk between the two points
// farthest apart along the wires, the stubs that leave it, and the nodes that carry a
// termination. Element keys name what a change touches, so that an edit found on one copy of
// the network applies to another.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/NetworkContainer.h"

namespace busweave {

// A stub: the wires from where it leaves the trunk to its farthest node, nearest the trunk first.
struct TBusStub {
  TPoint Root;                     // on the trunk
  TPoint Far;                      // its farthest point
  std::vector<std::string> Wires;  // wire keys, from the trunk outwards
  std::uint64_t LengthMm = 0;      // along those wires
};

struct TBusLayout {
  TPoint EndA;  // the trunk's two ends
  TPoint EndB;
  std::vector<std::string> Trunk;  // wire keys from EndA to EndB
  std::uint64_t TrunkMm = 0;
  std::vector<TBusStub> Stubs;
  std::vector<TPoint> Terminations;  // nodes whose resistance is a termination's, in container order
};

// A node's resistance up to this many ohms is a termination (of the wrong value, perhaps);
// above it a station's input.
inline constexpr std::uint16_t kTerminationCeiling = 300;

// The layout of the network's wires. None when there are no wires, the wires do not hang
// together, or they form a loop: then there is no one trunk to speak of.
std::optional<TBusLayout> BusLayoutOf(const TCanNodes& Net);

// The stub that leads from the trunk to the node at P; none when P is on the trunk.
const TBusStub* StubTo(const TBusLayout& Layout, TPoint P);

}  // namespace busweave

#pragma once

// The shape of a bus: the graph of its wires, the trunk between its two ends and the stubs that
// leave the trunk. The one definition of trunk and stubs: the bus check measures and judges them
// (BusCheck.cpp), the advice search changes them.
//
// The trunk runs between the two terminations farthest apart along the wires; with only one
// termination, from it to the point farthest from it; with none, between the two points farthest
// apart (the ends of the longest path). Distances are millimetres first, then the number of
// wires, so that a network whose lengths are not set yet still has a farthest point. Every wire
// that leaves a trunk point off the trunk starts a stub, which reaches as far as its farthest
// point.
//
// Two views: in vertex and wire numbers of a TBusGraph, for the check that names them in its
// findings; and in points and element keys (TBusLayout), so that an edit found on one copy of the
// network applies to another.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "model/NetworkContainer.h"

namespace busweave {

// The wiring as a graph: a vertex per node position or wire end, an edge per wire. The adjacency
// is kept in one array (offsets per vertex) so that a large network is built without an
// allocation per element.
struct TBusGraph {
  struct TEdge {
    int To;
    int Wire;  // index into Wires
  };
  struct TWire {
    int A;
    int B;
    std::uint32_t LengthMm;
    const TTrmLine* Line;
    int Index;  // position in the container, for its key
  };

  std::vector<TPoint> Points;
  std::vector<const TNode*> NodeAt;  // per vertex, or null for a wire end without a node
  std::vector<int> EdgeStart;        // edges of vertex v: Edges[EdgeStart[v] .. EdgeStart[v + 1])
  std::vector<TEdge> Edges;
  std::vector<TWire> Wires;

  std::size_t Degree(int V) const {
    return static_cast<std::size_t>(EdgeStart[static_cast<std::size_t>(V) + 1] -
                                    EdgeStart[static_cast<std::size_t>(V)]);
  }
  const TEdge* begin(int V) const { return Edges.data() + EdgeStart[static_cast<std::size_t>(V)]; }
  const TEdge* end(int V) const { return Edges.data() + EdgeStart[static_cast<std::size_t>(V) + 1]; }
};

// Vertices are numbered in container order of the points' first appearance: a node's position, a
// wire's start, then its end.
TBusGraph BusGraphOf(const TCanNodes& Net);

// The pieces that hang together, in order of their lowest vertex; each piece's vertices in the
// order a walk from that vertex reaches them (the lowest first).
std::vector<std::vector<int>> BusPiecesOf(const TBusGraph& Graph);

// A distance along the wires: millimetres first, then the number of wires.
struct TBusDistance {
  std::uint64_t Mm = std::numeric_limits<std::uint64_t>::max();
  std::uint32_t Hops = 0;
  friend bool operator<(const TBusDistance& L, const TBusDistance& R) {
    return L.Mm != R.Mm ? L.Mm < R.Mm : L.Hops < R.Hops;
  }
  bool Reached() const { return Mm != std::numeric_limits<std::uint64_t>::max(); }
};

// A stub in graph numbers.
struct TGraphStub {
  int Root;                   // the trunk vertex it leaves from
  int Far;                    // its farthest vertex (the first reached of equals)
  TBusDistance Length;        // from Root to Far
  std::vector<int> Wires;     // from Root to Far, nearest the trunk first
  std::uint64_t WiresMm = 0;  // all its wires, side branches too
};

struct TGraphLayout {
  int EndA = 0;
  int EndB = 0;
  std::vector<int> Trunk;        // wires from EndA to EndB
  std::vector<int> TrunkPoints;  // vertices from EndA to EndB
  std::uint64_t TrunkMm = 0;
  std::vector<TGraphStub> Stubs;  // by their root from EndA to EndB, then in the root's wire order
};

// The trunk and stubs of one piece (as BusPiecesOf gives it) that has a wire and no loop. Which
// vertices carry a termination is the caller's to say: Terminated holds one entry per vertex.
// A double sweep: from the first termination in the piece's order (from the piece's first vertex
// when there is none), EndA is the farthest termination (point), and EndB the farthest from EndA;
// with one termination, EndA is it. Among equally far candidates the first in the piece's order
// is taken.
TGraphLayout GraphLayoutOf(const TBusGraph& Graph, const std::vector<int>& Piece, const std::vector<char>& Terminated);

// The wires of a piece: half the sum of its vertices' degrees. A piece without a loop has one
// fewer than it has vertices.
std::size_t WiresOfPiece(const TBusGraph& Graph, const std::vector<int>& Piece);

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
  std::vector<TBusStub> Stubs;       // in trunk order from EndA
  std::vector<TPoint> Terminations;  // nodes whose resistance is a termination's, in container order
};

// A node's resistance up to this many ohms is a termination (of the wrong value, perhaps);
// above it a station's input. The container's no-termination value is none.
inline constexpr std::uint16_t kTerminationCeiling = 300;

// Whether the node carries a termination as the bus check sees it with its default settings.
bool IsTermination(const TCanNodes& Net, const TNode& Node);

// Which terminations may end the trunk. The check takes any: a termination inside the line ends
// the trunk there, and what lies beyond it is a stub that it judges as one. The advice takes only
// those at a line end: a termination inside the line is misplaced, and the trunk runs on past it
// to the open end where the termination belongs, so that moving it there is a change to try.
enum class TTrunkEnds { AnyTermination, LineEndTerminations };

// The layout of the network's wires (GraphLayoutOf of their piece), with terminations as
// IsTermination says; nodes off the wires end no trunk, though Terminations lists them. None
// when there are no wires, the wires do not hang together, or they form a loop: then there is
// no one trunk to speak of.
std::optional<TBusLayout> BusLayoutOf(const TCanNodes& Net, TTrunkEnds Ends = TTrunkEnds::AnyTermination);

// The stub that leads from the trunk to the node at P; none when P is on the trunk.
const TBusStub* StubTo(const TBusLayout& Layout, TPoint P);

}  // namespace busweave

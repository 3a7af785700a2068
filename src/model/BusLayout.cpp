#include "model/BusLayout.h"

#include <algorithm>
#include <utility>

namespace busweave {
namespace {

std::uint64_t packPoint(TPoint P) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(P.X)) << 32) | static_cast<std::uint32_t>(P.Y);
}

// Point to vertex number, open addressing.
class PointTable {
 public:
  explicit PointTable(std::size_t Expected) {
    std::size_t size = 16;
    while (size < 2 * Expected + 1) size *= 2;
    FSlots.assign(size, {0, -1});
  }
  // The vertex of P, numbered Next when P is new (then Added is set).
  int Find(std::uint64_t P, int Next, bool& Added) {
    std::size_t mask = FSlots.size() - 1;
    std::size_t i = static_cast<std::size_t>((P * 0x9E3779B97F4A7C15ull) >> 20) & mask;
    while (FSlots[i].second >= 0) {
      if (FSlots[i].first == P) {
        Added = false;
        return FSlots[i].second;
      }
      i = (i + 1) & mask;
    }
    FSlots[i] = {P, Next};
    Added = true;
    return Next;
  }

 private:
  std::vector<std::pair<std::uint64_t, int>> FSlots;
};

// Distances from one vertex in a piece without a loop: every vertex has one path to it, so a
// plain walk finds them.
struct TreeWalk {
  std::vector<TBusDistance> Dist;
  std::vector<int> Via;  // wire that leads back towards the start, -1 at the start
};

void walkTree(const TBusGraph& Graph, int Start, TreeWalk& Walk) {
  Walk.Dist.assign(Graph.Points.size(), TBusDistance{});
  Walk.Via.assign(Graph.Points.size(), -1);
  Walk.Dist[static_cast<std::size_t>(Start)] = {0, 0};
  std::vector<int> stack = {Start};
  while (!stack.empty()) {
    const int v = stack.back();
    stack.pop_back();
    const TBusDistance here = Walk.Dist[static_cast<std::size_t>(v)];
    for (const TBusGraph::TEdge* e = Graph.begin(v); e != Graph.end(v); ++e) {
      TBusDistance& next = Walk.Dist[static_cast<std::size_t>(e->To)];
      if (next.Reached()) continue;
      next = {here.Mm + Graph.Wires[static_cast<std::size_t>(e->Wire)].LengthMm, here.Hops + 1};
      Walk.Via[static_cast<std::size_t>(e->To)] = e->Wire;
      stack.push_back(e->To);
    }
  }
}

// The farthest of some vertices from a walk's start (the first of equals).
int farthest(const TreeWalk& Walk, const std::vector<int>& Among) {
  int best = Among.front();
  for (int v : Among)
    if (Walk.Dist[static_cast<std::size_t>(best)] < Walk.Dist[static_cast<std::size_t>(v)]) best = v;
  return best;
}

// Wires from a vertex back to the walk's start, nearest to the vertex first.
std::vector<int> wiresBack(const TBusGraph& Graph, const std::vector<int>& Via, int From) {
  std::vector<int> wires;
  for (int v = From; Via[static_cast<std::size_t>(v)] >= 0;) {
    const int w = Via[static_cast<std::size_t>(v)];
    wires.push_back(w);
    const TBusGraph::TWire& wire = Graph.Wires[static_cast<std::size_t>(w)];
    v = wire.A == v ? wire.B : wire.A;
  }
  return wires;
}

// Walks every stub off the trunk: from each trunk point, each wire that is not the trunk's.
void addStubs(const TBusGraph& Graph, TGraphLayout& Layout) {
  const std::size_t n = Graph.Points.size();
  std::vector<char> trunkWire(Graph.Wires.size(), 0);
  for (int w : Layout.Trunk) trunkWire[static_cast<std::size_t>(w)] = 1;
  // One walk for all stubs: they share no vertex, and the trunk stops each.
  TreeWalk walk;
  walk.Dist.assign(n, TBusDistance{});
  walk.Via.assign(n, -1);
  for (int v : Layout.TrunkPoints) walk.Dist[static_cast<std::size_t>(v)] = {0, 0};
  std::vector<int> stack;
  for (int root : Layout.TrunkPoints) {
    for (const TBusGraph::TEdge* first = Graph.begin(root); first != Graph.end(root); ++first) {
      if (trunkWire[static_cast<std::size_t>(first->Wire)]) continue;
      // One stub: walk it, keeping its farthest point and its wire length.
      int far = first->To;
      std::uint64_t wiresMm = Graph.Wires[static_cast<std::size_t>(first->Wire)].LengthMm;
      walk.Dist[static_cast<std::size_t>(far)] = {wiresMm, 1};
      walk.Via[static_cast<std::size_t>(far)] = first->Wire;
      stack.assign(1, far);
      while (!stack.empty()) {
        const int v = stack.back();
        stack.pop_back();
        const TBusDistance here = walk.Dist[static_cast<std::size_t>(v)];
        if (walk.Dist[static_cast<std::size_t>(far)] < here) far = v;
        for (const TBusGraph::TEdge* e = Graph.begin(v); e != Graph.end(v); ++e) {
          TBusDistance& next = walk.Dist[static_cast<std::size_t>(e->To)];
          if (next.Reached()) continue;
          const std::uint64_t mm = Graph.Wires[static_cast<std::size_t>(e->Wire)].LengthMm;
          next = {here.Mm + mm, here.Hops + 1};
          walk.Via[static_cast<std::size_t>(e->To)] = e->Wire;
          wiresMm += mm;
          stack.push_back(e->To);
        }
      }
      TGraphStub stub{root, far, walk.Dist[static_cast<std::size_t>(far)], wiresBack(Graph, walk.Via, far), wiresMm};
      std::reverse(stub.Wires.begin(), stub.Wires.end());
      Layout.Stubs.push_back(std::move(stub));
    }
  }
}

}  // namespace

TBusGraph BusGraphOf(const TCanNodes& Net) {
  TBusGraph graph;
  PointTable table(static_cast<std::size_t>(Net.Count()) * 2);
  auto vertex = [&](TPoint P) {
    bool added = false;
    const int v = table.Find(packPoint(P), static_cast<int>(graph.Points.size()), added);
    if (added) {
      graph.Points.push_back(P);
      graph.NodeAt.push_back(nullptr);
    }
    return v;
  };
  for (int i = 0; i < Net.Count(); ++i) {
    if (const TNode* node = Net.NodeAtIndex(i)) {
      graph.NodeAt[static_cast<std::size_t>(vertex(node->FPos))] = node;
    } else if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      const int a = vertex(wire->FStart);
      const int b = vertex(wire->FEnd);
      graph.Wires.push_back({a, b, wire->FLength, wire, i});
    }
  }
  graph.EdgeStart.assign(graph.Points.size() + 1, 0);
  for (const TBusGraph::TWire& w : graph.Wires) {
    ++graph.EdgeStart[static_cast<std::size_t>(w.A) + 1];
    ++graph.EdgeStart[static_cast<std::size_t>(w.B) + 1];
  }
  for (std::size_t v = 1; v < graph.EdgeStart.size(); ++v) graph.EdgeStart[v] += graph.EdgeStart[v - 1];
  graph.Edges.resize(2 * graph.Wires.size());
  std::vector<int> fill(graph.EdgeStart.begin(), graph.EdgeStart.end() - 1);
  for (std::size_t w = 0; w < graph.Wires.size(); ++w) {
    const TBusGraph::TWire& wire = graph.Wires[w];
    graph.Edges[static_cast<std::size_t>(fill[static_cast<std::size_t>(wire.A)]++)] = {wire.B, static_cast<int>(w)};
    graph.Edges[static_cast<std::size_t>(fill[static_cast<std::size_t>(wire.B)]++)] = {wire.A, static_cast<int>(w)};
  }
  return graph;
}

std::vector<std::vector<int>> BusPiecesOf(const TBusGraph& Graph) {
  std::vector<std::vector<int>> pieces;
  const std::size_t n = Graph.Points.size();
  std::vector<int> piece(n, -1);
  std::vector<int> stack;
  for (std::size_t start = 0; start < n; ++start) {
    if (piece[start] >= 0) continue;
    const int id = static_cast<int>(pieces.size());
    pieces.emplace_back();
    stack.assign(1, static_cast<int>(start));
    piece[start] = id;
    while (!stack.empty()) {
      const int v = stack.back();
      stack.pop_back();
      pieces.back().push_back(v);
      for (const TBusGraph::TEdge* e = Graph.begin(v); e != Graph.end(v); ++e)
        if (piece[static_cast<std::size_t>(e->To)] < 0) {
          piece[static_cast<std::size_t>(e->To)] = id;
          stack.push_back(e->To);
        }
    }
  }
  return pieces;
}

std::size_t WiresOfPiece(const TBusGraph& Graph, const std::vector<int>& Piece) {
  std::size_t ends = 0;
  for (int v : Piece) ends += Graph.Degree(v);
  return ends / 2;
}

TGraphLayout GraphLayoutOf(const TBusGraph& Graph, const std::vector<int>& Piece, const std::vector<char>& Terminated) {
  std::vector<int> terminations;
  for (int v : Piece)
    if (Terminated[static_cast<std::size_t>(v)]) terminations.push_back(v);
  // A double sweep: the farthest from any point is an end of a longest path, on a tree.
  TreeWalk walk;
  const int start = terminations.empty() ? Piece.front() : terminations.front();
  walkTree(Graph, start, walk);
  const int a = terminations.size() == 1 ? start : farthest(walk, terminations.empty() ? Piece : terminations);
  if (a != start) walkTree(Graph, a, walk);
  const int b = farthest(walk, terminations.size() >= 2 ? terminations : Piece);

  TGraphLayout layout;
  layout.EndA = a;
  layout.EndB = b;
  layout.TrunkMm = walk.Dist[static_cast<std::size_t>(b)].Mm;
  layout.Trunk = wiresBack(Graph, walk.Via, b);  // from b towards a
  std::reverse(layout.Trunk.begin(), layout.Trunk.end());
  layout.TrunkPoints.push_back(a);
  for (int w : layout.Trunk) {
    const TBusGraph::TWire& wire = Graph.Wires[static_cast<std::size_t>(w)];
    layout.TrunkPoints.push_back(wire.A == layout.TrunkPoints.back() ? wire.B : wire.A);
  }
  addStubs(Graph, layout);
  return layout;
}

bool IsTermination(const TCanNodes& Net, const TNode& Node) {
  return Node.FResistance != Net.FNoZL && Node.FResistance <= kTerminationCeiling;
}

std::optional<TBusLayout> BusLayoutOf(const TCanNodes& Net, TTrunkEnds Ends) {
  const TBusGraph graph = BusGraphOf(Net);
  if (graph.Wires.empty()) return std::nullopt;
  // The piece of the wires, when they hang together: then every wire is in it.
  const std::vector<std::vector<int>> pieces = BusPiecesOf(graph);
  const auto at = std::find_if(pieces.begin(), pieces.end(),
                               [&graph](const std::vector<int>& Piece) { return graph.Degree(Piece.front()) > 0; });
  const std::vector<int>& piece = *at;
  const std::size_t wires = WiresOfPiece(graph, piece);
  if (wires != graph.Wires.size() || wires >= piece.size()) return std::nullopt;  // apart, or a loop

  std::vector<char> terminated(graph.Points.size(), 0);
  for (std::size_t v = 0; v < graph.Points.size(); ++v)
    terminated[v] = graph.NodeAt[v] && IsTermination(Net, *graph.NodeAt[v]) &&
                    (Ends == TTrunkEnds::AnyTermination || graph.Degree(static_cast<int>(v)) == 1);
  const TGraphLayout found = GraphLayoutOf(graph, piece, terminated);

  const auto point = [&graph](int V) { return graph.Points[static_cast<std::size_t>(V)]; };
  const auto key = [&](int W) { return Net.Strings(graph.Wires[static_cast<std::size_t>(W)].Index); };
  TBusLayout layout;
  layout.EndA = point(found.EndA);
  layout.EndB = point(found.EndB);
  layout.TrunkMm = found.TrunkMm;
  for (int w : found.Trunk) layout.Trunk.push_back(key(w));
  for (const TGraphStub& s : found.Stubs) {
    TBusStub stub;
    stub.Root = point(s.Root);
    stub.Far = point(s.Far);
    stub.LengthMm = s.Length.Mm;
    for (int w : s.Wires) stub.Wires.push_back(key(w));
    layout.Stubs.push_back(std::move(stub));
  }
  for (int i = 0; i < Net.Count(); ++i)
    if (const TNode* node = Net.NodeAtIndex(i); node && IsTermination(Net, *node))
      layout.Terminations.push_back(node->FPos);
  return layout;
}

const TBusStub* StubTo(const TBusLayout& Layout, TPoint P) {
  for (const TBusStub& stub : Layout.Stubs)
    if (stub.Far == P) return &stub;
  return nullptr;
}

}  // namespace busweave

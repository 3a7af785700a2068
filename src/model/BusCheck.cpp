#include "model/BusCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <queue>

namespace busweave {
namespace {

// The wiring as a graph: a vertex per node position or wire end, an edge per wire. The
// adjacency is kept in one array (offsets per vertex) so that a large network is built without
// an allocation per element.
struct Edge {
  int To;
  int Wire;  // index into TGraph::Wires
};

struct WireInfo {
  int A;
  int B;
  std::uint32_t LengthMm;
  const TTrmLine* Wire;
  int Index;  // position in the container, for its key
};

struct TGraph {
  std::vector<TPoint> Points;
  std::vector<const TNode*> NodeAt;  // per vertex, or null for a wire end without a node
  std::vector<int> EdgeStart;        // edges of vertex v: Edges[EdgeStart[v] .. EdgeStart[v + 1])
  std::vector<Edge> Edges;
  std::vector<WireInfo> Wires;

  std::size_t Degree(int V) const {
    return static_cast<std::size_t>(EdgeStart[static_cast<std::size_t>(V) + 1] -
                                    EdgeStart[static_cast<std::size_t>(V)]);
  }
  const Edge* begin(int V) const { return Edges.data() + EdgeStart[static_cast<std::size_t>(V)]; }
  const Edge* end(int V) const { return Edges.data() + EdgeStart[static_cast<std::size_t>(V) + 1]; }
};

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

TGraph buildGraph(const TCanNodes& Net) {
  TGraph graph;
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
  for (const WireInfo& w : graph.Wires) {
    ++graph.EdgeStart[static_cast<std::size_t>(w.A) + 1];
    ++graph.EdgeStart[static_cast<std::size_t>(w.B) + 1];
  }
  for (std::size_t v = 1; v < graph.EdgeStart.size(); ++v) graph.EdgeStart[v] += graph.EdgeStart[v - 1];
  graph.Edges.resize(2 * graph.Wires.size());
  std::vector<int> fill(graph.EdgeStart.begin(), graph.EdgeStart.end() - 1);
  for (std::size_t w = 0; w < graph.Wires.size(); ++w) {
    const WireInfo& wire = graph.Wires[w];
    graph.Edges[static_cast<std::size_t>(fill[static_cast<std::size_t>(wire.A)]++)] = {wire.B, static_cast<int>(w)};
    graph.Edges[static_cast<std::size_t>(fill[static_cast<std::size_t>(wire.B)]++)] = {wire.A, static_cast<int>(w)};
  }
  return graph;
}

// Distances along the wires: millimetres first, then the number of wires, so that a network
// whose lengths are not set yet still has a longest path.
struct Distance {
  std::uint64_t Mm = std::numeric_limits<std::uint64_t>::max();
  std::uint32_t Hops = 0;
  friend bool operator<(const Distance& L, const Distance& R) { return L.Mm != R.Mm ? L.Mm < R.Mm : L.Hops < R.Hops; }
  bool Reached() const { return Mm != std::numeric_limits<std::uint64_t>::max(); }
};

struct PathTree {
  std::vector<Distance> Dist;
  std::vector<int> Via;     // wire that leads back towards a source, -1 at a source
  std::vector<int> Source;  // the source each vertex was reached from
};

PathTree shortestPaths(const TGraph& Graph, const std::vector<int>& Sources) {
  const std::size_t n = Graph.Points.size();
  PathTree tree{std::vector<Distance>(n), std::vector<int>(n, -1), std::vector<int>(n, -1)};
  using Item = std::pair<Distance, int>;
  auto later = [](const Item& L, const Item& R) { return R.first < L.first; };
  std::priority_queue<Item, std::vector<Item>, decltype(later)> queue(later);
  for (int s : Sources) {
    tree.Dist[static_cast<std::size_t>(s)] = {0, 0};
    tree.Source[static_cast<std::size_t>(s)] = s;
    queue.push({{0, 0}, s});
  }
  while (!queue.empty()) {
    const auto [dist, v] = queue.top();
    queue.pop();
    if (tree.Dist[static_cast<std::size_t>(v)] < dist) continue;
    for (const Edge* e = Graph.begin(v); e != Graph.end(v); ++e) {
      const Distance next{dist.Mm + Graph.Wires[static_cast<std::size_t>(e->Wire)].LengthMm, dist.Hops + 1};
      auto& best = tree.Dist[static_cast<std::size_t>(e->To)];
      if (next < best) {
        best = next;
        tree.Via[static_cast<std::size_t>(e->To)] = e->Wire;
        tree.Source[static_cast<std::size_t>(e->To)] = tree.Source[static_cast<std::size_t>(v)];
        queue.push({next, e->To});
      }
    }
  }
  return tree;
}

// The farthest vertex of a piece from the tree's sources.
int farthest(const PathTree& Tree, const std::vector<int>& Piece) {
  int best = Piece.front();
  for (int v : Piece)
    if (Tree.Dist[static_cast<std::size_t>(best)] < Tree.Dist[static_cast<std::size_t>(v)]) best = v;
  return best;
}

// Wires from a vertex back to the tree's source.
std::vector<int> wiresBack(const TGraph& Graph, const PathTree& Tree, int From) {
  std::vector<int> wires;
  for (int v = From; Tree.Via[static_cast<std::size_t>(v)] >= 0;) {
    const int w = Tree.Via[static_cast<std::size_t>(v)];
    wires.push_back(w);
    const WireInfo& wire = Graph.Wires[static_cast<std::size_t>(w)];
    v = wire.A == v ? wire.B : wire.A;
  }
  return wires;
}

std::string metres(double Mm) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f m", Mm / 1000.0);
  return buffer;
}

std::string rate(std::uint32_t BitRate) {
  return BitRate % 1000000 == 0 ? std::to_string(BitRate / 1000000) + " Mbit/s"
         : BitRate % 1000 == 0  ? std::to_string(BitRate / 1000) + " kbit/s"
                                : std::to_string(BitRate) + " bit/s";
}

// How a node is called in a message: its name, or its position when it has none.
std::string nodeLabel(const TGraph& Graph, int V) {
  const TPoint p = Graph.Points[static_cast<std::size_t>(V)];
  const std::string position = "(" + std::to_string(p.X) + ", " + std::to_string(p.Y) + ")";
  const TNode* node = Graph.NodeAt[static_cast<std::size_t>(V)];
  if (!node) return "the wire end at " + position;
  std::string name = node->FName;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  const auto bracket = name.find(']');
  const bool onlyNumber = bracket != std::string::npos && bracket + 1 >= name.size();
  if (name.empty()) return "node at " + position;
  return onlyNumber ? "node " + name + " at " + position : "node " + name;
}

class Checker {
 public:
  Checker(const TCanNodes& Net, const TCheckSettings& Settings)
      : FNet(Net), FSettings(Settings), FGraph(buildGraph(Net)) {}

  std::vector<TFinding> Run() {
    if (FGraph.Points.empty()) return {};
    findPieces();
    checkWires();
    checkStations();
    checkMainPiece();
    std::stable_sort(FFindings.begin(), FFindings.end(),
                     [](const TFinding& L, const TFinding& R) { return L.Severity < R.Severity; });
    return std::move(FFindings);
  }

 private:
  TFinding& add(TSeverity Severity, const char* Rule, std::string Message) {
    FFindings.push_back({Severity, Rule, std::move(Message), {}, {}});
    return FFindings.back();
  }
  void addVertex(TFinding& F, int V) { F.Nodes.push_back(FGraph.Points[static_cast<std::size_t>(V)]); }
  void addWire(TFinding& F, int W) { F.Wires.push_back(FNet.Strings(FGraph.Wires[static_cast<std::size_t>(W)].Index)); }

  bool terminated(int V) const {
    const TNode* node = FGraph.NodeAt[static_cast<std::size_t>(V)];
    return node && node->FResistance != FNet.FNoZL;
  }

  void findPieces() {
    const std::size_t n = FGraph.Points.size();
    std::vector<int> piece(n, -1);
    for (std::size_t start = 0; start < n; ++start) {
      if (piece[start] >= 0) continue;
      const int id = static_cast<int>(FPieces.size());
      FPieces.emplace_back();
      std::vector<int> stack = {static_cast<int>(start)};
      piece[start] = id;
      while (!stack.empty()) {
        const int v = stack.back();
        stack.pop_back();
        FPieces.back().push_back(v);
        for (const Edge* e = FGraph.begin(v); e != FGraph.end(v); ++e)
          if (piece[static_cast<std::size_t>(e->To)] < 0) {
            piece[static_cast<std::size_t>(e->To)] = id;
            stack.push_back(e->To);
          }
      }
    }
    // The main piece is the one with the most nodes; the bus rules look at it.
    auto nodes = [this](const std::vector<int>& Piece) {
      return std::count_if(Piece.begin(), Piece.end(),
                           [this](int V) { return FGraph.NodeAt[static_cast<std::size_t>(V)] != nullptr; });
    };
    FMain = 0;
    for (std::size_t i = 1; i < FPieces.size(); ++i)
      if (nodes(FPieces[i]) > nodes(FPieces[FMain])) FMain = i;
    if (FPieces.size() < 2) return;

    std::string sizes;
    for (const auto& p : FPieces) sizes += (sizes.empty() ? "" : ", ") + std::to_string(nodes(p)) + " nodes";
    TFinding& f = add(TSeverity::Error, "pieces",
                      "The network falls into " + std::to_string(FPieces.size()) + " separate pieces (" + sizes +
                          "); a bus is one connected line");
    for (std::size_t i = 0; i < FPieces.size(); ++i)
      if (i != FMain)
        for (int v : FPieces[i]) addVertex(f, v);
  }

  void checkWires() {
    std::uint64_t total = 0;
    for (std::size_t w = 0; w < FGraph.Wires.size(); ++w) {
      const WireInfo& wire = FGraph.Wires[w];
      total += wire.LengthMm;
      if (wire.LengthMm == 0) {
        TFinding& f = add(TSeverity::Error, "wire-length",
                          "The wire from " + nodeLabel(FGraph, wire.A) + " to " + nodeLabel(FGraph, wire.B) +
                              " has no length (0 mm)");
        addWire(f, static_cast<int>(w));
      }
      for (int end : {wire.A, wire.B})
        if (!FGraph.NodeAt[static_cast<std::size_t>(end)]) {
          TFinding& f =
              add(TSeverity::Error, "wire-end", "A wire ends at " + nodeLabel(FGraph, end) + " without a node");
          addWire(f, static_cast<int>(w));
          addVertex(f, end);
        }
    }
    FTotalMm = total;
  }

  void checkStations() {
    std::vector<int> stations;
    for (std::size_t v = 0; v < FGraph.Points.size(); ++v) {
      const TNode* node = FGraph.NodeAt[v];
      if (!node || node->FSource != 1) continue;
      stations.push_back(static_cast<int>(v));
      if (FGraph.Degree(static_cast<int>(v)) == 0) {
        TFinding& f = add(TSeverity::Error, "station-unconnected",
                          "The driver at " + nodeLabel(FGraph, static_cast<int>(v)) + " sits on no wire");
        addVertex(f, static_cast<int>(v));
      }
    }
    const int count = static_cast<int>(stations.size());
    if (count > FSettings.MaxStations) {
      TFinding& f = add(TSeverity::Error, "station-count",
                        std::to_string(count) + " stations with a driver; the transceivers can drive at most " +
                            std::to_string(FSettings.MaxStations));
      for (int v : stations) addVertex(f, v);
    } else if (count < FSettings.MinStations) {
      TFinding& f = add(TSeverity::Warning, "station-count",
                        std::to_string(count) + " station(s) with a driver; a bus needs at least " +
                            std::to_string(FSettings.MinStations) + " to carry messages");
      for (int v : stations) addVertex(f, v);
    }
  }

  void checkMainPiece() {
    const std::vector<int>& piece = FPieces[FMain];
    std::size_t wires = 0;
    for (int v : piece) wires += FGraph.Degree(v);
    wires /= 2;
    if (wires == 0) return;  // a single node: nothing to say about a bus yet
    if (wires >= piece.size()) {
      TFinding& f = add(TSeverity::Warning, "loop", "The wires form a loop; a CAN bus is one line with short stubs");
      for (int v : piece) addVertex(f, v);
    }

    // The longest path of the bus, between two of its ends.
    const PathTree fromAny = shortestPaths(FGraph, {piece.front()});
    const int endA = farthest(fromAny, piece);
    const PathTree fromA = shortestPaths(FGraph, {endA});
    const int endB = farthest(fromA, piece);
    const PathTree fromB = shortestPaths(FGraph, {endB});
    const double busMm = static_cast<double>(fromA.Dist[static_cast<std::size_t>(endB)].Mm);
    const double stubLimitMm =
        1000.0 * (FSettings.MaxStubLengthM > 0 ? FSettings.MaxStubLengthM : StubLengthLimitM(FSettings.BitRate));

    checkTerminations(piece, endA, endB, fromA, fromB, stubLimitMm);
    checkLengths(endA, endB, fromA, busMm);
    checkStubs(piece, stubLimitMm);
    checkImpedances();
  }

  void checkTerminations(const std::vector<int>& Piece, int EndA, int EndB, const PathTree& FromA,
                         const PathTree& FromB, double StubLimitMm) {
    std::vector<int> terminations;
    for (int v : Piece)
      if (terminated(v)) terminations.push_back(v);

    for (int v : terminations) {
      const std::uint16_t r = FGraph.NodeAt[static_cast<std::size_t>(v)]->FResistance;
      if (r < FSettings.TerminationMin || r > FSettings.TerminationMax) {
        TFinding& f = add(TSeverity::Error, "termination-value",
                          "The termination at " + nodeLabel(FGraph, v) + " is " + std::to_string(r) +
                              " ohms; it should be " + std::to_string(FSettings.TerminationMin) + " to " +
                              std::to_string(FSettings.TerminationMax) + " ohms (120 nominal)");
        addVertex(f, v);
      }
    }

    // A termination belongs to an end when it lies within a stub's length of it.
    auto nearEnd = [&](int V, const PathTree& End) {
      return static_cast<double>(End.Dist[static_cast<std::size_t>(V)].Mm) <= StubLimitMm;
    };
    std::vector<int> atA;
    std::vector<int> atB;
    std::vector<int> elsewhere;
    for (int v : terminations) {
      const bool a = nearEnd(v, FromA);
      const bool b = nearEnd(v, FromB);
      if (a && (!b || FromA.Dist[static_cast<std::size_t>(v)] < FromB.Dist[static_cast<std::size_t>(v)]))
        atA.push_back(v);
      else if (b)
        atB.push_back(v);
      else
        elsewhere.push_back(v);
    }
    // Beyond the first at each end, a termination is one too many.
    std::vector<int> extra;
    for (auto* end : {&atA, &atB})
      if (end->size() > 1) extra.insert(extra.end(), end->begin() + 1, end->end());

    std::vector<int> openEnds;
    if (atA.empty()) openEnds.push_back(EndA);
    if (atB.empty()) openEnds.push_back(EndB);

    if (terminations.size() > 2) {
      extra.insert(extra.end(), elsewhere.begin(), elsewhere.end());
      TFinding& f = add(TSeverity::Error, "termination-count",
                        std::to_string(terminations.size()) + " terminations; a bus has exactly two, one at each end");
      for (int v : extra) addVertex(f, v);
      elsewhere.clear();
    } else {
      for (int v : extra) {
        TFinding& f = add(TSeverity::Error, "termination-place",
                          "Both terminations are at the same end of the bus (" + nodeLabel(FGraph, v) + ")");
        addVertex(f, v);
      }
    }
    // A termination in the wrong place is paired with the end that lacks it.
    for (int v : elsewhere) {
      std::string message = "The termination at " + nodeLabel(FGraph, v) + " is not at an end of the bus";
      TFinding& f = add(TSeverity::Error, "termination-place", message);
      addVertex(f, v);
      if (!openEnds.empty()) {
        f.Message += "; the end at " + nodeLabel(FGraph, openEnds.front()) + " has none";
        addVertex(f, openEnds.front());
        openEnds.erase(openEnds.begin());
      }
    }
    for (int v : openEnds) {
      TFinding& f = add(TSeverity::Error, "termination-missing",
                        "The end of the bus at " + nodeLabel(FGraph, v) + " has no termination");
      addVertex(f, v);
    }
    if (atA.size() == 1 && atB.size() == 1)
      FMainPath = {atA.front(), atB.front()};
    else
      FMainPath = {EndA, EndB};
  }

  void checkLengths(int EndA, int EndB, const PathTree& FromA, double BusMm) {
    const double limitMm =
        1000.0 * (FSettings.MaxBusLengthM > 0 ? FSettings.MaxBusLengthM : BusLengthLimitM(FSettings.BitRate));
    if (BusMm > limitMm) {
      TFinding& f = add(TSeverity::Error, "bus-length",
                        "The bus is " + metres(BusMm) + " long from " + nodeLabel(FGraph, EndA) + " to " +
                            nodeLabel(FGraph, EndB) + "; at " + rate(FSettings.BitRate) + " it may be at most " +
                            metres(limitMm));
      for (int w : wiresBack(FGraph, FromA, EndB)) addWire(f, w);
    } else if (static_cast<double>(FTotalMm) > limitMm) {
      add(TSeverity::Warning, "cable-length",
          "All wires together are " + metres(static_cast<double>(FTotalMm)) + " long, more than the " +
              metres(limitMm) + " a bus may span at " + rate(FSettings.BitRate));
    }
  }

  void checkStubs(const std::vector<int>& Piece, double StubLimitMm) {
    // The main line runs between the terminations (or between the ends of the longest path).
    const PathTree fromStart = shortestPaths(FGraph, {FMainPath.first});
    std::vector<char> onLine(FGraph.Points.size(), 0);
    std::vector<char> lineWire(FGraph.Wires.size(), 0);
    onLine[static_cast<std::size_t>(FMainPath.first)] = 1;
    for (int w : wiresBack(FGraph, fromStart, FMainPath.second)) {
      lineWire[static_cast<std::size_t>(w)] = 1;
      onLine[static_cast<std::size_t>(FGraph.Wires[static_cast<std::size_t>(w)].A)] = 1;
      onLine[static_cast<std::size_t>(FGraph.Wires[static_cast<std::size_t>(w)].B)] = 1;
    }
    std::vector<int> line;
    for (int v : Piece)
      if (onLine[static_cast<std::size_t>(v)]) line.push_back(v);
    const PathTree fromLine = shortestPaths(FGraph, line);

    double stubTotal = 0;
    for (std::size_t w = 0; w < FGraph.Wires.size(); ++w) {
      const WireInfo& wire = FGraph.Wires[w];
      if (!lineWire[w] && fromLine.Dist[static_cast<std::size_t>(wire.A)].Reached()) stubTotal += wire.LengthMm;
    }
    // Every branch ends in a leaf; its distance from the line is the stub's length.
    for (int v : Piece) {
      if (onLine[static_cast<std::size_t>(v)] || FGraph.Degree(v) != 1) continue;
      const double mm = static_cast<double>(fromLine.Dist[static_cast<std::size_t>(v)].Mm);
      if (mm <= StubLimitMm) continue;
      TFinding& f = add(TSeverity::Warning, "stub-length",
                        "The stub to " + nodeLabel(FGraph, v) + " is " + metres(mm) + " long; at " +
                            rate(FSettings.BitRate) + " a stub should be at most " + metres(StubLimitMm));
      addVertex(f, v);
      for (int w : wiresBack(FGraph, fromLine, v)) addWire(f, w);
    }
    const double totalLimitMm =
        FSettings.MaxTotalStubLengthM > 0 ? 1000.0 * FSettings.MaxTotalStubLengthM : 10.0 * StubLimitMm;
    if (stubTotal > totalLimitMm)
      add(TSeverity::Warning, "stub-total",
          "The stubs together are " + metres(stubTotal) + " long; at " + rate(FSettings.BitRate) +
              " they should stay below " + metres(totalLimitMm));
  }

  void checkImpedances() {
    // Lines should match the terminations they run between (120 ohms when there are none).
    double reference = 0;
    int count = 0;
    for (int v : FPieces[FMain])
      if (terminated(v)) {
        reference += FGraph.NodeAt[static_cast<std::size_t>(v)]->FResistance;
        ++count;
      }
    reference = count > 0 ? reference / count : 120.0;
    for (std::size_t w = 0; w < FGraph.Wires.size(); ++w) {
      const std::uint16_t z = FGraph.Wires[w].Wire->FImpedance;
      if (std::fabs(z - reference) <= FSettings.ImpedanceTolerance * reference) continue;
      char ref[16];
      std::snprintf(ref, sizeof ref, "%.0f", reference);
      TFinding& f =
          add(TSeverity::Warning, "impedance",
              "The wire from " + nodeLabel(FGraph, FGraph.Wires[w].A) + " to " + nodeLabel(FGraph, FGraph.Wires[w].B) +
                  " has " + std::to_string(z) + " ohms; the terminations have " + ref + " ohms");
      addWire(f, static_cast<int>(w));
    }
  }

  const TCanNodes& FNet;
  const TCheckSettings& FSettings;
  TGraph FGraph;
  std::vector<std::vector<int>> FPieces;
  std::size_t FMain = 0;
  std::uint64_t FTotalMm = 0;
  std::pair<int, int> FMainPath{0, 0};
  std::vector<TFinding> FFindings;
};

}  // namespace

double BusLengthLimitM(std::uint32_t BitRate) {
  static constexpr std::pair<double, double> kTable[] = {{125000, 500}, {250000, 250}, {500000, 100}, {1000000, 40}};
  const double r = std::max<double>(BitRate, 1);
  if (r <= kTable[0].first) return kTable[0].second * kTable[0].first / r;
  if (r >= kTable[3].first) return kTable[3].second * kTable[3].first / r;
  for (std::size_t i = 0; i + 1 < std::size(kTable); ++i) {
    const auto [r0, l0] = kTable[i];
    const auto [r1, l1] = kTable[i + 1];
    if (r > r1) continue;
    const double t = std::log(r / r0) / std::log(r1 / r0);
    return std::exp(std::log(l0) + t * (std::log(l1) - std::log(l0)));
  }
  return kTable[3].second;
}

double StubLengthLimitM(std::uint32_t BitRate) { return 0.3 * 1000000.0 / std::max<double>(BitRate, 1); }

std::vector<TFinding> CheckBus(const TCanNodes& Net, const TCheckSettings& Settings) {
  return Checker(Net, Settings).Run();
}

const char* SeverityName(TSeverity Severity) {
  switch (Severity) {
    case TSeverity::Error:
      return "error";
    case TSeverity::Warning:
      return "warning";
    case TSeverity::Note:
      return "note";
  }
  return "note";
}

}  // namespace busweave

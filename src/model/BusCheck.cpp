#include "model/BusCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

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
// whose lengths are not set yet still has a farthest point.
struct Distance {
  std::uint64_t Mm = std::numeric_limits<std::uint64_t>::max();
  std::uint32_t Hops = 0;
  friend bool operator<(const Distance& L, const Distance& R) { return L.Mm != R.Mm ? L.Mm < R.Mm : L.Hops < R.Hops; }
  bool Reached() const { return Mm != std::numeric_limits<std::uint64_t>::max(); }
};

// Distances from one vertex in a piece without a loop: every vertex has one path to it, so a
// plain walk finds them.
struct TreeWalk {
  std::vector<Distance> Dist;
  std::vector<int> Via;  // wire that leads back towards the start, -1 at the start
};

void walkTree(const TGraph& Graph, int Start, TreeWalk& Walk) {
  Walk.Dist.assign(Graph.Points.size(), Distance{});
  Walk.Via.assign(Graph.Points.size(), -1);
  Walk.Dist[static_cast<std::size_t>(Start)] = {0, 0};
  std::vector<int> stack = {Start};
  while (!stack.empty()) {
    const int v = stack.back();
    stack.pop_back();
    const Distance here = Walk.Dist[static_cast<std::size_t>(v)];
    for (const Edge* e = Graph.begin(v); e != Graph.end(v); ++e) {
      Distance& next = Walk.Dist[static_cast<std::size_t>(e->To)];
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
std::vector<int> wiresBack(const TGraph& Graph, const std::vector<int>& Via, int From) {
  std::vector<int> wires;
  for (int v = From; Via[static_cast<std::size_t>(v)] >= 0;) {
    const int w = Via[static_cast<std::size_t>(v)];
    wires.push_back(w);
    const WireInfo& wire = Graph.Wires[static_cast<std::size_t>(w)];
    v = wire.A == v ? wire.B : wire.A;
  }
  return wires;
}

// Whole millimetres as metres, with the millimetre shown when it is not a whole centimetre.
std::string metres(std::uint64_t Mm) {
  char buffer[48];
  const auto whole = static_cast<unsigned long long>(Mm / 1000);
  const auto rest = static_cast<unsigned long long>(Mm % 1000);
  if (rest % 10 == 0)
    std::snprintf(buffer, sizeof buffer, "%llu.%02llu m", whole, rest / 10);
  else
    std::snprintf(buffer, sizeof buffer, "%llu.%03llu m", whole, rest);
  return buffer;
}

std::string rate(std::uint32_t BitRate) {
  return BitRate % 1000000 == 0 ? std::to_string(BitRate / 1000000) + " Mbit/s"
         : BitRate % 1000 == 0  ? std::to_string(BitRate / 1000) + " kbit/s"
                                : std::to_string(BitRate) + " bit/s";
}

std::string ohms(unsigned Low, unsigned High) {
  std::string text = std::to_string(Low);
  text += " to ";
  text += std::to_string(High);
  text += " ohms";
  return text;
}

std::uint64_t wholeMm(double Metres) { return static_cast<std::uint64_t>(std::llround(Metres * 1000.0)); }

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

// What a node's resistance makes of it.
enum class Load : std::uint8_t { None, Termination, WrongTermination, Station };

class Checker {
 public:
  Checker(const TCanNodes& Net, const TCheckSettings& Settings)
      : FNet(Net), FSettings(Settings), FGraph(buildGraph(Net)) {}

  std::vector<TFinding> Run() {
    if (FGraph.Wires.empty()) {
      // Nodes without a line between them carry no message.
      TFinding& f = add(TSeverity::Error, "empty",
                        FGraph.Points.empty()
                            ? "The network is empty; a bus is a line of wires with a termination at each end"
                            : "The network has no wires; a bus is a line of wires with a termination at each end");
      for (std::size_t v = 0; v < FGraph.Points.size(); ++v) addVertex(f, static_cast<int>(v));
      return std::move(FFindings);
    }
    findPieces();
    checkWires();
    checkStations();
    checkTerminationValues();
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
  std::string label(int V) const { return nodeLabel(FGraph, V); }
  const WireInfo& wire(int W) const { return FGraph.Wires[static_cast<std::size_t>(W)]; }

  Load load(int V) const {
    const TNode* node = FGraph.NodeAt[static_cast<std::size_t>(V)];
    if (!node || node->FResistance == FNet.FNoZL) return Load::None;
    const std::uint16_t r = node->FResistance;
    if (r >= FSettings.TerminationMin && r <= FSettings.TerminationMax) return Load::Termination;
    // Below the range no station's input is that low: it is a termination, or a short.
    if (r < FSettings.TerminationMin || r <= FSettings.TerminationNearMax) return Load::WrongTermination;
    return Load::Station;
  }
  bool terminated(int V) const {
    const Load l = load(V);
    return l == Load::Termination || l == Load::WrongTermination;
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
      const WireInfo& info = FGraph.Wires[w];
      total += info.LengthMm;
      if (info.LengthMm == 0) {
        TFinding& f = add(TSeverity::Error, "wire-length",
                          "The wire from " + label(info.A) + " to " + label(info.B) + " has no length (0 mm)");
        addWire(f, static_cast<int>(w));
      }
      for (int end : {info.A, info.B})
        if (!FGraph.NodeAt[static_cast<std::size_t>(end)]) {
          TFinding& f = add(TSeverity::Error, "wire-end", "A wire ends at " + label(end) + " without a node");
          addWire(f, static_cast<int>(w));
          addVertex(f, end);
        }
      // The cable on its own; how the terminations match it is a rule of its own.
      const std::uint16_t z = info.Wire->FImpedance;
      if (z < FSettings.CableMin || z > FSettings.CableMax) {
        TFinding& f =
            add(TSeverity::Warning, "impedance",
                "The wire from " + label(info.A) + " to " + label(info.B) + " has " + std::to_string(z) +
                    " ohms; CAN cable has " + ohms(FSettings.CableMin, FSettings.CableMax) + " (120 nominal)");
        addWire(f, static_cast<int>(w));
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
                          "The driver at " + label(static_cast<int>(v)) + " sits on no wire");
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

  void checkTerminationValues() {
    for (std::size_t v = 0; v < FGraph.Points.size(); ++v) {
      if (load(static_cast<int>(v)) != Load::WrongTermination) continue;
      const std::uint16_t r = FGraph.NodeAt[v]->FResistance;
      std::string message = "The termination at " + label(static_cast<int>(v)) + " is " + std::to_string(r) +
                            " ohms; it should be " + ohms(FSettings.TerminationMin, FSettings.TerminationMax) +
                            " (120 nominal)";
      if (r > FSettings.TerminationMax)
        message += ", and a station's input more than " + std::to_string(FSettings.TerminationNearMax) + " ohms";
      TFinding& f = add(TSeverity::Error, "termination-value", std::move(message));
      addVertex(f, static_cast<int>(v));
    }
  }

  void checkMainPiece() {
    const std::vector<int>& piece = FPieces[FMain];
    std::size_t wires = 0;
    for (int v : piece) wires += FGraph.Degree(v);
    wires /= 2;
    if (wires == 0) return;  // a single node beside the wires: the pieces say it
    if (wires >= piece.size()) {
      reportLoop(piece);
      return;  // without one line there is no trunk to measure
    }

    // The trunk runs between the two terminations farthest apart; without two, from the one
    // there is (or from either end of the longest path) to the point farthest from it.
    std::vector<int> terminations;
    for (int v : piece)
      if (terminated(v)) terminations.push_back(v);
    TreeWalk walk;
    const int start = terminations.empty() ? piece.front() : terminations.front();
    walkTree(FGraph, start, walk);
    const int a = terminations.size() == 1 ? start : farthest(walk, terminations.empty() ? piece : terminations);
    if (a != start) walkTree(FGraph, a, walk);
    const int b = farthest(walk, terminations.size() >= 2 ? terminations : piece);
    const std::vector<int> trunk = wiresBack(FGraph, walk.Via, b);  // from b towards a
    const std::uint64_t trunkMm = walk.Dist[static_cast<std::size_t>(b)].Mm;

    if (terminations.size() > 2) {
      TFinding& f = add(
          TSeverity::Error, "termination-count",
          std::to_string(terminations.size()) + " terminations; a bus has exactly two, one at each end of its trunk");
      for (int v : terminations)
        if (v != a && v != b) addVertex(f, v);
    }
    for (int end : {a, b})
      if (!terminated(end)) {
        TFinding& f =
            add(TSeverity::Error, "termination-missing", "The end of the bus at " + label(end) + " has no termination");
        addVertex(f, end);
      }

    checkBranches(a, b, trunk);
    checkTrunkLength(a, b, trunk, trunkMm);
    checkTerminationMatch(a, trunk.back());
    checkTerminationMatch(b, trunk.front());
  }

  // A loop's wires are those left when the branches are taken off leaf by leaf.
  void reportLoop(const std::vector<int>& Piece) {
    std::vector<std::size_t> degree(FGraph.Points.size(), 0);
    std::vector<int> leaves;
    for (int v : Piece) {
      degree[static_cast<std::size_t>(v)] = FGraph.Degree(v);
      if (degree[static_cast<std::size_t>(v)] == 1) leaves.push_back(v);
    }
    while (!leaves.empty()) {
      const int v = leaves.back();
      leaves.pop_back();
      degree[static_cast<std::size_t>(v)] = 0;
      for (const Edge* e = FGraph.begin(v); e != FGraph.end(v); ++e)
        if (degree[static_cast<std::size_t>(e->To)] > 0 && --degree[static_cast<std::size_t>(e->To)] == 1)
          leaves.push_back(e->To);
    }
    TFinding& f = add(TSeverity::Error, "loop",
                      "The wires form a loop; a CAN bus is one line between two terminations with short stubs");
    for (int v : Piece)
      if (degree[static_cast<std::size_t>(v)] > 0) addVertex(f, v);
    for (std::size_t w = 0; w < FGraph.Wires.size(); ++w)
      if (degree[static_cast<std::size_t>(wire(static_cast<int>(w)).A)] > 0 &&
          degree[static_cast<std::size_t>(wire(static_cast<int>(w)).B)] > 0)
        addWire(f, static_cast<int>(w));
  }

  // Whatever hangs off the trunk is a stub, measured from the node where it leaves the trunk to
  // its farthest point. Beyond a termination a stub may go as far as anywhere else; a longer
  // one means the line goes on and the termination is not at its end.
  void checkBranches(int A, int B, const std::vector<int>& Trunk) {
    const std::uint64_t limitMm =
        FSettings.MaxStubLengthM > 0 ? wholeMm(FSettings.MaxStubLengthM) : StubLengthLimitMm(FSettings.BitRate);
    const std::size_t n = FGraph.Points.size();
    std::vector<char> trunkWire(FGraph.Wires.size(), 0);
    std::vector<int> trunkNodes = {B};
    for (int w : Trunk) {
      trunkWire[static_cast<std::size_t>(w)] = 1;
      const WireInfo& info = wire(w);
      trunkNodes.push_back(info.A == trunkNodes.back() ? info.B : info.A);
    }
    std::reverse(trunkNodes.begin(), trunkNodes.end());  // from A to B

    TreeWalk walk;
    walk.Dist.assign(n, Distance{});
    walk.Via.assign(n, -1);
    for (int v : trunkNodes) walk.Dist[static_cast<std::size_t>(v)] = {0, 0};
    std::uint64_t stubTotal = 0;
    std::vector<int> stack;
    std::vector<int> beyond[2];  // far ends of the long lines beyond the termination at A and at B
    for (int root : trunkNodes) {
      for (const Edge* first = FGraph.begin(root); first != FGraph.end(root); ++first) {
        if (trunkWire[static_cast<std::size_t>(first->Wire)]) continue;
        // One stub: walk it, keeping its farthest point and its wire length.
        int far = first->To;
        std::uint64_t wiresMm = wire(first->Wire).LengthMm;
        walk.Dist[static_cast<std::size_t>(far)] = {wiresMm, 1};
        walk.Via[static_cast<std::size_t>(far)] = first->Wire;
        stack.assign(1, far);
        while (!stack.empty()) {
          const int v = stack.back();
          stack.pop_back();
          const Distance here = walk.Dist[static_cast<std::size_t>(v)];
          if (walk.Dist[static_cast<std::size_t>(far)] < here) far = v;
          for (const Edge* e = FGraph.begin(v); e != FGraph.end(v); ++e) {
            Distance& next = walk.Dist[static_cast<std::size_t>(e->To)];
            if (next.Reached()) continue;
            const std::uint64_t mm = wire(e->Wire).LengthMm;
            next = {here.Mm + mm, here.Hops + 1};
            walk.Via[static_cast<std::size_t>(e->To)] = e->Wire;
            wiresMm += mm;
            stack.push_back(e->To);
          }
        }
        const std::uint64_t mm = walk.Dist[static_cast<std::size_t>(far)].Mm;
        const bool beyondEnd = (root == A || root == B) && terminated(root);
        if (mm <= limitMm) {
          stubTotal += wiresMm;
        } else if (beyondEnd) {
          beyond[root == A ? 0 : 1].push_back(far);
        } else {
          stubTotal += wiresMm;
          TFinding& f =
              add(TSeverity::Warning, "stub-length",
                  "The stub leaving the trunk at " + label(root) + " is " + metres(mm) + " long (to " + label(far) +
                      "); at " + rate(FSettings.BitRate) + " a stub should be at most " + metres(limitMm));
          addVertex(f, far);
          for (int w : wiresBack(FGraph, walk.Via, far)) addWire(f, w);
        }
      }
    }
    // One finding a termination, paired with the farthest end that has none.
    for (int side : {0, 1}) {
      std::vector<int>& ends = beyond[side];
      if (ends.empty()) continue;
      const int root = side == 0 ? A : B;
      std::stable_sort(ends.begin(), ends.end(), [&walk](int L, int R) {
        return walk.Dist[static_cast<std::size_t>(R)] < walk.Dist[static_cast<std::size_t>(L)];
      });
      std::string message = "The termination at " + label(root) + " is not at an end of the bus: the line goes on " +
                            metres(walk.Dist[static_cast<std::size_t>(ends.front())].Mm) + " beyond it to " +
                            label(ends.front()) + ", which has none";
      if (ends.size() > 1)
        message += ", and " + std::to_string(ends.size() - 1) + " more line(s) longer than a stub leave it";
      TFinding& f = add(TSeverity::Error, "termination-place", std::move(message));
      addVertex(f, root);
      for (int end : ends) {
        addVertex(f, end);
        for (int w : wiresBack(FGraph, walk.Via, end)) addWire(f, w);
      }
    }
    const std::uint64_t totalLimitMm =
        FSettings.MaxTotalStubLengthM > 0 ? wholeMm(FSettings.MaxTotalStubLengthM) : 10 * limitMm;
    if (stubTotal > totalLimitMm)
      add(TSeverity::Warning, "stub-total",
          "The stubs together are " + metres(stubTotal) + " long; at " + rate(FSettings.BitRate) +
              " they should stay below " + metres(totalLimitMm));
  }

  void checkTrunkLength(int A, int B, const std::vector<int>& Trunk, std::uint64_t TrunkMm) {
    const std::uint64_t limitMm =
        FSettings.MaxBusLengthM > 0 ? wholeMm(FSettings.MaxBusLengthM) : BusLengthLimitMm(FSettings.BitRate);
    if (TrunkMm > limitMm) {
      TFinding& f = add(TSeverity::Error, "bus-length",
                        "The bus is " + metres(TrunkMm) + " long from " + label(A) + " to " + label(B) + "; at " +
                            rate(FSettings.BitRate) + " it may be at most " + metres(limitMm));
      for (int w : Trunk) addWire(f, w);
    } else if (FTotalMm > limitMm) {
      add(TSeverity::Warning, "cable-length",
          "All wires together are " + metres(FTotalMm) + " long, more than the " + metres(limitMm) +
              " a bus may span at " + rate(FSettings.BitRate));
    }
  }

  // A termination should match the line it ends, whatever the cable's own range allows.
  void checkTerminationMatch(int End, int TrunkWire) {
    if (load(End) != Load::Termination) return;
    const double r = FGraph.NodeAt[static_cast<std::size_t>(End)]->FResistance;
    const double z = wire(TrunkWire).Wire->FImpedance;
    if (100.0 * std::fabs(r - z) <= FSettings.TerminationTolerancePercent * z) return;
    char tolerance[32];
    std::snprintf(tolerance, sizeof tolerance, "%g %%", FSettings.TerminationTolerancePercent);
    TFinding& f =
        add(TSeverity::Warning, "termination-match",
            "The termination at " + label(End) + " is " + std::to_string(static_cast<int>(r)) + " ohms on a line of " +
                std::to_string(static_cast<int>(z)) + " ohms; it should be within " + tolerance + " of the line");
    addVertex(f, End);
    addWire(f, TrunkWire);
  }

  const TCanNodes& FNet;
  const TCheckSettings& FSettings;
  TGraph FGraph;
  std::vector<std::vector<int>> FPieces;
  std::size_t FMain = 0;
  std::uint64_t FTotalMm = 0;
  std::vector<TFinding> FFindings;
};

// The usual figures: bit rate, longest trunk in millimetres.
constexpr std::pair<std::uint32_t, std::uint64_t> kBusTable[] = {{10000, 5000000}, {20000, 2500000}, {50000, 1000000},
                                                                 {125000, 500000}, {250000, 250000}, {500000, 100000},
                                                                 {800000, 50000},  {1000000, 40000}};

}  // namespace

std::uint64_t BusLengthLimitMm(std::uint32_t BitRate) {
  const auto& first = kBusTable[0];
  const auto& last = kBusTable[std::size(kBusTable) - 1];
  // Below the table the wire's resistance rather than the bit time limits the bus.
  if (BitRate <= first.first) return first.second;
  if (BitRate >= last.first)
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(last.second) * last.first / BitRate));
  for (std::size_t i = 0; i + 1 < std::size(kBusTable); ++i) {
    const auto [r0, l0] = kBusTable[i];
    const auto [r1, l1] = kBusTable[i + 1];
    if (BitRate == r0) return l0;
    if (BitRate > r1) continue;
    if (BitRate == r1) return l1;
    const double t = std::log(static_cast<double>(BitRate) / r0) / std::log(static_cast<double>(r1) / r0);
    const double mm = std::exp(std::log(static_cast<double>(l0)) +
                               t * (std::log(static_cast<double>(l1)) - std::log(static_cast<double>(l0))));
    return static_cast<std::uint64_t>(std::llround(mm));
  }
  return last.second;
}

std::uint64_t StubLengthLimitMm(std::uint32_t BitRate) {
  return static_cast<std::uint64_t>(std::llround(300.0 * 1000000.0 / std::max<std::uint32_t>(BitRate, 1)));
}

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

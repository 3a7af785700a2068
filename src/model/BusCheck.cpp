#include "model/BusCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "model/BusLayout.h"

namespace busweave {
namespace {

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
std::string nodeLabel(const TBusGraph& Graph, int V) {
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
      : FNet(Net), FSettings(Settings), FGraph(BusGraphOf(Net)) {}

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
  const TBusGraph::TWire& wire(int W) const { return FGraph.Wires[static_cast<std::size_t>(W)]; }

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
    FPieces = BusPiecesOf(FGraph);
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
      const TBusGraph::TWire& info = FGraph.Wires[w];
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
      const std::uint16_t z = info.Line->FImpedance;
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
    const std::size_t wires = WiresOfPiece(FGraph, piece);
    if (wires == 0) return;  // a single node beside the wires: the pieces say it
    if (wires >= piece.size()) {
      reportLoop(piece);
      return;  // without one line there is no trunk to measure
    }

    // The trunk and its stubs as the layout of the bus defines them (BusLayout.h), with the
    // terminations these settings see.
    std::vector<char> ended(FGraph.Points.size(), 0);
    std::vector<int> terminations;
    for (int v : piece)
      if (terminated(v)) {
        ended[static_cast<std::size_t>(v)] = 1;
        terminations.push_back(v);
      }
    const TGraphLayout layout = GraphLayoutOf(FGraph, piece, ended);
    const int a = layout.EndA;
    const int b = layout.EndB;

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

    checkStubs(layout);
    checkTrunkLength(layout);
    checkTerminationMatch(a, layout.Trunk.front());
    checkTerminationMatch(b, layout.Trunk.back());
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
      for (const TBusGraph::TEdge* e = FGraph.begin(v); e != FGraph.end(v); ++e)
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

  // Each stub is measured from the node where it leaves the trunk to its farthest point. Beyond
  // a termination a stub may go as far as anywhere else; a longer one means the line goes on and
  // the termination is not at its end.
  void checkStubs(const TGraphLayout& Layout) {
    const std::uint64_t limitMm =
        FSettings.MaxStubLengthM > 0 ? wholeMm(FSettings.MaxStubLengthM) : StubLengthLimitMm(FSettings.BitRate);
    std::uint64_t stubTotal = 0;
    std::vector<const TGraphStub*> beyond[2];  // the long lines beyond the termination at A and at B
    for (const TGraphStub& stub : Layout.Stubs) {
      const std::uint64_t mm = stub.Length.Mm;
      const bool beyondEnd = (stub.Root == Layout.EndA || stub.Root == Layout.EndB) && terminated(stub.Root);
      if (mm <= limitMm) {
        stubTotal += stub.WiresMm;
      } else if (beyondEnd) {
        beyond[stub.Root == Layout.EndA ? 0 : 1].push_back(&stub);
      } else {
        stubTotal += stub.WiresMm;
        TFinding& f = add(TSeverity::Warning, "stub-length",
                          "The stub leaving the trunk at " + label(stub.Root) + " is " + metres(mm) + " long (to " +
                              label(stub.Far) + "); at " + rate(FSettings.BitRate) + " a stub should be at most " +
                              metres(limitMm));
        addVertex(f, stub.Far);
        addWiresBack(f, stub);
      }
    }
    // One finding a termination, paired with the farthest end that has none.
    for (int side : {0, 1}) {
      std::vector<const TGraphStub*>& ends = beyond[side];
      if (ends.empty()) continue;
      const int root = side == 0 ? Layout.EndA : Layout.EndB;
      std::stable_sort(ends.begin(), ends.end(),
                       [](const TGraphStub* L, const TGraphStub* R) { return R->Length < L->Length; });
      std::string message = "The termination at " + label(root) + " is not at an end of the bus: the line goes on " +
                            metres(ends.front()->Length.Mm) + " beyond it to " + label(ends.front()->Far) +
                            ", which has none";
      if (ends.size() > 1)
        message += ", and " + std::to_string(ends.size() - 1) + " more line(s) longer than a stub leave it";
      TFinding& f = add(TSeverity::Error, "termination-place", std::move(message));
      addVertex(f, root);
      for (const TGraphStub* end : ends) {
        addVertex(f, end->Far);
        addWiresBack(f, *end);
      }
    }
    const std::uint64_t totalLimitMm =
        FSettings.MaxTotalStubLengthM > 0 ? wholeMm(FSettings.MaxTotalStubLengthM) : 10 * limitMm;
    if (stubTotal > totalLimitMm)
      add(TSeverity::Warning, "stub-total",
          "The stubs together are " + metres(stubTotal) + " long; at " + rate(FSettings.BitRate) +
              " they should stay below " + metres(totalLimitMm));
  }

  // A stub's wires from its far end back to the trunk.
  void addWiresBack(TFinding& F, const TGraphStub& Stub) {
    for (auto w = Stub.Wires.rbegin(); w != Stub.Wires.rend(); ++w) addWire(F, *w);
  }

  void checkTrunkLength(const TGraphLayout& Layout) {
    const std::uint64_t limitMm =
        FSettings.MaxBusLengthM > 0 ? wholeMm(FSettings.MaxBusLengthM) : BusLengthLimitMm(FSettings.BitRate);
    if (Layout.TrunkMm > limitMm) {
      TFinding& f =
          add(TSeverity::Error, "bus-length",
              "The bus is " + metres(Layout.TrunkMm) + " long from " + label(Layout.EndA) + " to " +
                  label(Layout.EndB) + "; at " + rate(FSettings.BitRate) + " it may be at most " + metres(limitMm));
      // From B back to A.
      for (auto w = Layout.Trunk.rbegin(); w != Layout.Trunk.rend(); ++w) addWire(f, *w);
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
    const double z = wire(TrunkWire).Line->FImpedance;
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
  TBusGraph FGraph;
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

#include "model/BusLayout.h"

#include <algorithm>
#include <map>

namespace busweave {
namespace {

struct TLink {
  int To;
  int Wire;
};

struct TWires {
  std::vector<TPoint> Points;
  std::vector<std::vector<TLink>> Links;
  std::vector<const TTrmLine*> Lines;
  std::vector<std::string> Keys;
  std::vector<std::pair<int, int>> Ends;  // per wire, its two points
  std::map<std::pair<std::int32_t, std::int32_t>, int> Index;
};

TWires wiresOf(const TCanNodes& Net) {
  TWires g;
  const auto vertex = [&](TPoint P) {
    const auto [it, added] = g.Index.try_emplace({P.X, P.Y}, static_cast<int>(g.Points.size()));
    if (added) {
      g.Points.push_back(P);
      g.Links.emplace_back();
    }
    return it->second;
  };
  for (int i = 0; i < Net.Count(); ++i)
    if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      const int a = vertex(wire->FStart);
      const int b = vertex(wire->FEnd);
      const int w = static_cast<int>(g.Lines.size());
      g.Lines.push_back(wire);
      g.Keys.push_back(Net.Strings(i));
      g.Ends.emplace_back(a, b);
      g.Links[static_cast<std::size_t>(a)].push_back({b, w});
      g.Links[static_cast<std::size_t>(b)].push_back({a, w});
    }
  return g;
}

// Millimetres from Start to every point, and the wire each was reached by; -1 where unreached.
struct TWalk {
  std::vector<std::int64_t> Mm;
  std::vector<int> Via;
};

TWalk walk(const TWires& G, int Start, const std::vector<char>* Blocked = nullptr) {
  TWalk w{std::vector<std::int64_t>(G.Points.size(), -1), std::vector<int>(G.Points.size(), -1)};
  w.Mm[static_cast<std::size_t>(Start)] = 0;
  std::vector<int> stack{Start};
  while (!stack.empty()) {
    const int v = stack.back();
    stack.pop_back();
    for (const TLink& l : G.Links[static_cast<std::size_t>(v)]) {
      if (Blocked && (*Blocked)[static_cast<std::size_t>(l.Wire)]) continue;
      if (w.Mm[static_cast<std::size_t>(l.To)] >= 0) continue;
      w.Mm[static_cast<std::size_t>(l.To)] =
          w.Mm[static_cast<std::size_t>(v)] + G.Lines[static_cast<std::size_t>(l.Wire)]->FLength;
      w.Via[static_cast<std::size_t>(l.To)] = l.Wire;
      stack.push_back(l.To);
    }
  }
  return w;
}

int farthestOf(const TWalk& W) {
  int best = 0;
  for (std::size_t v = 0; v < W.Mm.size(); ++v)
    if (W.Mm[v] > W.Mm[static_cast<std::size_t>(best)]) best = static_cast<int>(v);
  return best;
}

// The wires of W's walk back from V to its start, nearest V first.
std::vector<int> pathBack(const TWires& G, const TWalk& W, int V) {
  std::vector<int> wires;
  while (W.Via[static_cast<std::size_t>(V)] >= 0) {
    const int wire = W.Via[static_cast<std::size_t>(V)];
    wires.push_back(wire);
    for (const TLink& l : G.Links[static_cast<std::size_t>(V)])
      if (l.Wire == wire) V = l.To;
  }
  return wires;
}

}  // namespace

std::optional<TBusLayout> BusLayoutOf(const TCanNodes& Net) {
  const TWires g = wiresOf(Net);
  if (g.Lines.empty() || g.Lines.size() + 1 != g.Points.size()) return std::nullopt;  // a loop, or apart
  const TWalk first = walk(g, 0);
  if (std::any_of(first.Mm.begin(), first.Mm.end(), [](std::int64_t Mm) { return Mm < 0; })) return std::nullopt;
  // The trunk runs between the two terminations at line ends farthest apart; with one such,
  // from it to the point farthest from it; with none, between the two points farthest apart.
  std::vector<int> endTerminations;
  for (int i = 0; i < Net.Count(); ++i)
    if (const TNode* node = Net.NodeAtIndex(i); node && node->FResistance <= kTerminationCeiling) {
      const auto at = g.Index.find({node->FPos.X, node->FPos.Y});
      if (at != g.Index.end() && g.Links[static_cast<std::size_t>(at->second)].size() == 1)
        endTerminations.push_back(at->second);
    }
  int a = endTerminations.size() == 1 ? endTerminations.front() : farthestOf(first);
  int b = farthestOf(walk(g, a));
  if (endTerminations.size() >= 2) {
    std::int64_t longest = -1;
    for (int from : endTerminations) {
      const TWalk w = walk(g, from);
      for (int to : endTerminations)
        if (w.Mm[static_cast<std::size_t>(to)] > longest) {
          longest = w.Mm[static_cast<std::size_t>(to)];
          a = from;
          b = to;
        }
    }
  }
  const TWalk fromA = walk(g, a);
  TBusLayout layout;
  layout.EndA = g.Points[static_cast<std::size_t>(a)];
  layout.EndB = g.Points[static_cast<std::size_t>(b)];
  layout.TrunkMm = static_cast<std::uint64_t>(fromA.Mm[static_cast<std::size_t>(b)]);
  std::vector<int> trunk = pathBack(g, fromA, b);
  std::reverse(trunk.begin(), trunk.end());
  std::vector<char> blocked(g.Lines.size(), 0);
  std::vector<char> trunkPoint(g.Points.size(), 0);
  trunkPoint[static_cast<std::size_t>(a)] = 1;
  for (int w : trunk) {
    blocked[static_cast<std::size_t>(w)] = 1;
    trunkPoint[static_cast<std::size_t>(g.Ends[static_cast<std::size_t>(w)].first)] = 1;
    trunkPoint[static_cast<std::size_t>(g.Ends[static_cast<std::size_t>(w)].second)] = 1;
    layout.Trunk.push_back(g.Keys[static_cast<std::size_t>(w)]);
  }
  // Every wire that leaves a trunk point off the trunk starts a stub.
  for (std::size_t v = 0; v < g.Points.size(); ++v) {
    if (!trunkPoint[v]) continue;
    for (const TLink& l : g.Links[v]) {
      if (blocked[static_cast<std::size_t>(l.Wire)]) continue;
      std::vector<char> away = blocked;
      away[static_cast<std::size_t>(l.Wire)] = 1;
      const TWalk out = walk(g, l.To, &away);
      const int far = farthestOf(out);
      TBusStub stub;
      stub.Root = g.Points[v];
      stub.Far = g.Points[static_cast<std::size_t>(far)];
      stub.LengthMm = g.Lines[static_cast<std::size_t>(l.Wire)]->FLength +
                      static_cast<std::uint64_t>(out.Mm[static_cast<std::size_t>(far)]);
      stub.Wires.push_back(g.Keys[static_cast<std::size_t>(l.Wire)]);
      std::vector<int> rest = pathBack(g, out, far);
      for (auto it = rest.rbegin(); it != rest.rend(); ++it)
        stub.Wires.push_back(g.Keys[static_cast<std::size_t>(*it)]);
      layout.Stubs.push_back(std::move(stub));
    }
  }
  for (int i = 0; i < Net.Count(); ++i)
    if (const TNode* node = Net.NodeAtIndex(i); node && node->FResistance <= kTerminationCeiling)
      layout.Terminations.push_back(node->FPos);
  return layout;
}

const TBusStub* StubTo(const TBusLayout& Layout, TPoint P) {
  for (const TBusStub& stub : Layout.Stubs)
    if (stub.Far == P) return &stub;
  return nullptr;
}

}  // namespace busweave

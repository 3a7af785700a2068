#include "verdict/BusAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/Interpolation.h"

namespace busweave {
namespace {

struct TPoint2 {
  double T;
  double V;
};

// Where the straight line from A to B reaches Level.
double crossingTime(TPoint2 A, TPoint2 B, double Level) { return LineCrossing(A.T, A.V, B.T, B.V, Level); }

bool validFor(TBusEdge Edge, double V, const TThresholds& Th) {
  return Edge == TBusEdge::Dominant ? V >= Th.Dominant : V <= Th.Recessive;
}

// The opposite threshold reached: what a receiver would take for the other level.
bool oppositeFor(TBusEdge Edge, double V, const TThresholds& Th) {
  return Edge == TBusEdge::Dominant ? V <= Th.Recessive : V >= Th.Dominant;
}

double levelOf(TBusEdge Edge, const TThresholds& Th) { return Edge == TBusEdge::Dominant ? Th.Dominant : Th.Recessive; }

}  // namespace

const char* EdgeName(TBusEdge Edge) { return Edge == TBusEdge::Dominant ? "dominant" : "recessive"; }

const char* PhaseName(TBusPhase Phase) { return Phase == TBusPhase::Arbitration ? "arbitration" : "data"; }

std::optional<double> FirstCrossing(const std::vector<double>& Time, const std::vector<double>& Volts, TBusEdge Edge,
                                    double From, double Until, const TThresholds& Thresholds) {
  if (Time.empty() || Volts.size() != Time.size() || From > Time.back()) return std::nullopt;
  TPoint2 previous{From, ValueBetween(Time, Volts, From)};
  // A node still in this edge's level has not yet seen the edge before it (a bus longer than a
  // bit): its crossing comes after it has left that level.
  bool left = !validFor(Edge, previous.V, Thresholds);
  for (auto i = static_cast<std::size_t>(std::upper_bound(Time.begin(), Time.end(), From) - Time.begin());
       i < Time.size() && previous.T < Until; ++i) {
    const TPoint2 point{Time[i], Volts[i]};
    const bool valid = validFor(Edge, point.V, Thresholds);
    if (valid && left) {
      const double t = crossingTime(previous, point, levelOf(Edge, Thresholds));
      return t < Until ? std::optional<double>(t) : std::nullopt;
    }
    left = left || !valid;
    previous = point;
  }
  return std::nullopt;
}

void CountMaxima(TBusVerdict& Verdict) {
  Verdict.MaxArbitrationRate = Verdict.MaxDataRate = 0;
  for (const TRateVerdict& r : Verdict.Rates)
    if (r.Works) {
      std::int64_t& best = r.Phase == TBusPhase::Arbitration ? Verdict.MaxArbitrationRate : Verdict.MaxDataRate;
      best = std::max(best, r.BitRate);
    }
}

TEdgeResponse MeasureResponse(const std::vector<double>& Time, const std::vector<double>& Volts, TBusEdge Edge,
                              double Crossing, double BitEnd, const TThresholds& Thresholds) {
  TEdgeResponse response;
  response.Crossing = Crossing;
  if (Time.empty() || Volts.size() != Time.size()) return response;
  const double end = std::max(Crossing, std::min(BitEnd, Time.back()));
  // The bit as a polyline: the crossing, the points within, and the bit's end.
  std::vector<TPoint2> bit{{Crossing, levelOf(Edge, Thresholds)}};
  for (auto i = static_cast<std::size_t>(std::upper_bound(Time.begin(), Time.end(), Crossing) - Time.begin());
       i < Time.size() && Time[i] < end; ++i)
    bit.push_back({Time[i], Volts[i]});
  const double final = ValueBetween(Time, Volts, end);
  if (end > Crossing) bit.push_back({end, final});

  double settledAt = Crossing;
  bool settled = true;
  for (std::size_t i = 1; i < bit.size(); ++i) {
    const bool wasValid = validFor(Edge, bit[i - 1].V, Thresholds);
    const bool isValid = validFor(Edge, bit[i].V, Thresholds);
    if (!isValid) settled = false;
    if (!wasValid && isValid) {
      settled = true;
      settledAt = crossingTime(bit[i - 1], bit[i], levelOf(Edge, Thresholds));
    }
    if (!response.FalseEdge && oppositeFor(Edge, bit[i].V, Thresholds)) {
      const double level = Edge == TBusEdge::Dominant ? Thresholds.Recessive : Thresholds.Dominant;
      response.FalseEdge = crossingTime(bit[i - 1], bit[i], level) - Crossing;
    }
  }
  if (settled) response.Settle = settledAt - Crossing;

  // Overshoot goes past the final level the way the edge goes; undershoot swings back after it.
  const double direction = Edge == TBusEdge::Dominant ? 1.0 : -1.0;
  std::size_t peak = 0;
  for (std::size_t i = 1; i < bit.size(); ++i)
    if (direction * bit[i].V > direction * bit[peak].V) peak = i;
  response.Overshoot = std::max(0.0, direction * (bit[peak].V - final));
  double back = final;
  for (std::size_t i = peak; i < bit.size(); ++i)
    back = direction > 0 ? std::min(back, bit[i].V) : std::max(back, bit[i].V);
  response.Undershoot = std::max(0.0, direction * (final - back));
  return response;
}

}  // namespace busweave

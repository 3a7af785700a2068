#include "verdict/BitDecoding.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/Interpolation.h"

namespace busweave {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A response has settled once it stays this close to its last value (V).
constexpr double kSettledVolts = 0.5e-3;

TBitRead readOf(double Volts, const TThresholds& Th) {
  if (Volts >= Th.Dominant) return TBitRead::Dominant;
  if (Volts <= Th.Recessive) return TBitRead::Recessive;
  return TBitRead::Undefined;
}

bool validFor(bool Dominant, double Volts, const TThresholds& Th) {
  return Dominant ? Volts >= Th.Dominant : Volts <= Th.Recessive;
}

double crossing(double T0, double V0, double T1, double V1, double Level) {
  return LineCrossing(T0, V0, T1, V1, Level);
}

// The recessive-to-dominant changes of a receiver's comparator (dominant at the dominant
// threshold, recessive again only at the recessive one), interpolated between points.
std::vector<double> dominantChanges(const TWave& Trace, const TThresholds& Th) {
  std::vector<double> changes;
  if (Trace.Time.empty()) return changes;
  bool dominant = Trace.Volts.front() >= Th.Dominant;
  for (std::size_t i = 1; i < Trace.Time.size(); ++i) {
    const double v = Trace.Volts[i];
    if (!dominant && v >= Th.Dominant) {
      changes.push_back(crossing(Trace.Time[i - 1], Trace.Volts[i - 1], Trace.Time[i], v, Th.Dominant));
      dominant = true;
    } else if (dominant && v <= Th.Recessive) {
      dominant = false;
    }
  }
  return changes;
}

std::size_t firstAfter(const TWave& Trace, double T) {
  return static_cast<std::size_t>(std::upper_bound(Trace.Time.begin(), Trace.Time.end(), T) - Trace.Time.begin());
}

// The stretch around Sample (at most Reach either way) in which the trace reads Dominant.
std::pair<double, double> validStretch(const TWave& Trace, double Sample, bool Dominant, double Reach,
                                       const TThresholds& Th) {
  const double level = Dominant ? Th.Dominant : Th.Recessive;
  double from = Sample - Reach;
  double until = Sample + Reach;
  const std::size_t after = firstAfter(Trace, Sample);
  double t1 = Sample;
  double v1 = WaveValue(Trace, Sample);
  for (std::size_t i = after; i-- > 0 && t1 > from;) {
    if (!validFor(Dominant, Trace.Volts[i], Th)) {
      from = std::max(from, crossing(Trace.Time[i], Trace.Volts[i], t1, v1, level));
      break;
    }
    t1 = Trace.Time[i];
    v1 = Trace.Volts[i];
  }
  double t0 = Sample;
  double v0 = WaveValue(Trace, Sample);
  for (std::size_t i = after; i < Trace.Time.size() && t0 < until; ++i) {
    if (!validFor(Dominant, Trace.Volts[i], Th)) {
      until = std::min(until, crossing(t0, v0, Trace.Time[i], Trace.Volts[i], level));
      break;
    }
    t0 = Trace.Time[i];
    v0 = Trace.Volts[i];
  }
  return {from, until};
}

// When the trace last became valid for the expected level in [From, Until); none when it is not
// valid at Until.
std::optional<double> validFrom(const TWave& Trace, bool Dominant, double From, double Until, const TThresholds& Th) {
  if (!validFor(Dominant, WaveValue(Trace, Until), Th)) return std::nullopt;
  const double level = Dominant ? Th.Dominant : Th.Recessive;
  double t1 = Until;
  double v1 = WaveValue(Trace, Until);
  for (std::size_t i = firstAfter(Trace, Until); i-- > 0;) {
    if (Trace.Time[i] < From) break;
    if (!validFor(Dominant, Trace.Volts[i], Th)) return crossing(Trace.Time[i], Trace.Volts[i], t1, v1, level);
    t1 = Trace.Time[i];
    v1 = Trace.Volts[i];
  }
  return validFor(Dominant, WaveValue(Trace, From), Th) ? From : t1;
}

// The bit whose TXD edge began the run of equal bits that Bit belongs to.
std::size_t runStart(const TBitStream& Stream, std::size_t Bit) {
  while (Bit > 0 && Stream[Bit - 1] == Stream[Bit]) --Bit;
  return Bit;
}

// Reads one bit at Sample; records the error or the margins. False when the bit is wrong.
bool readBit(const TWave& Trace, const TBitStream& Stream, std::size_t Bit, double BitStart, double Sample,
             double FirstBitStart, const TDecodeSettings& S, TDecodeResult& Result) {
  const bool expected = Stream[Bit];
  const double volts = WaveValue(Trace, Sample);
  const TBitRead read = readOf(volts, S.Thresholds);
  Result.BitStarts.push_back(BitStart);
  Result.Samples.push_back(Sample);
  if (read != (expected ? TBitRead::Dominant : TBitRead::Recessive)) {
    TBitError error;
    error.Bit = Bit;
    error.Read = read;
    error.Sample = Sample;
    error.Volts = volts;
    error.EdgeBit = runStart(Stream, Bit);
    error.EdgeTime = FirstBitStart + static_cast<double>(error.EdgeBit) * S.BitTime;
    // Valid by half-way from the sample point to the bit's end: a late edge, not the next bit's.
    error.ValidFrom = validFrom(Trace, expected, error.EdgeTime, (Sample + BitStart + S.BitTime) / 2, S.Thresholds);
    for (std::size_t i = firstAfter(Trace, error.EdgeTime); i < Trace.Time.size() && Trace.Time[i] < Sample; ++i)
      error.ReachedBefore = error.ReachedBefore || validFor(expected, Trace.Volts[i], S.Thresholds);
    Result.Error = error;
    return false;
  }
  Result.VoltageMargin =
      std::min(Result.VoltageMargin, expected ? volts - S.Thresholds.Dominant : S.Thresholds.Recessive - volts);
  const auto [from, until] = validStretch(Trace, Sample, expected, S.BitTime, S.Thresholds);
  if (std::min(Sample - from, until - Sample) < std::min(Result.EarlyMargin, Result.LateMargin)) {
    Result.LeastMarginBit = Bit;
    Result.LeastMarginSample = Sample - FirstBitStart;
  }
  Result.EarlyMargin = std::min(Result.EarlyMargin, Sample - from);
  Result.LateMargin = std::min(Result.LateMargin, until - Sample);
  return true;
}

TDecodeResult emptyResult() {
  TDecodeResult result;
  result.EarlyMargin = result.LateMargin = result.VoltageMargin = kInfinity;
  return result;
}

void finishMargins(TDecodeResult& Result) {
  if (Result.Error || !std::isfinite(Result.EarlyMargin)) Result.EarlyMargin = Result.LateMargin = 0.0;
  if (Result.Error || !std::isfinite(Result.VoltageMargin)) Result.VoltageMargin = 0.0;
}

TBitError noStartOfFrame(const TWave& Trace, double FirstBitStart, const TDecodeSettings& S) {
  TBitError error;
  error.Sample = FirstBitStart + S.SamplePoint * S.BitTime;
  error.Volts = WaveValue(Trace, error.Sample);
  error.Read = readOf(error.Volts, S.Thresholds);
  error.EdgeTime = FirstBitStart;
  return error;
}

// The first recessive-to-dominant change at or after FirstBitStart. Without one the start of
// frame is read wrong: Result says so and is complete.
std::optional<double> startOfFrame(const TWave& Trace, const TBitStream& Stream, const std::vector<double>& Changes,
                                   double FirstBitStart, const TDecodeSettings& S, TDecodeResult& Result) {
  const auto sync = std::lower_bound(Changes.begin(), Changes.end(), FirstBitStart);
  if (!Stream.empty() && sync != Changes.end()) {
    Result.Synced = true;
    return *sync;
  }
  if (!Stream.empty()) Result.Error = noStartOfFrame(Trace, FirstBitStart, S);
  finishMargins(Result);
  return std::nullopt;
}

}  // namespace

const TBitStream& WorstCaseStream() {
  static const TBitStream stream = [] {
    // Every run of a dominant bits followed by b recessive ones, and of b recessive followed by
    // a dominant, for a and b from 1 to 5 (stuffing allows no more), each once: an Eulerian walk
    // over the run lengths from the start of frame's run of five, ending on five recessive. What
    // a bit reads depends most on the run it belongs to and the one before, so no pair that could
    // decide is missing, the bit after a stuff bit (the first after a run of five) included.
    const std::string bits =
        "DDDDDRDRDDRDDDRDDDDRDDDDDRRDRRDDRRDDDRRDDDDRRDDDDDRRRDRRRDDRRRDDDRRRDDDDRRRDDDDDRRRRDRRRRDDRRRRDDDRR"
        "RRDDDDRRRRDDDDDRRRRRDRRRRRDDRRRRRDDDRRRRRDDDDRRRRRDDDDDRRRRR";
    TBitStream s;
    for (const char c : bits) s.push_back(c == 'D');
    return s;
  }();
  return stream;
}

std::string BitRole(const TBitStream& Stream, std::size_t Bit) {
  if (Bit >= Stream.size()) return "";
  if (Bit == 0) return "start of frame";
  static const char* const counts[] = {"no", "one", "two", "three", "four", "five"};
  const auto count = [&](std::size_t N) { return N <= 5 ? std::string(counts[N]) : std::to_string(N); };
  const std::string level = Stream[Bit] ? "dominant" : "recessive";
  const std::string other = Stream[Bit] ? "recessive" : "dominant";
  const std::size_t first = runStart(Stream, Bit);
  std::size_t last = Bit;
  while (last + 1 < Stream.size() && Stream[last + 1] == Stream[Bit]) ++last;
  const std::size_t before = first == 0 ? 0 : first - runStart(Stream, first - 1);
  if (first == last) return "single " + level + " after " + count(before) + " " + other;
  if (Bit == first)
    return "first of " + count(last - first + 1) + " " + level + " after " + count(before) + " " + other;
  return "bit " + std::to_string(Bit - first + 1) + " of " + count(last - first + 1) + " " + level;
}

std::vector<TTxdEdge> StreamEdges(const TBitStream& Stream, double Start, double BitTime) {
  std::vector<TTxdEdge> edges;
  bool dominant = false;
  for (std::size_t k = 0; k < Stream.size(); ++k) {
    if (Stream[k] == dominant) continue;
    dominant = Stream[k];
    edges.push_back({Start + static_cast<double>(k) * BitTime, dominant ? TBusEdge::Dominant : TBusEdge::Recessive});
  }
  return edges;
}

double WaveValue(const TWave& Trace, double T) { return ValueBetween(Trace.Time, Trace.Volts, T); }

TWave ComposeStream(const TEdgeResponses& Responses, const std::vector<TTxdEdge>& Edges, double Start, double Until,
                    double Step) {
  struct TActive {
    const TWave* Response;
    double Edge;
    double From;            // where the response starts to change
    double Until;           // where it has settled
    std::size_t After = 0;  // the first sample of the response after the last instant asked

    // The response's value at T, as WaveValue gives it, for instants that only grow: the
    // sample after T is found by moving on from the last one, not by a search each time.
    double at(double T) {
      const std::vector<double>& time = Response->Time;
      const std::vector<double>& volts = Response->Volts;
      if (T <= time.front()) return volts.front();
      if (T >= time.back()) return volts.back();
      while (After < time.size() && time[After] <= T) ++After;
      return LineValue(time[After - 1], volts[After - 1], time[After], volts[After], T);
    }
  };
  const auto settledAfter = [](const TWave& R) {
    if (R.Time.empty()) return 0.0;
    std::size_t i = R.Time.size() - 1;
    while (i > 0 && std::fabs(R.Volts[i - 1] - R.Volts.back()) <= kSettledVolts) --i;
    return R.Time[i];
  };
  const double settledDominant = settledAfter(Responses.Dominant);
  const double settledRecessive = settledAfter(Responses.Recessive);
  std::vector<TActive> windows;
  for (const TTxdEdge& edge : Edges) {
    const bool dominant = edge.Edge == TBusEdge::Dominant;
    const TWave& r = dominant ? Responses.Dominant : Responses.Recessive;
    if (r.Time.empty()) continue;
    windows.push_back(
        {&r, edge.Time, edge.Time + r.Time.front(), edge.Time + (dominant ? settledDominant : settledRecessive)});
  }
  std::sort(windows.begin(), windows.end(), [](const TActive& A, const TActive& B) { return A.From < B.From; });
  const double before = windows.empty() ? (Responses.Recessive.Volts.empty() ? 0.0 : Responses.Recessive.Volts.back())
                                        : windows.front().Response->Volts.front();

  // The instants: every Step inside a changing stretch, the ends of the flat ones.
  std::vector<double> times{Start};
  double reached = Start;
  for (const TActive& w : windows) {
    const double from = std::max(w.From, reached);
    const double until = std::min(w.Until, Until);
    if (until <= from) continue;
    if (from > times.back()) times.push_back(from);
    const auto steps = static_cast<std::size_t>(std::ceil((until - from) / Step));
    for (std::size_t k = 1; k <= steps; ++k) times.push_back(std::min(until, from + static_cast<double>(k) * Step));
    reached = until;
  }
  if (Until > times.back()) times.push_back(Until);

  TWave trace;
  trace.Time = times;
  trace.Volts.reserve(times.size());
  double settledSum = 0.0;
  std::size_t next = 0;
  std::vector<TActive*> active;
  for (const double t : times) {
    while (next < windows.size() && windows[next].From <= t) active.push_back(&windows[next++]);
    double sum = 0.0;
    for (auto it = active.begin(); it != active.end();) {
      TActive& w = **it;
      if (w.Until < t) {
        settledSum += w.Response->Volts.back() - w.Response->Volts.front();
        it = active.erase(it);
        continue;
      }
      sum += w.at(t - w.Edge) - w.Response->Volts.front();
      ++it;
    }
    trace.Volts.push_back(before + settledSum + sum);
  }
  return trace;
}

const char* BitReadName(TBitRead Read) {
  switch (Read) {
    case TBitRead::Dominant:
      return "dominant";
    case TBitRead::Recessive:
      return "recessive";
    case TBitRead::Undefined:
      break;
  }
  return "between the thresholds";
}

TDecodeResult DecodeReceiver(const TWave& Trace, const TBitStream& Stream, double FirstBitStart,
                             const TDecodeSettings& S) {
  TDecodeResult result = emptyResult();
  const std::vector<double> changes = dominantChanges(Trace, S.Thresholds);
  const auto sync = startOfFrame(Trace, Stream, changes, FirstBitStart, S, result);
  if (!sync) return result;
  double start = *sync;
  double previousSample = start;
  bool recessiveBefore = false;
  const double sjw = S.Sjw * S.BitTime;
  for (std::size_t k = 0; k < Stream.size(); ++k) {
    if (k > 0 && recessiveBefore) {
      // The first change after the last sample: late when after the bit's start, early when
      // before it (in the last bit's phase segment 2); the bit moves by at most the SJW.
      const auto edge = std::upper_bound(changes.begin(), changes.end(), previousSample);
      if (edge != changes.end() && *edge <= start + S.SamplePoint * S.BitTime)
        start += std::clamp(*edge - start, -sjw, sjw);
    }
    const double sample = start + S.SamplePoint * S.BitTime;
    if (!readBit(Trace, Stream, k, start, sample, FirstBitStart, S, result)) break;
    recessiveBefore = !Stream[k];
    previousSample = sample;
    start += S.BitTime;
  }
  finishMargins(result);
  return result;
}

TDecodeResult DecodeTransmitter(const TWave& Trace, const TBitStream& Stream, double FirstBitStart,
                                const TDecodeSettings& S) {
  TDecodeResult result = emptyResult();
  const auto own = startOfFrame(Trace, Stream, dominantChanges(Trace, S.Thresholds), FirstBitStart, S, result);
  if (!own) return result;
  result.LoopDelay = *own - FirstBitStart;
  for (std::size_t k = 0; k < Stream.size(); ++k) {
    const double start = FirstBitStart + static_cast<double>(k) * S.BitTime + *result.LoopDelay;
    if (!readBit(Trace, Stream, k, start, start + S.SamplePoint * S.BitTime, FirstBitStart, S, result)) break;
  }
  finishMargins(result);
  return result;
}

std::vector<TWave> FoldEye(const TWave& Trace, const TDecodeResult& Result, std::size_t Bits, double BitTime,
                           std::size_t PointsPerBit) {
  std::vector<TWave> eye;
  if (Result.BitStarts.empty() || PointsPerBit < 2 || !(BitTime > 0)) return eye;
  for (std::size_t k = 0; k < Bits; ++k) {
    const double start = k < Result.BitStarts.size()
                             ? Result.BitStarts[k]
                             : Result.BitStarts.back() + static_cast<double>(k + 1 - Result.BitStarts.size()) * BitTime;
    TWave bit;
    for (std::size_t i = 0; i < PointsPerBit; ++i) {
      const double t = BitTime * static_cast<double>(i) / static_cast<double>(PointsPerBit - 1);
      bit.Time.push_back(t);
      bit.Volts.push_back(WaveValue(Trace, start + t));
    }
    eye.push_back(std::move(bit));
  }
  return eye;
}

}  // namespace busweave

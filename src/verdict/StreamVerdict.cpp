#include "verdict/StreamVerdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>

namespace busweave {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A response has settled when it stops moving within this share of its run.
constexpr double kSettledShare = 0.75;
// A figure that meets its limit exactly must not fail by the last bit of a double.
constexpr double kRounding = 1e-9;

std::string ns(double Seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f ns", Seconds * 1e9);
  return text;
}

std::string volts(double Volts) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f V", Volts);
  return text;
}

std::string percent(double Share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f %%", Share * 100.0);
  return text;
}

const char* levelName(bool Dominant) { return Dominant ? "dominant" : "recessive"; }

// "bit 14 (single dominant after five recessive) read recessive at [3] ECU3: the dominant edge
// of bit 14 settles 212 ns after its TXD edge, 88 ns after the sample point".
std::string errorText(const TBitStream& Stream, const TBitError& E, const std::string& Station, bool Own) {
  const std::string where = Own ? " by " + Station + " itself at its secondary sample point" : " at " + Station;
  if (E.Bit == 0 && E.Read != TBitRead::Dominant && !E.ValidFrom)
    return "the start of frame never reaches the dominant threshold" + where + " (" + volts(E.Volts) +
           " at the sample point)";
  const bool expected = Stream[E.Bit];
  std::string text = "bit " + std::to_string(E.Bit + 1) + " (" + BitRole(Stream, E.Bit) + ") read " +
                     BitReadName(E.Read) + where + ": the " + levelName(expected) + " edge of bit " +
                     std::to_string(E.EdgeBit + 1);
  const std::string at =
      " (" + volts(E.Volts) + " at the sample point, " + ns(E.Sample - E.EdgeTime) + " after that edge)";
  if (E.ValidFrom && *E.ValidFrom > E.Sample)
    return text + " settles " + ns(*E.ValidFrom - E.EdgeTime) + " after its TXD edge, " + ns(*E.ValidFrom - E.Sample) +
           " after the sample point";
  if (E.ReachedBefore) return text + " reaches its threshold but the bus leaves it again before the sample point" + at;
  return text + " does not reach its threshold by the sample point" + at;
}

struct TPairDelays {
  std::optional<double> Dominant;
  std::optional<double> Recessive;
};

}  // namespace

double SettlingTime(const TEdgeResponses& Responses) {
  double settled = 0.0;
  for (const TWave* r : {&Responses.Dominant, &Responses.Recessive}) {
    if (r->Volts.empty()) continue;
    const auto [low, high] = std::minmax_element(r->Volts.begin(), r->Volts.end());
    const double tolerance = std::max(0.01 * (*high - *low), 0.01);
    for (std::size_t i = r->Volts.size(); i-- > 0;)
      if (std::fabs(r->Volts[i] - r->Volts.back()) > tolerance) {
        const double at = r->Time[std::min(i + 1, r->Time.size() - 1)];
        // Still moving in the last quarter of its run: its last sample is no final level.
        if (at > r->Time.front() + kSettledShare * (r->Time.back() - r->Time.front())) return kInfinity;
        settled = std::max(settled, at);
        break;
      }
  }
  return settled;
}

std::optional<double> ResponseDelay(const TWave& Response, TBusEdge Edge, const TThresholds& Thresholds) {
  if (Response.Time.empty()) return std::nullopt;
  return FirstCrossing(Response.Time, Response.Volts, Edge, Response.Time.front(), Response.Time.back() + 1.0,
                       Thresholds);
}

TDriverReference DriverReferenceOf(TEdgeResponses Responses, const TThresholds& Thresholds) {
  TDriverReference reference;
  reference.DominantDelay = ResponseDelay(Responses.Dominant, TBusEdge::Dominant, Thresholds);
  reference.RecessiveDelay = ResponseDelay(Responses.Recessive, TBusEdge::Recessive, Thresholds);
  reference.Responses = std::move(Responses);
  return reference;
}

namespace {

TWave composed(const TEdgeResponses& Responses, double Shift, std::int64_t BitRate) {
  const double bitTime = 1.0 / static_cast<double>(BitRate);
  const TBitStream& stream = WorstCaseStream();
  std::vector<TTxdEdge> edges = StreamEdges(stream, 0.0, bitTime);
  for (TTxdEdge& edge : edges)
    if (edge.Edge == TBusEdge::Recessive) edge.Time -= Shift;
  const double step = std::clamp(bitTime / 500.0, 0.2e-9, 2e-9);
  return ComposeStream(Responses, edges, -bitTime, static_cast<double>(stream.size() + 1) * bitTime, step);
}

}  // namespace

double DriverCompensation(const TDriverReference& Reference, const TAnalysisSettings& Settings) {
  if (!Settings.CompensateDriver || !Reference.DominantDelay || !Reference.RecessiveDelay) return 0.0;
  return *Reference.RecessiveDelay - *Reference.DominantDelay;
}

namespace {

TDecodeSettings decodeSettings(const TAnalysisSettings& S, TBusPhase Phase, std::int64_t BitRate) {
  TDecodeSettings d;
  d.BitTime = 1.0 / static_cast<double>(BitRate);
  d.SamplePoint = Phase == TBusPhase::Arbitration ? S.SamplePoint : S.DataSamplePoint;
  d.Sjw = Phase == TBusPhase::Arbitration ? S.Sjw : S.DataSjw;
  d.Thresholds = S.Thresholds;
  return d;
}

// Why a stream read right has too little margin to count as working; nothing when it has enough.
std::optional<std::string> marginShort(const TDecodeResult& Result, const TDecodeSettings& D,
                                       const TAnalysisSettings& S) {
  const double timing = S.Margin * D.BitTime;
  const bool early = Result.EarlyMargin < timing * (1.0 - kRounding);
  const bool late = Result.LateMargin < timing * (1.0 - kRounding);
  const bool voltage = Result.VoltageMargin < S.MarginVolts * (1.0 - kRounding);
  if (!early && !late && !voltage) return std::nullopt;
  std::string text = "every bit read right, but with too little margin: ";
  if (early || late)
    text += std::string("the sample point may move only ") + ns(Result.EarlyMargin) + " earlier and " +
            ns(Result.LateMargin) + " later, " + ns(timing) + " (" + percent(S.Margin) + " of the bit) required";
  if (voltage)
    text += std::string(early || late ? "; " : "") + "a sample lies only " + volts(Result.VoltageMargin) +
            " from a threshold, " + volts(S.MarginVolts) + " required";
  return text;
}

TDecodeResult decode(const TWave& Trace, bool Own, const TDecodeSettings& D) {
  return Own ? DecodeTransmitter(Trace, WorstCaseStream(), 0.0, D) : DecodeReceiver(Trace, WorstCaseStream(), 0.0, D);
}

// Which of two transmitters' streams leaves a station the least: a wrong bit first, then the
// smaller margin; the first of equals stays. The eyes show that one.
bool leavesLess(bool Works, double Least, bool ThanWorks, double ThanLeast) {
  return (ThanWorks && !Works) || (ThanWorks == Works && Least < ThanLeast);
}

TEye eyeOf(std::int64_t Rate, const std::string& Transmitter, const std::string& Receiver, const TWave& Trace,
           const TDecodeResult& Result, const TDecodeSettings& D) {
  TEye eye;
  eye.Phase = TBusPhase::Data;
  eye.BitRate = Rate;
  eye.Works = !Result.Error;
  eye.Transmitter = Transmitter;
  eye.Receiver = Receiver;
  eye.BitTime = D.BitTime;
  eye.SamplePoint = D.SamplePoint * D.BitTime;
  eye.Bits = FoldEye(Trace, Result, WorstCaseStream().size(), D.BitTime, 60);
  return eye;
}

// A data-phase stream decoded while the rates are judged, kept for its station's eye so that it
// is not composed and decoded again.
struct TKeptStream {
  bool Works = false;  // the margin's verdict
  double Least = 0.0;
  std::string Transmitter;
  TWave Trace;
  TDecodeResult Result;
};
struct TKeptStreams {
  std::map<std::string, TKeptStream> ByReceiver;
  std::vector<std::string> Order;  // receivers as their margins first came
};

}  // namespace

namespace {

// What one station decoded of one transmitter's stream: read right with the margins, or the
// first wrong bit, or too little margin, in the verdict's words.
TReceiverMargin receiverMargin(const TDecodeResult& Result, const std::string& Sender, const std::string& Station,
                               bool Own, TBusPhase Phase, std::int64_t BitRate, const TDecodeSettings& D,
                               const TAnalysisSettings& Settings) {
  TReceiverMargin margin{
      Phase, BitRate, Sender, Station, Own, true, Result.EarlyMargin, Result.LateMargin, Result.VoltageMargin, ""};
  margin.Bit = Result.LeastMarginBit;
  margin.Sample = Result.LeastMarginSample;
  if (Result.Error) {
    margin.Works = false;
    margin.Misread = true;
    margin.Text = errorText(WorstCaseStream(), *Result.Error, Station, Own);
  } else if (const auto shortOf = marginShort(Result, D, Settings)) {
    margin.Works = false;
    margin.Text = "at " + Station + (Own ? " itself" : " from " + Sender) + ": " + *shortOf;
  }
  return margin;
}

}  // namespace

bool JudgePatternRun(const std::vector<TStationWave>& Stations, int Transmitter, double Start, TBusPhase Phase,
                     std::int64_t BitRate, const TAnalysisSettings& Settings, std::string& Failure,
                     std::vector<TReceiverMargin>* Margins) {
  const TDecodeSettings d = decodeSettings(Settings, Phase, BitRate);
  const TBitStream& stream = WorstCaseStream();
  std::string sender;
  for (const TStationWave& s : Stations)
    if (s.Station == Transmitter) sender = s.Name;
  bool works = true;
  // Receivers first, as the verdict names them.
  for (const bool ownPass : {false, true})
    for (const TStationWave& station : Stations) {
      const bool own = station.Station == Transmitter;
      if (own != ownPass) continue;
      const TDecodeResult result =
          own ? DecodeTransmitter(station.Wave, stream, Start, d) : DecodeReceiver(station.Wave, stream, Start, d);
      const TReceiverMargin margin = receiverMargin(result, sender, station.Name, own, Phase, BitRate, d, Settings);
      if (!margin.Works && works) {
        works = false;
        Failure = margin.Text + (own || !result.Error ? "" : " (from " + sender + ")");
        if (!Margins) return false;
      }
      if (Margins) Margins->push_back(margin);
    }
  return works;
}

std::string MarginText(const TReceiverMargin& M) {
  return "every bit read right; least margin at " + M.Receiver +
         (M.Own ? " itself (secondary sample point)" : " from " + M.Transmitter) + ": the sample point may move " +
         ns(M.EarlyMargin) + " earlier or " + ns(M.LateMargin) + " later, " + volts(M.VoltageMargin) +
         " from a threshold; least at bit " + std::to_string(M.Bit + 1) + " (" + BitRole(WorstCaseStream(), M.Bit) +
         "), sampled " + ns(M.Sample) + " after the start of frame";
}

TWave StreamTrace(const TStationResponse& Station, const TDriverReference& Reference, const TAnalysisSettings& Settings,
                  std::int64_t BitRate) {
  return composed(Station.Responses, DriverCompensation(Reference, Settings), BitRate);
}

TStreamVerdict JudgeStreams(const std::vector<TResponseSet>& Runs, const TDriverReference& Reference,
                            const TAnalysisSettings& Settings, TJudged What) {
  TStreamVerdict verdict;
  std::map<std::int64_t, TKeptStreams> kept;  // by data rate
  verdict.DriverDominantDelay = Reference.DominantDelay;
  verdict.DriverRecessiveDelay = Reference.RecessiveDelay;
  verdict.Compensated = DriverCompensation(Reference, Settings) != 0.0;
  const TBitStream& stream = WorstCaseStream();

  // Bus delays from the TXD edge, less the driver's own delay into the reference load.
  std::vector<std::vector<TPairDelays>> delays(Runs.size());
  for (std::size_t r = 0; r < Runs.size(); ++r)
    for (const TStationResponse& station : Runs[r].Stations) {
      TPairDelays d;
      if (auto t = ResponseDelay(station.Responses.Dominant, TBusEdge::Dominant, Settings.Thresholds))
        d.Dominant = *t - Reference.DominantDelay.value_or(0.0);
      if (auto t = ResponseDelay(station.Responses.Recessive, TBusEdge::Recessive, Settings.Thresholds))
        d.Recessive = *t - Reference.RecessiveDelay.value_or(0.0);
      delays[r].push_back(d);
    }

  const auto judge = [&](TBusPhase Phase, std::int64_t BitRate) {
    TRateVerdict rate;
    rate.Phase = Phase;
    rate.BitRate = BitRate;
    if (BitRate <= 0) return rate;
    const TDecodeSettings d = decodeSettings(Settings, Phase, BitRate);
    const double limit = d.SamplePoint * d.BitTime;
    rate.Works = false;
    bool anyReceiver = false;
    bool fails = false;
    double worstScore = -kInfinity;
    // Any failure before any margin; among each, the largest score.
    const auto consider = [&](bool Fails, double Score, TWorstPair Pair) {
      if (!rate.Worst || (Fails && !fails) || (Fails == fails && Score > worstScore)) {
        worstScore = Score;
        rate.Worst = std::move(Pair);
      }
      fails = fails || Fails;
    };
    for (std::size_t r = 0; r < Runs.size(); ++r) {
      const TResponseSet& run = Runs[r];
      const std::string* transmitter = nullptr;
      for (const TStationResponse& s : run.Stations)
        if (s.Station == run.Transmitter) transmitter = &s.Name;
      const std::string sender = transmitter ? *transmitter : "station " + std::to_string(run.Transmitter);
      for (std::size_t s = 0; s < run.Stations.size(); ++s) {
        const TStationResponse& station = run.Stations[s];
        const bool own = station.Station == run.Transmitter;
        anyReceiver = anyReceiver || !own;
        const TWave trace = StreamTrace(station, Reference, Settings, BitRate);
        const TDecodeResult result = decode(trace, own, d);
        TReceiverMargin margin = receiverMargin(result, sender, station.Name, own, Phase, BitRate, d, Settings);
        TWorstPair pair{sender, station.Name, TBusEdge::Dominant, "", std::nullopt, limit, ""};
        double score = 0.0;
        if (result.Error) {
          pair.Figure = "decode";
          pair.Edge = stream[result.Error->Bit] ? TBusEdge::Dominant : TBusEdge::Recessive;
          pair.Text = margin.Text;
          score = result.Error->ValidFrom ? *result.Error->ValidFrom - result.Error->Sample : d.BitTime;
          // A receiver's failure names the bus; the transmitter's own decides only when alone.
          if (own) score -= 10.0 * d.BitTime;
          consider(true, score, pair);
        } else if (!margin.Works) {
          // Read right, but on the knife edge: it fails, below every wrong bit.
          pair.Figure = "margin";
          pair.Value = std::min(result.EarlyMargin, result.LateMargin);
          pair.Text = margin.Text;
          consider(true, -d.BitTime - std::min(result.EarlyMargin, result.LateMargin), pair);
        } else {
          score = -std::min(result.EarlyMargin, result.LateMargin);
          pair.Figure = "margin";
          pair.Value = std::min(result.EarlyMargin, result.LateMargin);
          pair.Text = MarginText(margin);
          consider(false, score, pair);
        }
        if (What == TJudged::Whole && Phase == TBusPhase::Data) {
          TKeptStreams& rateKept = kept[BitRate];
          const double least = std::min(margin.EarlyMargin, margin.LateMargin);
          const auto [at, first] = rateKept.ByReceiver.try_emplace(station.Name);
          if (first) rateKept.Order.push_back(station.Name);
          if (first || leavesLess(margin.Works, least, at->second.Works, at->second.Least))
            at->second = {margin.Works, least, sender, trace, result};
        }
        verdict.Margins.push_back(std::move(margin));
        if (Phase != TBusPhase::Arbitration || own) continue;
        for (const TBusEdge edge : {TBusEdge::Dominant, TBusEdge::Recessive}) {
          const auto& delay = edge == TBusEdge::Dominant ? delays[r][s].Dominant : delays[r][s].Recessive;
          TWorstPair trip{sender, station.Name, edge, "round_trip", std::nullopt, limit, ""};
          if (!delay) {
            trip.Figure = "no_edge";
            trip.Text = std::string("the ") + EdgeName(edge) + " edge from " + sender +
                        " never reaches its threshold at " + station.Name;
            consider(true, d.BitTime, trip);
            continue;
          }
          trip.Value = 2.0 * (*delay + Settings.LoopDelay);
          const bool over = *trip.Value - limit > limit * kRounding;
          trip.Text = "round trip " + sender + " -> " + station.Name + ", " + EdgeName(edge) +
                      " edge: 2 x (bus delay " + ns(*delay) + " + loop delay " + ns(Settings.LoopDelay) +
                      ") = " + ns(*trip.Value) + (over ? " > " : " <= ") + ns(limit) + " (" + percent(d.SamplePoint) +
                      " of the bit)";
          // A round trip within its limit decides a working rate only when nothing else is closer.
          if (over) consider(true, *trip.Value - limit, trip);
        }
      }
    }
    rate.Works = anyReceiver && !fails;
    return rate;
  };
  for (const std::int64_t r : Settings.ArbitrationRates) verdict.Bus.Rates.push_back(judge(TBusPhase::Arbitration, r));
  for (const std::int64_t r : Settings.DataRates) verdict.Bus.Rates.push_back(judge(TBusPhase::Data, r));
  CountMaxima(verdict.Bus);
  if (What == TJudged::RatesOnly) return verdict;

  // The driver's own ceiling: its responses into the reference load decoded as they are.
  TAnalysisSettings alone = Settings;
  alone.CompensateDriver = false;
  TStationResponse driver{-1, "driver", Reference.Responses};
  for (const std::int64_t r : Settings.DataRates) {
    if (r <= 0 || Reference.Responses.Dominant.Time.empty()) continue;
    const TDecodeResult result = DecodeReceiver(StreamTrace(driver, Reference, alone, r), stream, 0.0,
                                                decodeSettings(alone, TBusPhase::Data, r));
    if (!result.Error) verdict.DriverMaxDataRate = std::max(verdict.DriverMaxDataRate, r);
  }

  const auto [highestWorking, lowestFailing] = EyeDataRates(verdict.Bus);
  for (const std::int64_t rate : {highestWorking, lowestFailing}) {
    if (rate <= 0) continue;
    const TDecodeSettings d = decodeSettings(Settings, TBusPhase::Data, rate);
    const TKeptStreams& rateKept = kept[rate];
    for (const std::string& receiver : rateKept.Order) {
      const TKeptStream& k = rateKept.ByReceiver.at(receiver);
      verdict.Eyes.push_back(eyeOf(rate, k.Transmitter, receiver, k.Trace, k.Result, d));
    }
  }
  return verdict;
}

std::pair<std::int64_t, std::int64_t> EyeDataRates(const TBusVerdict& Verdict) {
  std::int64_t lowestFailing = 0;
  for (const TRateVerdict& rate : Verdict.Rates)
    if (rate.Phase == TBusPhase::Data && !rate.Works && rate.BitRate > 0 &&
        (lowestFailing == 0 || rate.BitRate < lowestFailing))
      lowestFailing = rate.BitRate;
  return {Verdict.MaxDataRate, lowestFailing};
}

void AddEyes(const std::vector<TResponseSet>& Runs, const TDriverReference& Reference,
             const TAnalysisSettings& Settings, TStreamVerdict& Verdict) {
  Verdict.Eyes.clear();
  const auto [highestWorking, lowestFailing] = EyeDataRates(Verdict.Bus);
  for (const std::int64_t rate : {highestWorking, lowestFailing}) {
    if (rate <= 0) continue;
    // Per station, the transmitter that leaves it the least: a wrong bit first, then the margin.
    std::map<std::string, const TReceiverMargin*> worst;
    std::vector<std::string> order;
    for (const TReceiverMargin& m : Verdict.Margins) {
      if (m.Phase != TBusPhase::Data || m.BitRate != rate) continue;
      const TReceiverMargin*& w = worst[m.Receiver];
      if (!w) order.push_back(m.Receiver);
      const auto least = [](const TReceiverMargin& M) { return std::min(M.EarlyMargin, M.LateMargin); };
      if (!w || leavesLess(m.Works, least(m), w->Works, least(*w))) w = &m;
    }
    const TDecodeSettings d = decodeSettings(Settings, TBusPhase::Data, rate);
    for (const std::string& receiver : order) {
      const TReceiverMargin& m = *worst[receiver];
      for (const TResponseSet& run : Runs) {
        const auto sender = std::find_if(run.Stations.begin(), run.Stations.end(),
                                         [&](const TStationResponse& S) { return S.Station == run.Transmitter; });
        if (sender == run.Stations.end() || sender->Name != m.Transmitter) continue;
        for (const TStationResponse& station : run.Stations) {
          if (station.Name != receiver) continue;
          const TWave trace = StreamTrace(station, Reference, Settings, rate);
          const TDecodeResult result = decode(trace, station.Station == run.Transmitter, d);
          Verdict.Eyes.push_back(eyeOf(rate, m.Transmitter, receiver, trace, result, d));
        }
      }
    }
  }
}

TDecodeSettings DecodeSettingsOf(const TAnalysisSettings& Settings, TBusPhase Phase, std::int64_t BitRate) {
  return decodeSettings(Settings, Phase, BitRate);
}

TDecodeResult DecodeStream(const TWave& Trace, bool Own, const TDecodeSettings& D) { return decode(Trace, Own, D); }

TDriverReference VerdictReference(const TStreamVerdict& Verdict) {
  TDriverReference reference;
  reference.DominantDelay = Verdict.DriverDominantDelay;
  reference.RecessiveDelay = Verdict.DriverRecessiveDelay;
  return reference;
}

}  // namespace busweave

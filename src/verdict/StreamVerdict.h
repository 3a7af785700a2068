#pragma once

// The verdict per bit rate from what a controller decodes: for each transmitter's run, every
// station's responses to one dominant and one recessive TXD edge; the worst-case stream at each
// rate composed from them and decoded at every receiver and at the transmitter's secondary
// sample point; in the arbitration phase also the round trip from the TXD edge. Times are from
// the transmitter's TXD edge; the driver's own delays into the reference load are measured once.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "verdict/BitDecoding.h"
#include "verdict/BusAnalysis.h"

namespace busweave {

// A station's voltage in a full run.
struct TStationWave {
  int Station = 0;
  std::string Name;
  TWave Wave;
};

struct TStationResponse {
  int Station = 0;
  std::string Name;
  TEdgeResponses Responses;
};

// One transmitter's run: every station's responses, its own node among them.
struct TResponseSet {
  int Transmitter = 0;
  std::vector<TStationResponse> Stations;
};

// The driver alone into the reference load (60 ohms): its responses and its own delays from the
// TXD edge to the thresholds.
struct TDriverReference {
  TEdgeResponses Responses;
  std::optional<double> DominantDelay;
  std::optional<double> RecessiveDelay;
};
TDriverReference DriverReferenceOf(TEdgeResponses Responses, const TThresholds& Thresholds);

// A TXD edge's delay to the threshold crossing in a response (s); none when never crossed.
std::optional<double> ResponseDelay(const TWave& Response, TBusEdge Edge, const TThresholds& Thresholds);

// What one station decoded of one transmitter's stream at one rate.
struct TReceiverMargin {
  TBusPhase Phase = TBusPhase::Data;
  std::int64_t BitRate = 0;
  std::string Transmitter;
  std::string Receiver;
  bool Own = false;  // the transmitter's own node at its secondary sample point
  bool Works = false;
  double EarlyMargin = 0.0;  // s
  double LateMargin = 0.0;   // s
  double VoltageMargin = 0.0;
  std::string Text;      // the first wrong bit and why, or the margin it misses, when it fails
  bool Misread = false;  // it fails on a bit read wrong, not on its margins
  std::size_t Bit = 0;   // where the sample point could move the least: the bit, counted from 0
  double Sample = 0.0;   // and its sample instant from the stream's first bit (s)
};

// A station's bits at one rate folded onto one bit time, with the sample point.
struct TEye {
  TBusPhase Phase = TBusPhase::Data;
  std::int64_t BitRate = 0;
  bool Works = false;
  std::string Transmitter;
  std::string Receiver;
  double BitTime = 0.0;
  double SamplePoint = 0.0;  // s from the bit's start
  std::vector<TWave> Bits;
};

struct TStreamVerdict {
  TBusVerdict Bus;
  std::vector<TReceiverMargin> Margins;  // every rate, transmitter and station
  std::vector<TEye> Eyes;                // per station: the highest working and lowest failing data rate
  std::optional<double> DriverDominantDelay;
  std::optional<double> DriverRecessiveDelay;
  std::int64_t DriverMaxDataRate = 0;      // the driver alone into the reference load, as it is
  bool Compensated = false;                // the driver's asymmetry was taken out of the bus's streams
  std::vector<std::string> Confirmations;  // what the full runs of the stream found, a sentence each
  // The rates whose full runs did not finish, a sentence each: they count as failing, and a
  // verdict with any is no verdict to sign.
  std::vector<std::string> Unproved;
};

// When a station's responses have come within 1 % of their swing (at least 10 mV) of their final
// level for good, from the TXD edge (s): a stream whose bits are longer than this is, edge by
// edge, exactly the sum of the responses.
double SettlingTime(const TEdgeResponses& Responses);

// The asymmetry taken out of the recessive TXD edges (s; 0 when not compensated).
double DriverCompensation(const TDriverReference& Reference, const TAnalysisSettings& Settings);

// What every station of a full run decoded, as JudgeStreams counts it; the first failure's
// sentence in Failure, and with Margins every station's margins (receivers first). True when
// every bit was read right with the margins.
bool JudgePatternRun(const std::vector<TStationWave>& Stations, int Transmitter, double Start, TBusPhase Phase,
                     std::int64_t BitRate, const TAnalysisSettings& Settings, std::string& Failure,
                     std::vector<TReceiverMargin>* Margins = nullptr);

// "every bit read right; least margin at [1] A from [2] B: the sample point may move ...".
std::string MarginText(const TReceiverMargin& Margin);

// The composed trace of Stations[Station] in Run for the worst-case stream at Rate (first bit
// at 0 s), compensated as Settings say.
TWave StreamTrace(const TStationResponse& Station, const TDriverReference& Reference, const TAnalysisSettings& Settings,
                  std::int64_t BitRate);

// The data rates the eyes show: the highest working and the lowest failing one of the verdict,
// each 0 when there is none.
std::pair<std::int64_t, std::int64_t> EyeDataRates(const TBusVerdict& Verdict);

// The eyes of every station at the highest working and the lowest failing data rate of the
// verdict, each from the transmitter that leaves it the least (in place of those it holds).
void AddEyes(const std::vector<TResponseSet>& Runs, const TDriverReference& Reference,
             const TAnalysisSettings& Settings, TStreamVerdict& Verdict);

// How a station's decoder reads the stream at a rate of a phase, as the verdict reads it; and what
// it decodes of a composed stream (Own: the transmitter's own node, which sends the bits).
TDecodeSettings DecodeSettingsOf(const TAnalysisSettings& Settings, TBusPhase Phase, std::int64_t BitRate);
TDecodeResult DecodeStream(const TWave& Trace, bool Own, const TDecodeSettings& D);
// The driver's own delays as the verdict measured them: all that composing its streams again needs.
TDriverReference VerdictReference(const TStreamVerdict& Verdict);

// How much of a verdict to make: all of it, or the rates and margins alone (no driver's ceiling,
// no eyes), which is what a trial of the advice search asks.
enum class TJudged { Whole, RatesOnly };

// The verdict of the streams composed from every transmitter's edge responses. The eyes are of the
// streams decoded for the rates, not composed again.
TStreamVerdict JudgeStreams(const std::vector<TResponseSet>& Runs, const TDriverReference& Reference,
                            const TAnalysisSettings& Settings, TJudged What = TJudged::Whole);

}  // namespace busweave

#pragma once

// Will the bus work, and at which bit rates: what each receiving station sees of one
// transmitter's edges, measured on simulated node voltages, and the verdict per bit rate of the
// arbitration phase and of the CAN FD data phase. Pure functions of the waveforms and settings,
// so that they are tested without ngspice and give the same verdict wherever the runs were made.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Units.h"

namespace busweave {

enum class TBusEdge { Dominant, Recessive };
enum class TBusPhase { Arbitration, Data };

// "dominant", "recessive"; "arbitration", "data".
const char* EdgeName(TBusEdge Edge);
const char* PhaseName(TBusPhase Phase);

// The receiver thresholds applied to the simulated bus voltage (volts).
struct TThresholds {
  double Dominant = 0.9;   // at or above: dominant
  double Recessive = 0.5;  // at or below: recessive
};

struct TAnalysisSettings {
  TThresholds Thresholds;
  double LoopDelay = 255e-9;     // transceiver loop delay (s), the largest of a CAN FD transceiver
  double SamplePoint = 0.8;      // arbitration phase, share of the bit time
  double DataSamplePoint = 0.7;  // data phase
  double Sjw = 0.2;              // synchronisation jump width, share of the bit time
  double DataSjw = 0.3;
  // What a working rate keeps to spare at every receiver and at the transmitter's own node: the
  // sample point may move this share of the bit time either way, and every sample lies this far
  // from the thresholds (V). A bus that decodes right only on the knife edge does not work.
  double Margin = 0.1;
  double MarginVolts = 0.1;
  bool CompensateDriver = true;        // judge the bus with the driver's own asymmetry taken out
  std::int64_t RequiredRate = 500000;  // the arbitration rate the bus must work at
  std::vector<std::int64_t> ArbitrationRates{125000, 250000, 500000, 800000, 1000000};
  std::vector<std::int64_t> DataRates{1000000, 2000000, 4000000, 5000000, 8000000};
};

// One node's response to one edge. Times in seconds.
struct TEdgeResponse {
  std::optional<double> Crossing;   // first crossing of the edge's threshold; none when never
  std::optional<double> Settle;     // from Crossing until it stays valid; none when it never does
  double Overshoot = 0.0;           // volts past the final level in the edge's direction
  double Undershoot = 0.0;          // volts back against it after that peak
  std::optional<double> FalseEdge;  // from Crossing until the opposite threshold is reached
};

// The first crossing of Edge's threshold (rising through the dominant one, falling through the
// recessive one) in [From, Until), interpolated between points. A trace already past the
// threshold at From must first leave it: the edge before has not reached that node yet.
std::optional<double> FirstCrossing(const std::vector<double>& Time, const std::vector<double>& Volts, TBusEdge Edge,
                                    double From, double Until, const TThresholds& Thresholds);

// The response from Crossing to BitEnd, the moment the next edge reaches this node: settling,
// overshoot and undershoot against the level at BitEnd, and a false edge. Time ascending.
TEdgeResponse MeasureResponse(const std::vector<double>& Time, const std::vector<double>& Volts, TBusEdge Edge,
                              double Crossing, double BitEnd, const TThresholds& Thresholds);

// What one receiving station sees of one transmitter's edge. Stations are numbered in the
// order of the analysis (their order in the network); names as the drawing shows them (UTF-8).
struct TPairMeasure {
  int Transmitter = 0;
  int Receiver = 0;
  std::string TransmitterName;
  std::string ReceiverName;
  TBusEdge Edge = TBusEdge::Dominant;
  std::optional<double> Delay;  // receiver's crossing minus the transmitter node's (s)
  std::optional<double> Settle;
  double Overshoot = 0.0;
  double Undershoot = 0.0;
  std::optional<double> FalseEdge;
};

// The pair and figure that decide a rate, and by how much. Figures: "decode" (a bit read wrong),
// "margin" (the least timing margin, or too little of it), "round_trip" (2 x (bus delay + loop
// delay)), "no_edge" (the receiver never reached the threshold), "unproved" (its full run did not
// finish). Value is none where there is no figure to give.
struct TWorstPair {
  std::string Transmitter;
  std::string Receiver;
  TBusEdge Edge = TBusEdge::Dominant;
  std::string Figure;
  std::optional<double> Value;  // s
  double Limit = 0.0;           // s
  std::string Text;             // what decided, in a sentence
};

struct TRateVerdict {
  TBusPhase Phase = TBusPhase::Arbitration;
  std::int64_t BitRate = 0;
  bool Works = false;
  std::optional<TWorstPair> Worst;  // the failing pair, or the one with least margin
};

struct TBusVerdict {
  std::vector<TRateVerdict> Rates;      // arbitration rates, then data rates, as listed
  std::int64_t MaxArbitrationRate = 0;  // 0 when none works
  std::int64_t MaxDataRate = 0;
};

// The highest working rate of each phase, counted again from the rates (0 where none works).
void CountMaxima(TBusVerdict& Verdict);

}  // namespace busweave

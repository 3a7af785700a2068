#pragma once

// What a CAN controller makes of a bus voltage: a worst-case bit stream sent on one driver's
// TXD, the voltage it gives at a station (from that station's responses to one dominant and one
// recessive TXD edge, added up edge by edge), and the bits a receiver or the transmitter itself
// decodes from it: hard sync, resynchronisation, sample points, thresholds. Pure functions of
// waveforms, so that they are tested without ngspice.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "verdict/BusAnalysis.h"

namespace busweave {

// Bits as TXD sends them, dominant true, the start-of-frame bit first.
using TBitStream = std::vector<bool>;

// What stuffing lets a CAN FD frame hold at its worst: five equal bits of each level, a single
// bit of each level after five of the other, alternating bits, pairs and triples; it begins
// with the start-of-frame bit after an idle bus and ends with five recessive bits.
const TBitStream& WorstCaseStream();

// A bit's place in the stream, for messages: "single dominant after five recessive".
std::string BitRole(const TBitStream& Stream, std::size_t Bit);

// An instant at which TXD switches (the middle of its source's ramp) and the level it goes to.
struct TTxdEdge {
  double Time = 0.0;
  TBusEdge Edge = TBusEdge::Dominant;
};

// The edges of Stream sent from an idle (recessive) bus, its first bit starting at Start.
std::vector<TTxdEdge> StreamEdges(const TBitStream& Stream, double Start, double BitTime);

// A node's voltage (ascending times, s; volts): a simulated run or a composed one.
struct TWave {
  std::vector<double> Time;
  std::vector<double> Volts;
};

// The trace at T, linear between points, its end values outside them.
double WaveValue(const TWave& Trace, double T);

// A node's response to one TXD edge from the settled level before it, times from the edge:
// before the first point the first value, after the last the last.
struct TEdgeResponses {
  TWave Dominant;
  TWave Recessive;
};

// The node's voltage for Edges (from Start to Until) by superposition: the level before the
// first edge plus, for each edge, its response's change from its own first value. Points every
// Step where a response is still changing, and at both ends of the flat stretches between.
TWave ComposeStream(const TEdgeResponses& Responses, const std::vector<TTxdEdge>& Edges, double Start, double Until,
                    double Step);

struct TDecodeSettings {
  double BitTime = 1e-6;
  double SamplePoint = 0.7;  // share of the bit time
  double Sjw = 0.3;          // synchronisation jump width, share of the bit time
  TThresholds Thresholds;
};

enum class TBitRead { Dominant, Recessive, Undefined };
const char* BitReadName(TBitRead Read);  // "dominant", "recessive", "between the thresholds"

// The first bit read wrong and what explains it.
struct TBitError {
  std::size_t Bit = 0;
  TBitRead Read = TBitRead::Undefined;
  double Sample = 0.0;              // the sample instant (s, trace time)
  double Volts = 0.0;               // the voltage there
  std::size_t EdgeBit = 0;          // the bit whose TXD edge set the level expected
  double EdgeTime = 0.0;            // that TXD edge (s)
  std::optional<double> ValidFrom;  // when the level became valid for the rest of the bit
  bool ReachedBefore = false;       // the level was valid for a while before the sample
};

struct TDecodeResult {
  bool Synced = false;              // the start of frame was seen
  std::optional<TBitError> Error;   // decoding stops at the first wrong bit
  std::vector<double> BitStarts;    // each decoded bit's start as the decoder placed it (s)
  std::vector<double> Samples;      // each decoded bit's sample instant (s)
  double EarlyMargin = 0.0;         // how far every sample point could move earlier (s)
  double LateMargin = 0.0;          // ... and later, still reading every bit right
  double VoltageMargin = 0.0;       // the smallest distance from the thresholds at the samples (V)
  std::size_t LeastMarginBit = 0;   // the bit whose sample point could move the least
  double LeastMarginSample = 0.0;   // its sample instant from the first bit's start (s)
  std::optional<double> LoopDelay;  // the transmitter: its first TXD edge to its own crossing
};

// A receiver: its comparator goes dominant at the dominant threshold and recessive at the
// recessive one; it hard-syncs on the first recessive-to-dominant change, resynchronises on
// later ones only after a recessive sample, at most once per bit and by at most the SJW, and
// reads each bit at the sample point: dominant at or above the dominant threshold, recessive at
// or below the recessive one, anything between is an error.
TDecodeResult DecodeReceiver(const TWave& Trace, const TBitStream& Stream, double FirstBitStart,
                             const TDecodeSettings& Settings);

// The transmitter checking its own bits at the secondary sample point: every TXD bit start plus
// its loop delay (measured on its first dominant edge, as transmitter delay compensation does)
// plus the sample point.
TDecodeResult DecodeTransmitter(const TWave& Trace, const TBitStream& Stream, double FirstBitStart,
                                const TDecodeSettings& Settings);

// Bits bits of the trace folded onto one bit time, each from its start as the decoder placed it
// (after a wrong bit, one bit time after the one before), PointsPerBit points each, times from 0.
std::vector<TWave> FoldEye(const TWave& Trace, const TDecodeResult& Result, std::size_t Bits, double BitTime,
                           std::size_t PointsPerBit = 100);

}  // namespace busweave

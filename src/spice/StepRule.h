#pragma once

// The largest time step the engine lets ngspice take in a transient run. PSPICE reads the
// .TRAN step (1 ps in the built-in trailer) as a print interval only; ngspice caps its step
// there, which costs two million points for nothing. The step that matters is the one that
// resolves the fastest things in the circuit: the shortest line delay and the steepest edge.

#include <string>
#include <vector>

#include "base/Units.h"

namespace busweave {

struct TStepChoice {
  double MaxStep = 0.0;  // seconds
  std::string Reason;    // what set it, for the log: "shortest line delay 1 ns / 4"
};

// Points per shortest line delay, per shortest source edge, and at least per run. The fastest
// ring a line makes (a stub open at its end) has a period of four delays: four points per delay
// give it sixteen a period, and ngspice needs steps below the delay anyway. Finer steps change
// the node voltages by less than a millivolt and cost three times as long.
inline constexpr double StepsPerDelay = 4.0;
inline constexpr double StepsPerEdge = 10.0;
inline constexpr double StepsPerRun = 50.0;
// However fast the circuit, a run never takes more than this many steps.
inline constexpr double MostStepsPerRun = 1e6;

// Span is the simulated time (stop - start); delays and edges that are not positive are
// ignored (a zero-length line, an ideal step whose edge ngspice breaks at anyway). The limit of
// MostStepsPerRun gives way to the shortest line delay: a step longer than a line's delay makes
// ngspice stop with "Timestep too small".
TStepChoice ChooseMaxStep(double Span, const std::vector<double>& LineDelays, const std::vector<double>& Edges);

// A line whose delay is below the shortest source edge divided by this is electrically a
// connection: its reflections are over long before the edge is. Two orders of magnitude keep
// even a line's own capacitance (delay / impedance) small against the edge.
inline constexpr double DefaultShortLineRatio = 100.0;

// The delay below which a line is simulated as a direct connection: the shortest positive edge
// divided by Ratio; 0 (no line is short) without an edge or with a Ratio that is not positive.
double ShortLineThreshold(const std::vector<double>& Edges, double Ratio);

}  // namespace busweave

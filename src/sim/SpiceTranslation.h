#pragma once

// The circuit file, exactly as the export writes it for PSPICE, turned into what ngspice 39
// accepts, together with what the waveform window needs to know about it: the network nodes
// and their names, the analyses, and the time step the engine chose. Works on a copy of the
// lines; the user's circuit file is never touched.

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "circuit/CircuitFile.h"
#include "sim/StepRule.h"

namespace busweave {

// A node of the drawn network: its SPICE node ("3") and the name the user knows ("[3] ECU2").
struct TNetworkNode {
  std::string Spice;
  std::string Name;
};

// The .TRAN statement as the circuit states it (seconds).
struct TTransientSpec {
  double PrintStep = 0.0;
  double Stop = 0.0;
  double Start = 0.0;
  double Ceiling = 0.0;  // the step ceiling the user wrote, 0 when none
};

struct TNgspiceCircuit {
  TextLines Lines;                          // the deck ngspice reads, title first, .END last
  std::vector<TNetworkNode> Nodes;          // in node number order
  std::optional<TTransientSpec> Transient;  // the circuit's .TRAN, when it has one
  bool HasAc = false;
  TStepChoice Step;                // the engine's maximum step (0 without .TRAN)
  std::vector<std::string> Notes;  // what the translation changed beyond the routine
};

// Inner braces of a brace expression become parentheses: {2*{xTP+xTR}} -> {2*(xTP+xTR)}.
// ngspice rejects nested braces even in PSPICE compatibility mode.
std::string FlattenNestedBraces(const std::string& Line);

// The whole translation. Line 1 is the title and passes unchanged. Throws
// ESpiceExpressionError when a parameter or expression nests too deeply. Returns early, with
// an incomplete circuit that is not to be used, once Stop is requested.
TNgspiceCircuit TranslateForNgspice(const TextLines& Circuit, std::stop_token Stop = {});

// A number for a SPICE deck, independent of the C locale: "1e-10", "7.5e-10".
std::string SpiceNumberText(double Value);

}  // namespace busweave

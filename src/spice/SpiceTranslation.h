#pragma once

// The circuit file, exactly as the export writes it for PSPICE, turned into what ngspice 39
// accepts, together with what the waveform window needs to know about it: the network nodes
// and their names, the analyses, and the time step the engine chose. Works on a copy of the
// lines; the user's circuit file is never touched.

#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "circuit/CircuitFile.h"
#include "spice/SpiceStatements.h"
#include "spice/StepRule.h"

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

// The circuit asks ngspice for what Busweave never lets a circuit do: run ngspice's own
// commands (a .control block, a "*#" line), or read a file from outside the templates' folder.
class ESpiceCommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Choices of the translation; the defaults are what Simulate uses.
// Breakpoints closer than this share of the maximum step are one (ngspice's MINBREAK); a run
// that stalls on them is made again with a finer share.
inline constexpr double BreakpointMerge = 0.25;

struct TTranslationOptions {
  // Where the circuit's lines come from: refusals then name the template and its line, and
  // .include and .lib may read only files in the templates' folder (and what those include).
  std::optional<TCircuitSources> Sources;
  // Lines of the top level whose delay lies below the shortest source edge divided by this are
  // simulated as direct connections (see ShortLineThreshold); 0 keeps every line that has a delay.
  double ShortLineRatio = DefaultShortLineRatio;
  // A .SAVE of the network nodes' voltages, so that ngspice keeps nothing else of the run.
  bool SaveNodesOnly = true;
};

struct TNgspiceCircuit {
  TextLines Lines;                          // the deck ngspice reads, title first, .END last
  std::vector<TNetworkNode> Nodes;          // in node number order
  std::optional<TTransientSpec> Transient;  // the circuit's .TRAN, when it has one
  bool HasAc = false;
  TStepChoice Step;                // the engine's maximum step (0 without .TRAN)
  std::vector<std::string> Notes;  // what the translation changed beyond the routine
  double ShortLine = 0.0;          // lines of a shorter delay became connections (s; 0: none)
  std::size_t JoinedLines = 0;     // lines simulated as direct connections
};

// The .SAVE statements for the voltages of these nodes, a few nodes a line.
TextLines SaveStatements(const std::vector<TNetworkNode>& Nodes);

// The whole translation. Line 1 is the title and passes unchanged. Throws
// ESpiceExpressionError when a parameter or expression nests too deeply, ESpiceCommandError
// naming the line when the circuit reaches for ngspice's commands or for a file it may not read. Returns early, with
// an incomplete circuit that is not to be used, once Stop is requested.
// Nodes joined by lines of no delay, or of a delay below the short-line threshold, are joined by
// 0 V sources along a spanning tree of those lines: a ring of them would be a loop of voltage
// sources, which ngspice cannot solve ("singular matrix"). Every drawn node keeps its voltage.
TNgspiceCircuit TranslateForNgspice(const TextLines& Circuit, std::stop_token Stop = {},
                                    const TTranslationOptions& Options = {});

// A number for a SPICE deck, independent of the C locale: "1e-10", "7.5e-10".
std::string SpiceNumberText(double Value);

}  // namespace busweave

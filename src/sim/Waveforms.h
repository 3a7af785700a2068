#pragma once

// What the Simulate command and `busweave-cli simulate` share: the circuit built from the
// current templates, the waveforms as CSV, and the reading of a trace between its points.

#include <string>
#include <vector>

#include "circuit/CircuitFile.h"
#include "sim/SpiceEngine.h"

namespace busweave {

class TCanNodes;

// Header and trailer from Busweave.HD and Busweave.TR in Folder when they exist (else the
// built-in texts), the title line in place of the header's first line, and the network section
// generated now (which numbers the node names). Templates are only read. Throws
// std::runtime_error when a template exists but cannot be read.
TextLines SimulationCircuit(TCanNodes& Net, const std::string& Folder, std::vector<std::string>* Warnings = nullptr);

// The scale and every trace as CSV: a header row ("time" or "frequency", then the node names
// in UTF-8, quoted where needed), one row per point, '.' as decimal point, LF line ends.
std::string WaveformsCsv(const TWaveforms& Waveforms);

// The trace's value at X by linear interpolation between the neighbouring points; the end
// values outside the scale. Scale must be ascending; nothing when it is empty.
std::optional<double> ValueAt(const std::vector<double>& Scale, const std::vector<double>& Values, double X);

// The points of [From, To] thinned to about 2 * Buckets, keeping each bucket's lowest and
// highest value so that no peak is lost on the screen. Indices into the scale, ascending.
std::vector<std::size_t> PeakPreservingIndices(const std::vector<double>& Scale, const std::vector<double>& Values,
                                               double From, double To, std::size_t Buckets);

}  // namespace busweave

// Feeds arbitrary bytes to the circuit translation for ngspice as a whole circuit (header,
// network section and trailer as one text), with its statement reader and the .PARAM
// expression reader, and to the network section as node names. The translation may refuse an
// expression that nests too deeply or ngspice's commands, nothing else; node names never reach the start of a line.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "circuit/CircuitFile.h"
#include "model/NetworkContainer.h"
#include "spice/SpiceNumbers.h"
#include "spice/SpiceTranslation.h"

namespace {

// A name may hold any byte; in the section it must stay inside its comment.
void checkNames(const std::string& Bytes) {
  busweave::TCanNodes net(120, 1500, 120);
  net.AddNode({0, 0});
  net.AddNode({200, 0});
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.NodeAt({0, 0})->FName = busweave::CutShortString(Bytes);
  net.NodeAt({200, 0})->FName = busweave::CutShortString(Bytes.size() > 255 ? Bytes.substr(255) : Bytes);
  busweave::TextLines lines;
  net.WriteNetlist(lines);
  for (const auto& line : lines)
    for (const char c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string bytes(reinterpret_cast<const char*>(Data), Size);
  checkNames(bytes.substr(0, 512));

  const busweave::TextLines circuit = busweave::SplitLines(bytes);
  try {
    const busweave::TNgspiceCircuit translated = busweave::TranslateForNgspice(circuit);
    if (translated.Lines.empty() || translated.Lines.back() != ".END") std::abort();
    for (std::size_t i = 1; i < translated.Lines.size(); ++i)
      if (translated.Lines[i].find_first_of("\r\n") != std::string::npos) std::abort();
  } catch (const busweave::ESpiceExpressionError&) {
    // Refused with a reason: the failures the translation may report.
  } catch (const busweave::ESpiceCommandError&) {
  }

  // The first line as an expression over the parameters that the rest defines.
  busweave::TSpiceParameters parameters;
  for (std::size_t i = 1; i < circuit.size(); ++i) parameters.AddStatement(circuit[i]);
  try {
    if (!circuit.empty()) (void)parameters.Evaluate(circuit.front());
    parameters.EvaluateAll();
  } catch (const busweave::ESpiceExpressionError&) {
  }
  return 0;
}

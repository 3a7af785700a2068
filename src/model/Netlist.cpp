// The network section of the circuit file: one transmission line per wire, one resistor per
// node, one driver instance per node with a source.

#include "model/Netlist.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave {

std::string FormatReal(int Digits, long double X) {
  // Exponent form rounded to Digits + 1 significant digits, then the exponent written without
  // its "+" and leading zeros (0.25 -> 2.500E-1, 12 -> 1.200E1, 0 -> 0.000E0).
  // to_chars, unlike printf, writes '.' whatever the program's locale (the GUI runs in the
  // user's, and a German one would write 1,500E0 into the circuit).
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, X, std::chars_format::scientific, Digits);
  std::string text(buffer, written.ptr);
  const auto e = text.find_first_of("eE");
  if (e == std::string::npos) return text;  // not a finite number
  const int exponent = std::stoi(text.substr(e + 1));
  return text.substr(0, e) + "E" + std::to_string(exponent);
}

namespace {

void addLine(std::vector<std::string>& Lines, std::string Line) { Lines.push_back(CutShortString(std::move(Line))); }

}  // namespace

bool TCanNodes::WriteNetlist(std::vector<std::string>& Lines, std::vector<std::string>* Warnings) {
  const int count = Count();
  if (count == 0) return false;

  for (int i = 0; i < count; ++i) {
    const TTrmLine* wire = WireAtIndex(i);
    if (!wire) continue;
    int startIndex = 0;
    int endIndex = 0;
    const bool hasStart = Find(NodeKey(wire->FStart), startIndex) && NodeAtIndex(startIndex);
    const bool hasEnd = Find(NodeKey(wire->FEnd), endIndex) && NodeAtIndex(endIndex);
    addLine(Lines, "");
    if (!hasStart || !hasEnd) {
      // A line needs a node at each end; a file from elsewhere may lack one.
      std::string missing = !hasStart ? PointText(wire->FStart) : PointText(wire->FEnd);
      if (!hasStart && !hasEnd) {
        missing += " and ";
        missing += PointText(wire->FEnd);
      }
      const std::string problem = "wire " + Strings(i) + " skipped: no node at " + missing;
      addLine(Lines, "* " + problem);
      if (Warnings) Warnings->push_back(problem);
      continue;
    }
    const TNode* a = NodeAtIndex(startIndex);
    const TNode* b = NodeAtIndex(endIndex);
    const std::string na = std::to_string(startIndex + 1);
    const std::string nb = std::to_string(endIndex + 1);
    addLine(Lines, "* Line " + NameForCircuitText(a->FName) + " <=> " + NameForCircuitText(b->FName));
    addLine(Lines, "  T" + na + nb + " " + na + " 0 " + nb + " 0 Z0=" + std::to_string(wire->FImpedance) + " TD={" +
                       FormatReal(3, static_cast<long double>(wire->FLength) * 0.001L) + "/{xC0red}}");
  }

  for (int i = 0; i < count; ++i) {
    TNode* node = NodeAtIndex(i);
    if (!node) continue;
    const std::string k = std::to_string(i + 1);
    addLine(Lines, "");
    const std::string comment = "* Node " + NameForCircuitText(node->FName);
    node->FName = NumberedName(node->FName, i + 1);
    addLine(Lines, comment);
    addLine(Lines, "  RZL" + k + " " + k + " 0 " + std::to_string(node->FResistance));
    if (node->FSource == 1) addLine(Lines, "  X" + k + " " + k + " CANDRV");
  }
  addLine(Lines, "");
  return true;
}

}  // namespace busweave

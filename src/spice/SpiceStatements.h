#pragma once

// The one reader of SPICE statements, for the translation for ngspice and for the bus analysis:
// lines joined with their '+' continuations, blanks as C's isspace has them (space, tab, line
// feed, vertical tab, form feed, carriage return), nested braces flattened as ngspice needs them.
// A run of comment and blank lines makes one statement, and of blank lines in a row only the
// first is kept, so that memory follows the statements of a circuit, not its bytes.

#include <cstddef>
#include <stop_token>
#include <string>
#include <vector>

#include "circuit/CircuitFile.h"

namespace busweave {

struct TSpiceStatement {
  TextLines Lines;       // as they go to ngspice: nested braces flattened, one of blank lines in a row
  std::string Text;      // the lines joined, continuation marks removed, trimmed; empty for comments
  std::string Key;       // the first word in lower case: ".tran", ".param", "t12"; empty for comments
  bool Comment = false;  // comment lines ('*', ';', '$') and blank lines
  std::size_t Line = 0;  // the index of its first line in the circuit
};

// The statements after the title line (line 0). A '+' line continues the statement before it
// only when no blank or comment line comes between. Returns what was read so far once Stop is
// requested.
std::vector<TSpiceStatement> ReadSpiceStatements(const TextLines& Circuit, const std::stop_token& Stop = {});

// True for the characters C's isspace calls blank.
bool IsSpiceBlank(char C);
// Text without the blanks at either end.
std::string TrimmedBlanks(const std::string& Text);
// The blanks a line starts with.
std::string IndentOf(const std::string& Line);

// The words of a SPICE statement, separated by blanks (and commas where Commas is true), with
// bracketed expressions kept whole: "PULSE({a} {b+c} 1n)" is one word.
std::vector<std::string> SpiceWords(const std::string& Text, bool Commas = false);

// Inner braces of a brace expression become parentheses: {2*{xTP+xTR}} -> {2*(xTP+xTR)}.
// ngspice rejects nested braces even in PSPICE compatibility mode.
std::string FlattenNestedBraces(const std::string& Line);

}  // namespace busweave

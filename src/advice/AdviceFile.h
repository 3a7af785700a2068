#pragma once

// What apply reads of the advice that `advise --json` wrote: the digest of the network file the
// advice was made for and the edits of one of its changes. Advice files travel and can hold
// anything, so their nesting, size and every value are checked as they are read, and a message
// quotes no more of them than fits on a line.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "advice/AdviceSearch.h"

namespace busweave {

struct TAdviceChoice {
  std::string Network;       // SHA-256 of the bytes of the network file the advice was made for
  std::vector<TEdit> Edits;  // the change's edits, one per element
};

// The Rank-th change (from 1) of the advice in Text. Throws EAnalysisError naming the field and
// what is wrong with it; a missing digest is refused too, as such advice cannot be matched to a
// file.
TAdviceChoice ReadAdviceChoice(std::string_view Text, std::size_t Rank);

// Text as JSON, refused (EAnalysisError) when it is not JSON, nests deeper than MostDepth or
// holds more than MostValues values; both are checked while parsing, before the values can take
// much memory.
nlohmann::json ParseBoundedJson(std::string_view Text, int MostDepth, std::size_t MostValues);

// Outside text for a message: at most Most bytes, control bytes shown as '?', "..." where cut.
std::string QuotedForMessage(std::string_view Text, std::size_t Most = 80);

}  // namespace busweave

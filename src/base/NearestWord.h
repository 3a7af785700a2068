#pragma once

// The word a user most likely meant when one was mistyped ("anlyze" for "analyze"), for the
// "Did you mean" of a usage error.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace busweave {

// The candidate nearest to Word by edit distance (an inserted, removed or changed character, or
// two neighbours swapped, counts one), when it is close enough to be a typing slip: one edit for
// names of up to five characters, two for longer ones; leading dashes count for neither. The
// first in Candidates wins a tie. Nothing when none is that close.
std::optional<std::string> NearestWord(std::string_view Word, const std::vector<std::string>& Candidates);

}  // namespace busweave

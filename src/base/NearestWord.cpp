#include "base/NearestWord.h"

#include <algorithm>
#include <numeric>

namespace busweave {
namespace {

std::string_view withoutDashes(std::string_view Name) {
  return Name.substr(std::min(Name.find_first_not_of('-'), Name.size()));
}

// Edits between A and B, neighbours swapped counting one (optimal string alignment).
std::size_t editDistance(std::string_view A, std::string_view B) {
  const std::size_t columns = B.size() + 1;
  std::vector<std::size_t> before(columns), last(columns), row(columns);
  std::iota(last.begin(), last.end(), 0);
  for (std::size_t i = 1; i <= A.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= B.size(); ++j) {
      const std::size_t change = A[i - 1] == B[j - 1] ? 0 : 1;
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + change});
      if (i > 1 && j > 1 && A[i - 1] == B[j - 2] && A[i - 2] == B[j - 1]) row[j] = std::min(row[j], before[j - 2] + 1);
    }
    before.swap(last);
    last.swap(row);
  }
  return last[B.size()];
}

}  // namespace

std::optional<std::string> NearestWord(std::string_view Word, const std::vector<std::string>& Candidates) {
  const std::string_view typed = withoutDashes(Word);
  std::optional<std::string> nearest;
  std::size_t best = 0;
  for (const std::string& candidate : Candidates) {
    const std::string_view name = withoutDashes(candidate);
    // Short names are too alike for more than one slip: "-o" is no slip of "-h".
    const std::size_t most = name.size() < 3 ? 0 : name.size() <= 5 ? 1 : 2;
    const std::size_t distance = editDistance(typed, name);
    if (distance > most || (nearest && distance >= best)) continue;
    nearest = candidate;
    best = distance;
  }
  return nearest;
}

}  // namespace busweave

#include "spice/SpiceStatements.h"

#include <cctype>
#include <utility>

#include "spice/SpiceNumbers.h"

namespace busweave {

bool IsSpiceBlank(char C) { return std::isspace(static_cast<unsigned char>(C)) != 0; }

std::string TrimmedBlanks(const std::string& Text) {
  std::size_t begin = 0;
  std::size_t end = Text.size();
  while (begin < end && IsSpiceBlank(Text[begin])) ++begin;
  while (end > begin && IsSpiceBlank(Text[end - 1])) --end;
  return Text.substr(begin, end - begin);
}

std::string IndentOf(const std::string& Line) {
  std::size_t end = 0;
  while (end < Line.size() && IsSpiceBlank(Line[end])) ++end;
  return Line.substr(0, end);
}

std::vector<std::string> SpiceWords(const std::string& Text, bool Commas) {
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  for (char c : Text) {
    if (c == '(' || c == '{') ++depth;
    if ((c == ')' || c == '}') && depth > 0) --depth;
    const bool separator = depth == 0 && (IsSpiceBlank(c) || (Commas && c == ','));
    if (separator) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::string FlattenNestedBraces(const std::string& Line) {
  // Only a line whose braces balance is rewritten; ngspice reports the others as they stand.
  int depth = 0;
  for (char c : Line) {
    if (c == '{') ++depth;
    if (c == '}' && --depth < 0) return Line;
  }
  if (depth != 0) return Line;
  std::string out = Line;
  for (char& c : out) {
    if (c == '{') {
      if (depth++ > 0) c = '(';
    } else if (c == '}') {
      if (--depth > 0) c = ')';
    }
  }
  return out;
}

std::vector<TSpiceStatement> ReadSpiceStatements(const TextLines& Circuit, const std::stop_token& Stop) {
  std::vector<TSpiceStatement> statements;
  // A '+' line continues only the statement of the line right before it.
  bool continuable = false;
  bool afterBlank = false;
  for (std::size_t i = 1; i < Circuit.size(); ++i) {
    if (i % 4096 == 0 && Stop.stop_requested()) break;
    const std::string& raw = Circuit[i];
    std::size_t first = 0;
    while (first < raw.size() && IsSpiceBlank(raw[first])) ++first;
    const bool blank = first == raw.size();
    // Of blank lines in a row, the first stays (as a comment) and the others go.
    if (blank && afterBlank) continue;
    afterBlank = blank;
    if (blank || raw[first] == '*' || raw[first] == ';' || raw[first] == '$') {
      if (statements.empty() || !statements.back().Comment) {
        statements.emplace_back();
        statements.back().Comment = true;
        statements.back().Line = i;
      }
      statements.back().Lines.push_back(raw);
      continuable = false;
      continue;
    }
    const std::string line = FlattenNestedBraces(raw);
    const std::string text = TrimmedBlanks(line);
    if (text[0] == '+' && continuable) {
      statements.back().Lines.push_back(line);
      statements.back().Text += ' ';
      statements.back().Text.append(text, 1);
      continue;
    }
    TSpiceStatement statement;
    statement.Lines.push_back(line);
    statement.Text = text;
    const auto words = SpiceWords(text);
    statement.Key = words.empty() ? std::string() : LowerCase(words.front());
    statement.Line = i;
    statements.push_back(std::move(statement));
    continuable = true;
  }
  return statements;
}

}  // namespace busweave

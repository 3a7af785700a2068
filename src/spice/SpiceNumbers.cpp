#include "spice/SpiceNumbers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace busweave {
namespace {

char lower(char C) { return static_cast<char>(std::tolower(static_cast<unsigned char>(C))); }
bool isLetter(char C) { return std::isalpha(static_cast<unsigned char>(C)) != 0; }
bool isDigit(char C) { return std::isdigit(static_cast<unsigned char>(C)) != 0; }
bool isNameChar(char C) { return std::isalnum(static_cast<unsigned char>(C)) != 0 || C == '_'; }

// Recursive descent over one expression: sum, product, power, unary sign, primary. Depth counts
// the levels of brackets, signs, powers and parameter references around the current place; a
// bound on it bounds the stack the reader needs, whatever the template holds.
class ExpressionReader {
 public:
  ExpressionReader(std::string_view Text, const TSpiceParameters& Parameters,
                   std::optional<double> (*Lookup)(const TSpiceParameters&, const std::string&, int), int Depth)
      : FText(Text), FParameters(Parameters), FLookup(Lookup), FDepth(Depth) {}

  std::optional<double> Whole() {
    auto value = sum();
    skipBlanks();
    if (!value || FPos != FText.size()) return std::nullopt;
    return value;
  }

 private:
  void skipBlanks() {
    while (FPos < FText.size() && std::isspace(static_cast<unsigned char>(FText[FPos]))) ++FPos;
  }
  bool take(char C) {
    skipBlanks();
    if (FPos < FText.size() && FText[FPos] == C) {
      ++FPos;
      return true;
    }
    return false;
  }

  // One level deeper for as long as it lives.
  class Level {
   public:
    explicit Level(ExpressionReader& Reader) : FReader(Reader) {
      if (++FReader.FDepth > MaxExpressionNesting)
        throw ESpiceExpressionError("nested deeper than " + std::to_string(MaxExpressionNesting) + " levels");
    }
    ~Level() { --FReader.FDepth; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    ExpressionReader& FReader;
  };

  std::optional<double> sum() {
    const Level level(*this);
    auto left = product();
    while (left) {
      if (take('+')) {
        const auto right = product();
        if (!right) return std::nullopt;
        *left += *right;
      } else if (take('-')) {
        const auto right = product();
        if (!right) return std::nullopt;
        *left -= *right;
      } else {
        break;
      }
    }
    return left;
  }

  std::optional<double> product() {
    auto left = power();
    while (left) {
      skipBlanks();
      if (FPos + 1 < FText.size() && FText[FPos] == '*' && FText[FPos + 1] == '*') break;
      if (take('*')) {
        const auto right = power();
        if (!right) return std::nullopt;
        *left *= *right;
      } else if (take('/')) {
        const auto right = power();
        if (!right || *right == 0.0) return std::nullopt;
        *left /= *right;
      } else {
        break;
      }
    }
    return left;
  }

  std::optional<double> power() {
    auto base = unary();
    if (!base) return std::nullopt;
    skipBlanks();
    const bool caret = FPos < FText.size() && FText[FPos] == '^';
    const bool stars = FPos + 1 < FText.size() && FText[FPos] == '*' && FText[FPos + 1] == '*';
    if (!caret && !stars) return base;
    FPos += caret ? 1 : 2;
    const Level level(*this);
    const auto exponent = power();
    if (!exponent) return std::nullopt;
    const double value = std::pow(*base, *exponent);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
  }

  std::optional<double> unary() {
    const Level level(*this);
    if (take('-')) {
      const auto value = unary();
      if (!value) return std::nullopt;
      return -*value;
    }
    if (take('+')) return unary();
    return primary();
  }

  std::optional<double> primary() {
    skipBlanks();
    if (FPos >= FText.size()) return std::nullopt;
    const char c = FText[FPos];
    if (c == '(' || c == '{') {
      ++FPos;
      const auto value = sum();
      if (!value || !take(c == '(' ? ')' : '}')) return std::nullopt;
      return value;
    }
    if (isDigit(c) || c == '.') {
      std::size_t used = 0;
      const auto value = ParseSpiceNumber(FText.substr(FPos), &used);
      if (!value) return std::nullopt;
      FPos += used;
      return value;
    }
    if (isLetter(c) || c == '_') {
      const std::size_t start = FPos;
      while (FPos < FText.size() && isNameChar(FText[FPos])) ++FPos;
      const std::string name = LowerCase(FText.substr(start, FPos - start));
      if (take('(')) return function(name);
      return FLookup(FParameters, name, FDepth);
    }
    return std::nullopt;
  }

  // The few functions a driver template plausibly uses.
  std::optional<double> function(const std::string& Name) {
    auto first = sum();
    if (!first) return std::nullopt;
    std::optional<double> second;
    if (take(',')) {
      second = sum();
      if (!second) return std::nullopt;
    }
    if (!take(')')) return std::nullopt;
    if (!second) {
      if (Name == "abs") return std::fabs(*first);
      if (Name == "sqrt" && *first >= 0) return std::sqrt(*first);
      if (Name == "exp") return std::exp(*first);
      if (Name == "ln" && *first > 0) return std::log(*first);
      if (Name == "log10" && *first > 0) return std::log10(*first);
      return std::nullopt;
    }
    if (Name == "min") return std::min(*first, *second);
    if (Name == "max") return std::max(*first, *second);
    if (Name == "pow" || Name == "pwr") return std::pow(*first, *second);
    return std::nullopt;
  }

  std::string_view FText;
  const TSpiceParameters& FParameters;
  std::optional<double> (*FLookup)(const TSpiceParameters&, const std::string&, int);
  int FDepth;
  std::size_t FPos = 0;
};

}  // namespace

std::string LowerCase(std::string_view Text) {
  std::string out(Text);
  for (char& c : out) c = lower(c);
  return out;
}

std::optional<double> ParseSpiceNumber(std::string_view Text, std::size_t* Consumed) {
  std::size_t pos = 0;
  if (pos < Text.size() && (Text[pos] == '+' || Text[pos] == '-')) ++pos;
  const std::size_t digitsStart = pos;
  bool digits = false;
  while (pos < Text.size() && isDigit(Text[pos])) {
    ++pos;
    digits = true;
  }
  if (pos < Text.size() && Text[pos] == '.') {
    ++pos;
    while (pos < Text.size() && isDigit(Text[pos])) {
      ++pos;
      digits = true;
    }
  }
  if (!digits) return std::nullopt;
  // An exponent only when digits follow the E; "1E" alone is not one.
  if (pos < Text.size() && lower(Text[pos]) == 'e') {
    std::size_t exp = pos + 1;
    if (exp < Text.size() && (Text[exp] == '+' || Text[exp] == '-')) ++exp;
    if (exp < Text.size() && isDigit(Text[exp])) {
      while (exp < Text.size() && isDigit(Text[exp])) ++exp;
      pos = exp;
    }
  }
  // from_chars, unlike strtod, does not depend on the C locale's decimal point.
  double value = 0.0;
  const auto* first = Text.data() + digitsStart;
  if (std::from_chars(first, Text.data() + pos, value).ec != std::errc()) return std::nullopt;
  if (Text[0] == '-') value = -value;

  std::size_t letters = pos;
  while (letters < Text.size() && isLetter(Text[letters])) ++letters;
  const std::string suffix = LowerCase(Text.substr(pos, letters - pos));
  double multiplier = 1.0;
  if (suffix.rfind("meg", 0) == 0) {
    multiplier = 1e6;
  } else if (suffix.rfind("mil", 0) == 0) {
    multiplier = 25.4e-6;
  } else if (!suffix.empty()) {
    switch (suffix[0]) {
      case 't':
        multiplier = 1e12;
        break;
      case 'g':
        multiplier = 1e9;
        break;
      case 'k':
        multiplier = 1e3;
        break;
      case 'm':
        multiplier = 1e-3;
        break;
      case 'u':
        multiplier = 1e-6;
        break;
      case 'n':
        multiplier = 1e-9;
        break;
      case 'p':
        multiplier = 1e-12;
        break;
      case 'f':
        multiplier = 1e-15;
        break;
      default:
        break;  // a unit such as V or Ohm
    }
  }
  if (Consumed) *Consumed = letters;
  value *= multiplier;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

void TSpiceParameters::Set(const std::string& Name, const std::string& Expression) {
  const std::string name = LowerCase(Name);
  if (FExpressions.count(name) == 0) FOrder.push_back(name);
  FExpressions[name] = Expression;
  // Any value may depend on this one.
  FValues.clear();
}

void TSpiceParameters::AddStatement(std::string_view Assignments) {
  // Each assignment is NAME = EXPRESSION; an expression runs up to the next "NAME =" or to a
  // comma outside brackets.
  std::size_t pos = 0;
  const auto skip = [&] {
    while (pos < Assignments.size() &&
           (std::isspace(static_cast<unsigned char>(Assignments[pos])) || Assignments[pos] == ','))
      ++pos;
  };
  skip();
  while (pos < Assignments.size()) {
    const std::size_t nameStart = pos;
    while (pos < Assignments.size() && isNameChar(Assignments[pos])) ++pos;
    const std::string name(Assignments.substr(nameStart, pos - nameStart));
    while (pos < Assignments.size() && std::isspace(static_cast<unsigned char>(Assignments[pos]))) ++pos;
    if (name.empty() || pos >= Assignments.size() || Assignments[pos] != '=') return;
    ++pos;
    const std::size_t exprStart = pos;
    int depth = 0;
    std::size_t exprEnd = Assignments.size();
    bool seen = false;  // the expression has begun
    for (std::size_t i = pos; i < Assignments.size(); ++i) {
      const char c = Assignments[i];
      if (!std::isspace(static_cast<unsigned char>(c))) seen = true;
      if (c == '(' || c == '{') ++depth;
      if (c == ')' || c == '}') --depth;
      if (depth > 0) continue;
      if (c == ',') {
        exprEnd = i;
        break;
      }
      // A blank followed by NAME and a single '=' starts the next assignment.
      if (std::isspace(static_cast<unsigned char>(c)) && seen) {
        std::size_t k = i;
        while (k < Assignments.size() && std::isspace(static_cast<unsigned char>(Assignments[k]))) ++k;
        const std::size_t nameBegin = k;
        while (k < Assignments.size() && isNameChar(Assignments[k])) ++k;
        const std::size_t nameEnd = k;
        while (k < Assignments.size() && std::isspace(static_cast<unsigned char>(Assignments[k]))) ++k;
        const bool single = k + 1 >= Assignments.size() || Assignments[k + 1] != '=';
        if (nameEnd > nameBegin && isLetter(Assignments[nameBegin]) && k < Assignments.size() &&
            Assignments[k] == '=' && single) {
          exprEnd = i;
          break;
        }
        // The blanks up to the name need no second look (a long run of them would otherwise
        // be scanned once for each of its blanks).
        i = nameBegin - 1;
      }
    }
    std::string expression(Assignments.substr(exprStart, exprEnd - exprStart));
    while (!expression.empty() && std::isspace(static_cast<unsigned char>(expression.back()))) expression.pop_back();
    while (!expression.empty() && std::isspace(static_cast<unsigned char>(expression.front()))) expression.erase(0, 1);
    Set(name, expression);
    pos = exprEnd;
    skip();
  }
}

std::optional<double> TSpiceParameters::Evaluate(std::string_view Expression) const {
  try {
    return evaluate(Expression, 0);
  } catch (const ESpiceExpressionError& error) {
    if (std::string_view(error.what()).rfind("the parameter ", 0) == 0) throw;
    constexpr std::size_t kShown = 24;
    const std::string shown(Expression.substr(0, kShown));
    throw ESpiceExpressionError("the expression " + shown + (Expression.size() > kShown ? "..." : "") + " is " +
                                error.what());
  }
}

std::optional<double> TSpiceParameters::Value(const std::string& Name) const { return valueOf(LowerCase(Name), 0); }

void TSpiceParameters::EvaluateAll() const {
  for (const auto& name : FOrder) valueOf(name, 0);
}

std::optional<double> TSpiceParameters::valueOf(const std::string& Name, int Depth) const {
  if (const auto known = FValues.find(Name); known != FValues.end()) return known->second;
  const auto found = FExpressions.find(Name);
  if (found == FExpressions.end()) return std::nullopt;
  // A parameter met again while it is being evaluated refers to itself: it has no value.
  if (!FEvaluating.insert(Name).second) return std::nullopt;
  struct Done {
    std::set<std::string>& Evaluating;
    const std::string& Name;
    ~Done() { Evaluating.erase(Name); }
  } done{FEvaluating, Name};
  std::optional<double> value;
  try {
    value = evaluate(found->second, Depth);
  } catch (const ESpiceExpressionError& error) {
    if (std::string_view(error.what()).rfind("the parameter ", 0) == 0) throw;
    throw ESpiceExpressionError("the parameter " + Name + " is " + error.what());
  }
  FValues.emplace(Name, value);
  return value;
}

std::optional<double> TSpiceParameters::evaluate(std::string_view Expression, int Depth) const {
  ExpressionReader reader(
      Expression, *this,
      [](const TSpiceParameters& Parameters, const std::string& Name, int Level) {
        return Parameters.valueOf(Name, Level);
      },
      Depth);
  return reader.Whole();
}

}  // namespace busweave

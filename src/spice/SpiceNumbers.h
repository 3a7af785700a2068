#pragma once

// Reading the numbers of a circuit the way SPICE does: scale suffixes (10.00ns, 1.00KOhm,
// 1MEG), units that follow them and mean nothing, and .PARAM expressions in braces. The time
// step rule needs the line delays and the driver's edges as values, not as text.

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace busweave {

// Text in lower case (ASCII letters only): SPICE names and keywords ignore case.
std::string LowerCase(std::string_view Text);

// A SPICE number at the start of Text: mantissa, optional exponent, optional scale suffix and
// any letters after it. Nothing when Text does not start with a number. Consumed tells how
// many characters made the number (the trailing letters included).
std::optional<double> ParseSpiceNumber(std::string_view Text, std::size_t* Consumed = nullptr);

// An expression the reader refuses as a whole: brackets, signs, powers and references to
// parameters nested deeper than MaxExpressionNesting. The text names the parameter.
class ESpiceExpressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int MaxExpressionNesting = 200;

// The .PARAM definitions of a circuit, evaluated on demand; each parameter is evaluated once
// and its value kept until the definitions change. Names are case-insensitive. Not for use by
// two threads at once.
class TSpiceParameters {
 public:
  // Takes the assignments of one .PARAM statement ("xTR = 10.00ns, xTP = {2*xTR}").
  void AddStatement(std::string_view Assignments);
  void Set(const std::string& Name, const std::string& Expression);

  // The value of an expression such as "{1.500E0/(xC0red)}", "2*(xTP+xTR)" or "10.00ns";
  // nothing when it uses an unknown name or function, divides by zero, is malformed or refers
  // to itself. Throws ESpiceExpressionError when it nests too deeply.
  std::optional<double> Evaluate(std::string_view Expression) const;
  std::optional<double> Value(const std::string& Name) const;
  // Every parameter in the order of definition, so that a long chain of parameters, each
  // referring to the one before, never nests deeper than one step. Throws as Evaluate does.
  void EvaluateAll() const;

 private:
  std::optional<double> valueOf(const std::string& Name, int Depth) const;
  std::optional<double> evaluate(std::string_view Expression, int Depth) const;

  std::map<std::string, std::string> FExpressions;               // lower-case name -> expression text
  std::vector<std::string> FOrder;                               // lower-case names as first defined
  mutable std::map<std::string, std::optional<double>> FValues;  // evaluated so far
  mutable std::set<std::string> FEvaluating;                     // being evaluated now
};

}  // namespace busweave

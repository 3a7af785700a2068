#include "gui/IntegerText.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace busweave {
namespace {

struct Reading {
  std::int64_t Value = 0;
  bool AnyDigit = false;
  std::size_t End = 0;  // where reading stopped
};

int digitValue(char C, int Base) {
  const unsigned char c = static_cast<unsigned char>(C);
  int value = 99;
  if (std::isdigit(c)) value = c - '0';
  if (std::isxdigit(c) && !std::isdigit(c)) value = std::toupper(c) - 'A' + 10;
  return value < Base ? value : -1;
}

Reading readInteger(const std::string& Text) {
  Reading reading;
  std::size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  int base = 10;
  if (i < Text.size() && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  constexpr std::int64_t kCap = std::numeric_limits<std::int64_t>::max() / 32;
  for (; i < Text.size(); ++i) {
    const int digit = digitValue(Text[i], base);
    if (digit < 0) break;
    reading.AnyDigit = true;
    reading.Value = std::min(kCap, reading.Value * base + digit);
  }
  if (negative) reading.Value = -reading.Value;
  reading.End = i;
  return reading;
}

}  // namespace

std::string RemoveSpaces(const std::string& Text) {
  std::string out;
  std::copy_if(Text.begin(), Text.end(), std::back_inserter(out), [](char C) { return C != ' '; });
  return out;
}

std::optional<std::int64_t> WholeInteger(const std::string& Text) {
  const Reading reading = readInteger(Text);
  if (!reading.AnyDigit || reading.End != Text.size()) return std::nullopt;
  return reading.Value;
}

std::optional<std::int64_t> StrictInteger(const std::string& Text) {
  const auto value = WholeInteger(Text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() || *value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return value;
}

std::int64_t LenientInteger(const std::string& Text) {
  const Reading reading = readInteger(Text);
  return reading.AnyDigit ? reading.Value : 0;
}

}  // namespace busweave

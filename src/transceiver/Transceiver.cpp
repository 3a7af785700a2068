#include "transceiver/Transceiver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

#include "base/NearestWord.h"
#include "base/SafeFile.h"

namespace busweave {
namespace {

enum class TQuantity { Voltage, Resistance, Time, Capacitance };

struct TUnit {
  std::string_view Name;
  double Scale;
};

struct TQuantityUnits {
  std::string_view Noun;  // "a voltage"
  std::string_view Example;
  std::vector<TUnit> Units;  // largest first, as range texts pick them
};

const TQuantityUnits& unitsOf(TQuantity Quantity) {
  static const std::array<TQuantityUnits, 4> table{{
      {"a voltage", "V", {{"V", 1.0}, {"mV", 1e-3}}},
      {"a resistance", "ohm", {{"Mohm", 1e6}, {"kohm", 1e3}, {"ohm", 1.0}}},
      {"a time", "ns", {{"s", 1.0}, {"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9}, {"ps", 1e-12}}},
      {"a capacitance", "pF", {{"F", 1.0}, {"nF", 1e-9}, {"pF", 1e-12}}},
  }};
  return table[static_cast<std::size_t>(Quantity)];
}

std::string unitList(TQuantity Quantity) {
  std::string text;
  for (const TUnit& unit : unitsOf(Quantity).Units) text.append(text.empty() ? "" : ", ").append(unit.Name);
  return text;
}

// A value in SI as the file would say it: "500 mV", "60 ohm", "530 ns".
std::string quantityText(double Value, TQuantity Quantity) {
  const auto& units = unitsOf(Quantity).Units;
  const TUnit* chosen = &units.back();
  for (const TUnit& unit : units)
    if (std::fabs(Value) >= unit.Scale * (1.0 - 1e-9)) {
      chosen = &unit;
      break;
    }
  if (Value == 0.0) chosen = Quantity == TQuantity::Resistance ? &units.back() : &units.front();
  char number[32];
  std::snprintf(number, sizeof number, "%g", Value / chosen->Scale);
  return std::string(number) + " " + std::string(chosen->Name);
}

// Where a key's value goes: a field of the class, or of one of its bit timing limits.
struct TKey {
  std::string Name;
  TQuantity Quantity;
  double Least;
  double Most;
  bool Optional;
  double TTransceiver::*Field;
  std::size_t Bit;
  double TBitTimingLimits::*BitField;

  double& In(TTransceiver& Class) const { return Field ? Class.*Field : Class.BitTiming[Bit].*BitField; }
};

const std::vector<TKey>& keys() {
  static const std::vector<TKey> table = [] {
    using T = TTransceiver;
    std::vector<TKey> k;
    const auto add = [&k](const char* Name, TQuantity Quantity, double Least, double Most, double T::*Field,
                          bool Optional = false) {
      k.push_back({Name, Quantity, Least, Most, Optional, Field, 0, nullptr});
    };
    const TQuantity v = TQuantity::Voltage, r = TQuantity::Resistance, t = TQuantity::Time, c = TQuantity::Capacitance;
    add("driver_dominant_voltage", v, 0.1, 10.0, &T::DriverDominantVoltage);
    add("driver_source_resistance", r, 1.0, 10e3, &T::DriverSourceResistance);
    add("driver_rise_time", t, 0.1e-9, 10e-6, &T::DriverRiseTime);
    add("driver_fall_time", t, 0.1e-9, 10e-6, &T::DriverFallTime);
    add("driver_delay_dominant", t, 0.0, 2e-6, &T::DriverDelayDominant);
    add("driver_delay_recessive", t, 0.0, 2e-6, &T::DriverDelayRecessive);
    add("receiver_delay_dominant", t, 0.0, 2e-6, &T::ReceiverDelayDominant);
    add("receiver_delay_recessive", t, 0.0, 2e-6, &T::ReceiverDelayRecessive);
    add("loop_delay_limit", t, 1e-9, 4e-6, &T::LoopDelayLimit);
    add("receiver_recessive_limit", v, 0.0, 5.0, &T::ReceiverRecessiveLimit);
    add("receiver_dominant_limit", v, 0.0, 5.0, &T::ReceiverDominantLimit);
    add("receiver_threshold", v, 0.0, 5.0, &T::ReceiverThreshold);
    add("receiver_hysteresis", v, 0.0, 1.0, &T::ReceiverHysteresis);
    add("input_resistance", r, 1e3, 10e6, &T::InputResistance);
    add("input_capacitance", c, 0.0, 1e-9, &T::InputCapacitance);
    add("sic_time", t, 1e-9, 5e-6, &T::SicTime, true);
    add("sic_resistance", r, 1.0, 10e3, &T::SicResistance, true);
    // Bit timing limits for each TXD bit time, within half and twice the bit.
    for (std::size_t bit = 0; bit < kLimitedBitTimes.size(); ++bit) {
      const double txd = kLimitedBitTimes[bit];
      const std::string prefix = "bit" + std::to_string(static_cast<int>(std::lround(txd * 1e9))) + "_";
      const std::array<std::pair<const char*, double TBitTimingLimits::*>, 6> fields{{
          {"bus_min", &TBitTimingLimits::BusBitMin},
          {"bus_max", &TBitTimingLimits::BusBitMax},
          {"rxd_min", &TBitTimingLimits::RxdBitMin},
          {"rxd_max", &TBitTimingLimits::RxdBitMax},
          {"rec_min", &TBitTimingLimits::ReceiverSymmetryMin},
          {"rec_max", &TBitTimingLimits::ReceiverSymmetryMax},
      }};
      for (const auto& [suffix, field] : fields) {
        const bool symmetry = std::string_view(suffix).substr(0, 3) == "rec";
        k.push_back({prefix + suffix, t, symmetry ? -txd / 2 : txd / 2, symmetry ? txd / 2 : 2 * txd, false, nullptr,
                     bit, field});
      }
    }
    return k;
  }();
  return table;
}

constexpr std::string_view kDescriptionKey = "description";

// Text in single quotes, as messages cite what the file says.
std::string quotedText(std::string_view Text) {
  std::string quoted(1, '\'');
  quoted.append(Text).push_back('\'');
  return quoted;
}

// Adds Text to a source note, a space between.
void appendNote(std::string& Note, std::string_view Text) {
  if (Text.empty()) return;
  if (!Note.empty()) Note.push_back(' ');
  Note.append(Text);
}

std::string_view trimmed(std::string_view Text) {
  const auto first = Text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = Text.find_last_not_of(" \t");
  return Text.substr(first, last - first + 1);
}

// Builds the messages: every one names the file, and the line and key where there are ones.
class TReader {
 public:
  explicit TReader(const std::string& Path) : FPath(Path) {}

  [[noreturn]] void Fail(std::size_t Line, std::string_view Key, const std::string& Problem) const {
    std::string text = FPath;
    if (Line > 0) text += ":" + std::to_string(Line);
    text += ": ";
    if (!Key.empty()) text += std::string(Key) + ": ";
    throw ETransceiverError(text + Problem);
  }

  // The value's number in SI, or a message saying what is wrong with it.
  double Quantity(std::size_t Line, const TKey& Key, std::string_view Value) const {
    double number = 0.0;
    const auto [end, error] = std::from_chars(Value.data(), Value.data() + Value.size(), number);
    const std::string quoted = quotedText(Value);
    const auto& units = unitsOf(Key.Quantity);
    if (end == Value.data())
      Fail(Line, Key.Name,
           quoted + " is not a number and a unit; give " + std::string(units.Noun) + " such as '1 " +
               std::string(units.Example) + "'");
    if (error == std::errc::result_out_of_range || !std::isfinite(number))
      Fail(Line, Key.Name, quoted + " is not a finite number");
    const std::string_view unit = trimmed(Value.substr(static_cast<std::size_t>(end - Value.data())));
    if (unit.empty())
      Fail(Line, Key.Name, quoted + " has no unit; give " + std::string(units.Noun) + " in " + unitList(Key.Quantity));
    const auto match = std::find_if(units.Units.begin(), units.Units.end(),
                                    [unit](const TUnit& Candidate) { return Candidate.Name == unit; });
    if (match == units.Units.end())
      Fail(Line, Key.Name,
           quoted + ": " + quotedText(unit) + " is no unit of " + std::string(units.Noun).substr(2) + " (" +
               unitList(Key.Quantity) + ")");
    const double value = number * match->Scale;
    if (value < Key.Least - 1e-15 || value > Key.Most + 1e-15)
      Fail(Line, Key.Name,
           quoted + " is out of range: it lies between " + quantityText(Key.Least, Key.Quantity) + " and " +
               quantityText(Key.Most, Key.Quantity));
    return value;
  }

 private:
  std::string FPath;
};

}  // namespace

TTransceiver ParseTransceiver(std::string_view Text, const std::string& Path, const std::string& Name) {
  const TReader reader(Path);
  TTransceiver result;
  result.Name = Name;
  result.Path = Path;

  std::vector<std::string> known{std::string(kDescriptionKey)};
  for (const TKey& key : keys()) known.push_back(key.Name);
  std::map<std::string, std::size_t, std::less<>> lineOf;  // key -> the line that set it
  std::string note;                                        // the comment lines above the keys that follow them
  bool afterKey = false;                                   // a comment line after a key starts a new note

  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < Text.size();) {
    const std::size_t newline = std::min(Text.find('\n', start), Text.size());
    std::string_view line = Text.substr(start, newline - start);
    start = newline + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) reader.Fail(lineNumber, {}, "the line holds a NUL byte");

    const std::size_t hash = line.find('#');
    const std::string_view comment =
        hash == std::string_view::npos ? std::string_view{} : trimmed(line.substr(hash + 1));
    const std::string_view content = trimmed(line.substr(0, hash));
    if (content.empty()) {
      if (hash == std::string_view::npos || afterKey) note.clear();  // a blank line ends a note
      appendNote(note, comment);
      afterKey = false;
      continue;
    }
    afterKey = true;

    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos)
      reader.Fail(lineNumber, {}, quotedText(content) + " is not of the form 'key = value'");
    const std::string_view key = trimmed(content.substr(0, equals));
    const std::string_view value = trimmed(content.substr(equals + 1));
    if (key.empty()) reader.Fail(lineNumber, {}, "a value without its key");
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      std::string problem = "unknown key";
      if (const auto nearest = NearestWord(key, known)) problem += "; did you mean '" + *nearest + "'?";
      reader.Fail(lineNumber, key, problem);
    }
    if (const auto earlier = lineOf.find(key); earlier != lineOf.end())
      reader.Fail(lineNumber, key, "given twice (first on line " + std::to_string(earlier->second) + ")");
    if (value.empty()) reader.Fail(lineNumber, key, "no value");
    lineOf.emplace(std::string(key), lineNumber);

    std::string source = note;
    appendNote(source, comment);
    if (!source.empty()) result.Sources.emplace(std::string(key), source);

    if (key == kDescriptionKey) {
      if (std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        reader.Fail(lineNumber, key, "holds a control character");
      result.Description = std::string(value);
      continue;
    }
    const TKey& spec = *std::find_if(keys().begin(), keys().end(), [key](const TKey& k) { return k.Name == key; });
    spec.In(result) = reader.Quantity(lineNumber, spec, value);
  }

  // What is missing, in the order the keys are documented.
  const auto missing = [&](std::string_view Key) { return lineOf.find(Key) == lineOf.end(); };
  if (missing(kDescriptionKey))
    reader.Fail(0, kDescriptionKey, "missing (every key but sic_time and sic_resistance is required)");
  for (const TKey& key : keys())
    if (!key.Optional && missing(key.Name))
      reader.Fail(0, key.Name, "missing (every key but sic_time and sic_resistance is required)");

  // The signal improvement phase needs both its length and its impedance.
  if (missing("sic_time") != missing("sic_resistance")) {
    const bool timeGiven = !missing("sic_time");
    reader.Fail(lineOf.at(timeGiven ? "sic_time" : "sic_resistance"), timeGiven ? "sic_time" : "sic_resistance",
                std::string("given without ") + (timeGiven ? "sic_resistance" : "sic_time") +
                    "; the recessive phase driven after each dominant bit needs both");
  }
  result.DrivesRecessivePhase = !missing("sic_time");

  // Figures that contradict each other leave the receiver or the limits meaningless.
  if (result.ReceiverRecessiveLimit >= result.ReceiverDominantLimit)
    reader.Fail(lineOf.at("receiver_dominant_limit"), "receiver_dominant_limit",
                "must lie above receiver_recessive_limit");
  if (result.ReceiverFallingThreshold() <= 0.0)
    reader.Fail(lineOf.at("receiver_hysteresis"), "receiver_hysteresis",
                "half of it must stay below receiver_threshold, or the receiver never reads recessive");
  for (std::size_t bit = 0; bit < kLimitedBitTimes.size(); ++bit) {
    TBitTimingLimits& limits = result.BitTiming[bit];
    limits.TxdBit = kLimitedBitTimes[bit];
    const std::string prefix = "bit" + std::to_string(static_cast<int>(std::lround(limits.TxdBit * 1e9))) + "_";
    for (const auto& [part, least, most] :
         {std::tuple{"bus", limits.BusBitMin, limits.BusBitMax}, std::tuple{"rxd", limits.RxdBitMin, limits.RxdBitMax},
          std::tuple{"rec", limits.ReceiverSymmetryMin, limits.ReceiverSymmetryMax}})
      if (least > most) {
        const std::string maxKey = prefix + part + "_max";
        reader.Fail(lineOf.at(maxKey), maxKey, "lies below " + prefix + part + "_min");
      }
  }
  return result;
}

TTransceiver ReadTransceiver(const std::string& Path) {
  const std::string text = readRegularFile(Path, kMostTransceiverFileBytes);
  return ParseTransceiver(text, Path, std::filesystem::path(Path).stem().string());
}

std::vector<TTransceiverFigure> TransceiverFigures(const TTransceiver& Class) {
  std::vector<TTransceiverFigure> figures;
  TTransceiver copy = Class;  // In() reads through a non-const class
  for (const TKey& key : keys())
    if (!key.Optional || Class.DrivesRecessivePhase)
      figures.push_back({key.Name, quantityText(key.In(copy), key.Quantity)});
  return figures;
}

}  // namespace busweave

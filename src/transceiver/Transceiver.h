#pragma once

// A transceiver class: the figures of one CAN transceiver (or of a bound that the standard sets
// for all of them) that the analysis needs, read from a small text file of its own.
//
// The file holds one `key = value` per line. `#` starts a comment, to the end of the line; the
// comment lines above a run of keys (up to a blank line), and a comment after a value, are the
// source note of those keys.
// Every value but the description is a number followed by its unit: V or mV; ohm, kohm or Mohm;
// s, ms, us, ns or ps; F, nF or pF. Every key is required except the two of the recessive phase
// driven after each dominant bit (sic_time, sic_resistance), which come together or not at all.
// A file is at most 64 KiB.

#include <array>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace busweave {

// A transceiver file that cannot be used; the text names the file, and where it can, the line and
// the key.
class ETransceiverError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the bit timing of a class may be for one TXD bit time (all in seconds): the recessive bit
// as it appears on the bus and at RXD, and how much a receiver's recessive bit may differ from
// the bus's (the receiver's timing symmetry).
struct TBitTimingLimits {
  double TxdBit = 0.0;
  double BusBitMin = 0.0;
  double BusBitMax = 0.0;
  double RxdBitMin = 0.0;
  double RxdBitMax = 0.0;
  double ReceiverSymmetryMin = 0.0;
  double ReceiverSymmetryMax = 0.0;
};

// The TXD bit times a class gives its bit timing limits for: 500 ns (2 Mbit/s) and 200 ns
// (5 Mbit/s).
inline constexpr std::array<double, 2> kLimitedBitTimes{500e-9, 200e-9};

// One transceiver class, in SI units (V, ohm, s, F). The driver is a differential source behind
// its source resistance; the receiver a comparator with hysteresis behind its input resistance and
// capacitance.
struct TTransceiver {
  std::string Name;         // the file's name without its extension
  std::string Description;  // one line for lists and reports
  std::string Path;         // the file it was read from
  std::string Replaces;     // the shipped file of the same name that a user's file replaces, if any

  double DriverDominantVoltage = 0.0;   // differential output, dominant, into 60 ohm
  double DriverSourceResistance = 0.0;  // differential, while dominant
  double DriverRiseTime = 0.0;          // differential output, recessive to dominant
  double DriverFallTime = 0.0;          // differential output, dominant to recessive
  double DriverDelayDominant = 0.0;     // TXD falling to the bus going dominant
  double DriverDelayRecessive = 0.0;    // TXD rising to the bus going recessive
  double ReceiverDelayDominant = 0.0;   // the bus going dominant to RXD falling
  double ReceiverDelayRecessive = 0.0;  // the bus going recessive to RXD rising
  double LoopDelayLimit = 0.0;          // the most either loop delay may be

  double ReceiverRecessiveLimit = 0.0;  // at or below: every receiver reads recessive
  double ReceiverDominantLimit = 0.0;   // at or above: every receiver reads dominant
  double ReceiverThreshold = 0.0;       // the middle of this class's two switching points
  double ReceiverHysteresis = 0.0;      // between the two switching points
  double InputResistance = 0.0;         // differential, recessive
  double InputCapacitance = 0.0;        // differential, recessive

  // The recessive phase driven with a low impedance for a set time after each dominant-to-
  // recessive TXD edge (signal improvement); both zero when the class has none.
  bool DrivesRecessivePhase = false;
  double SicTime = 0.0;
  double SicResistance = 0.0;

  std::array<TBitTimingLimits, kLimitedBitTimes.size()> BitTiming{};

  // Key -> the source note the file gives for it.
  std::map<std::string, std::string> Sources;

  double LoopDelayDominant() const { return DriverDelayDominant + ReceiverDelayDominant; }
  double LoopDelayRecessive() const { return DriverDelayRecessive + ReceiverDelayRecessive; }
  double ReceiverRisingThreshold() const { return ReceiverThreshold + ReceiverHysteresis / 2.0; }
  double ReceiverFallingThreshold() const { return ReceiverThreshold - ReceiverHysteresis / 2.0; }
};

// A class's figures as its file would give them: each key with its value in the unit that reads
// best ("2 V", "50 kohm", "65 ns"), in the file format's order; the recessive phase's only when the
// class has one.
struct TTransceiverFigure {
  std::string Key;
  std::string Value;
};
std::vector<TTransceiverFigure> TransceiverFigures(const TTransceiver& Class);

// The largest transceiver file read.
inline constexpr std::size_t kMostTransceiverFileBytes = 64 * 1024;

// The class in Text, read from the file Path (named in every message) as class Name. Throws
// ETransceiverError naming the file, the line and the key for an unknown, repeated or missing key,
// a value without its unit or with another quantity's, a number out of its key's range, or
// figures that contradict each other.
TTransceiver ParseTransceiver(std::string_view Text, const std::string& Path, const std::string& Name);

// Reads the class in the file Path, named after the file. Throws EFOpenError when the file cannot
// be read or is larger than kMostTransceiverFileBytes, ETransceiverError as ParseTransceiver.
TTransceiver ReadTransceiver(const std::string& Path);

}  // namespace busweave

#pragma once

// The bus check: rules of good practice for a high-speed CAN physical layer, run over a
// network. Each finding names what is wrong and the nodes and wires it concerns. The trunk and
// the stubs it measures are those of the bus's layout (BusLayout.h).

#include <cstdint>
#include <string>
#include <vector>

#include "model/NetworkContainer.h"

namespace busweave {

enum class TSeverity : std::uint8_t { Error, Warning, Note };

struct TFinding {
  TSeverity Severity = TSeverity::Error;
  std::string Rule;     // short identifier, e.g. "termination-count"
  std::string Message;  // one line for the user
  std::vector<TPoint> Nodes;
  std::vector<std::string> Wires;  // wire keys
};

// The limits the rules check against. The length limits follow the bit rate unless given.
//
// A node's resistance says what it is: the container's no-termination value means none; a
// value within the termination range is a termination; a value below the range, or above it up
// to TerminationNearMax, is a termination of the wrong value; anything higher is a station's
// input, which the bus rules leave alone.
struct TCheckSettings {
  std::uint32_t BitRate = 500000;          // bit/s
  std::uint16_t TerminationMin = 100;      // ohms
  std::uint16_t TerminationMax = 130;      // ohms
  std::uint16_t TerminationNearMax = 300;  // ohms
  std::uint16_t CableMin = 95;             // ohms, the impedance of CAN cable (120 nominal)
  std::uint16_t CableMax = 140;            // ohms
  // How far a termination may be from the impedance of the line it ends, in percent of the
  // line's: 120 ohms pass on any cable of the range.
  double TerminationTolerancePercent = 30;
  int MaxStations = 32;  // stations with a driver the transceivers can drive
  int MinStations = 2;
  double MaxBusLengthM = 0;        // 0: from the bit rate
  double MaxStubLengthM = 0;       // 0: from the bit rate
  double MaxTotalStubLengthM = 0;  // 0: ten times the stub limit
};

// The longest trunk for a bit rate, in whole millimetres, from the usual table: 5,000 m at
// 10 kbit/s, 2,500 m at 20 kbit/s, 1,000 m at 50 kbit/s, 500 m at 125 kbit/s, 250 m at
// 250 kbit/s, 100 m at 500 kbit/s, 50 m at 800 kbit/s and 40 m at 1 Mbit/s; exact at these
// rates, on a logarithmic scale in between (rounded to the millimetre), 5,000 m below 10 kbit/s
// and in inverse proportion above 1 Mbit/s.
std::uint64_t BusLengthLimitMm(std::uint32_t BitRate);
// The longest stub for a bit rate, in whole millimetres: 300 mm at 1 Mbit/s, longer in
// proportion at lower rates.
std::uint64_t StubLengthLimitMm(std::uint32_t BitRate);

// Runs every rule; the findings come errors first, then warnings, then notes. A pure function
// of its arguments.
std::vector<TFinding> CheckBus(const TCanNodes& Net, const TCheckSettings& Settings = {});

const char* SeverityName(TSeverity Severity);

}  // namespace busweave

#pragma once

// The bus check: rules of good practice for a high-speed CAN physical layer, run over a
// network. Each finding names what is wrong and the nodes and wires it concerns.

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
struct TCheckSettings {
  std::uint32_t BitRate = 500000;      // bit/s
  std::uint16_t TerminationMin = 100;  // ohms
  std::uint16_t TerminationMax = 130;  // ohms
  double ImpedanceTolerance = 0.10;    // allowed relative difference of a line from the terminations
  int MaxStations = 32;                // stations with a driver the transceivers can drive
  int MinStations = 2;
  double MaxBusLengthM = 0;        // 0: from the bit rate
  double MaxStubLengthM = 0;       // 0: from the bit rate
  double MaxTotalStubLengthM = 0;  // 0: ten times the stub limit
};

// The longest bus for a bit rate: 40 m at 1 Mbit/s, 100 m at 500 kbit/s, 250 m at 250 kbit/s,
// 500 m at 125 kbit/s, in between on a logarithmic scale, and in inverse proportion beyond.
double BusLengthLimitM(std::uint32_t BitRate);
// The longest stub for a bit rate: 0.3 m at 1 Mbit/s, longer in proportion at lower rates.
double StubLengthLimitM(std::uint32_t BitRate);

// Runs every rule; the findings come errors first, then warnings, then notes.
std::vector<TFinding> CheckBus(const TCanNodes& Net, const TCheckSettings& Settings = {});

const char* SeverityName(TSeverity Severity);

}  // namespace busweave

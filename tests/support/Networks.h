#pragma once

// Small networks the tests save as files.

#include <cstdint>
#include <string>

#include "model/NetworkContainer.h"

namespace busweave::test {

// Two stations 200 units apart joined by a 1.5 m, 120-ohm line: the first with a driver, the
// second terminated with 120 ohms.
inline void SaveTwoStationBus(const std::string& Path, const std::string& FirstName, const std::string& SecondName) {
  TCanNodes net(120, 1500, 120);
  net.AddNode({0, 0});
  net.AddNode({200, 0});
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.NodeAt({0, 0})->FName = FirstName;
  net.NodeAt({0, 0})->FSource = 1;
  net.NodeAt({200, 0})->FName = SecondName;
  net.NodeAt({200, 0})->FResistance = 120;
  net.WireAtIndex(2)->FLength = 1500;
  net.SaveNetwork(Path);
}

// Two stations with drivers, both terminated with 120 ohms, joined by a 120-ohm line of
// LengthMm: the smallest bus the analysis runs.
inline void SaveTwoDriverBus(const std::string& Path, std::uint16_t LengthMm = 1500) {
  TCanNodes net(120, 1500, 120);
  net.AddNode({0, 0});
  net.AddNode({200, 0});
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.NodeAt({0, 0})->FName = std::string("A");
  net.NodeAt({200, 0})->FName = std::string("B");
  for (const TPoint at : {TPoint{0, 0}, TPoint{200, 0}}) {
    net.NodeAt(at)->FSource = 1;
    net.NodeAt(at)->FResistance = 120;
  }
  net.WireAtIndex(2)->FLength = LengthMm;
  net.SaveNetwork(Path);
}

}  // namespace busweave::test

#pragma once

// Small networks the tests save as files.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// A bus drawn along y = 0: trunk nodes 200 units apart joined by 120-ohm wires of the given
// lengths (mm). A station with a driver sits on each trunk node named in Stations, or at the end
// of a stub of that many millimetres hanging below it (0: on the trunk). The nodes listed in
// Terminated (by trunk index; -1 - i for the station below trunk node i) carry 120 ohms.
struct TBusShape {
  std::vector<std::uint16_t> Trunk;                     // one length per trunk wire
  std::vector<std::pair<int, std::uint16_t>> Stations;  // trunk index, stub length
  std::vector<int> Terminated;
};

inline void SaveBus(const std::string& Path, const TBusShape& Shape) {
  TCanNodes net(120, 1500, 120);
  const auto trunkPoint = [](int I) { return TPoint{200 * I, 0}; };
  for (std::size_t i = 0; i <= Shape.Trunk.size(); ++i) net.AddNode(trunkPoint(static_cast<int>(i)));
  for (std::size_t i = 0; i < Shape.Trunk.size(); ++i) {
    net.AddWire(trunkPoint(static_cast<int>(i)), trunkPoint(static_cast<int>(i) + 1), 120, true);
    net.NearestWire({200 * static_cast<int>(i) + 100, 0})->FLength = Shape.Trunk[i];
  }
  int number = 0;
  for (const auto& [at, stub] : Shape.Stations) {
    TPoint station = trunkPoint(at);
    if (stub > 0) {
      station = {station.X, 100};
      net.AddNode(station);
      net.AddWire(trunkPoint(at), station, 120, true);
      net.NearestWire({station.X, 50})->FLength = stub;
    }
    net.NodeAt(station)->FSource = 1;
    std::string name = "S";
    name.append(std::to_string(++number));
    net.NodeAt(station)->FName = name;
  }
  for (int t : Shape.Terminated) net.NodeAt(t >= 0 ? trunkPoint(t) : TPoint{200 * (-1 - t), 100})->FResistance = 120;
  net.NumberNodeNames();
  net.SaveNetwork(Path);
}

// Three stations with drivers in a line, A - B - C, 2 m and then 10 m of 120-ohm line apart, with
// the terminations at A and at B in the middle, so that the 10 m to C end open: C's reflections
// keep the data phase from 4 Mbit/s, which moving B's termination to C reaches.
inline void SaveMisplacedTerminationBus(const std::string& Path) {
  TCanNodes net(120, 1500, 120);
  const TPoint a{0, 0}, b{200, 0}, c{400, 0};
  for (const TPoint at : {a, b, c}) net.AddNode(at);
  net.AddWire(a, b, 120, true);
  net.AddWire(b, c, 120, true);
  for (const auto& [at, name] : {std::pair{a, "A"}, std::pair{b, "B"}, std::pair{c, "C"}}) {
    net.NodeAt(at)->FName = std::string(name);
    net.NodeAt(at)->FSource = 1;
  }
  net.NodeAt(a)->FResistance = 120;
  net.NodeAt(b)->FResistance = 120;
  net.WireAtIndex(net.IndexOf(TCanNodes::WireKey(a, b)))->FLength = 2000;
  net.WireAtIndex(net.IndexOf(TCanNodes::WireKey(b, c)))->FLength = 10000;
  net.SaveNetwork(Path);
}

}  // namespace busweave::test

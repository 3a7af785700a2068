#pragma once

// Large networks for the benchmarks, written as network files.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/NetworkContainer.h"

namespace busweave::bench {

inline constexpr std::size_t kNodeEntry = 275;
inline constexpr std::size_t kWireEntry = 291;

inline std::string benchFile(const std::string& Name) {
  return (std::filesystem::temp_directory_path() / ("busweave-bench-" + Name)).string();
}

inline void appendEntry(std::string& Bytes, const std::string& ClassName, const auto& Record) {
  Bytes.push_back('\x06');
  Bytes.push_back(static_cast<char>(ClassName.size()));
  Bytes += ClassName;
  Bytes.append(reinterpret_cast<const char*>(Record.data()), Record.size());
}

// A serpentine chain of Nodes nodes on a 100-unit grid joined by Nodes - 1 wires, written
// in generation order (not key order).
inline std::string chainFile(int Nodes, int Columns) {
  std::vector<TPoint> points;
  for (int i = 0; i < Nodes; ++i) {
    const int row = i / Columns;
    const int column = row % 2 == 0 ? i % Columns : Columns - 1 - i % Columns;
    points.push_back({column * 100, row * 100});
  }
  std::string bytes = "\x01";
  for (const TPoint& p : points) {
    TNode node;
    node.FPos = p;
    node.FResistance = 1500;
    node.FShowName = 1;
    appendEntry(bytes, "TNode", node.PackRecord());
  }
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    TTrmLine wire;
    wire.FStart = points[i];
    wire.FEnd = points[i + 1];
    wire.FImpedance = 120;
    wire.FLength = 500;
    wire.FShowLength = 1;
    appendEntry(bytes, "TTrmLine", wire.PackRecord());
  }
  bytes.push_back('\0');
  return bytes;
}

inline void writeFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc)
      .write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

// A loaded serpentine chain of Nodes nodes.
inline void loadChain(TCanNodes& Net, int Nodes, int Columns, const std::string& Name) {
  const std::string path = benchFile(Name);
  writeFile(path, chainFile(Nodes, Columns));
  Net.LoadNetwork(path);
}

}  // namespace busweave::bench

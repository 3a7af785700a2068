#include "base/Units.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace busweave {

std::string TimeText(double Seconds) {
  struct Unit {
    double Scale;
    const char* Name;
  };
  static constexpr Unit kUnits[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}, {1e-12, "ps"}, {1e-15, "fs"}};
  const double magnitude = std::fabs(Seconds);
  const Unit* unit = &kUnits[std::size(kUnits) - 1];
  for (const Unit& candidate : kUnits) {
    if (magnitude >= candidate.Scale * 0.9995) {
      unit = &candidate;
      break;
    }
  }
  if (Seconds == 0.0) unit = &kUnits[0];
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, Seconds / unit->Scale, std::chars_format::general, 4);
  return std::string(buffer, result.ptr) + " " + unit->Name;
}

std::string RateText(std::int64_t BitsPerSecond) {
  char text[32];
  if (BitsPerSecond >= 1000000 && BitsPerSecond % 1000 == 0)
    std::snprintf(text, sizeof text, "%g Mbit/s", static_cast<double>(BitsPerSecond) / 1e6);
  else if (BitsPerSecond >= 1000)
    std::snprintf(text, sizeof text, "%g kbit/s", static_cast<double>(BitsPerSecond) / 1e3);
  else
    std::snprintf(text, sizeof text, "%lld bit/s", static_cast<long long>(BitsPerSecond));
  return text;
}

}  // namespace busweave

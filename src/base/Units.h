#pragma once

// The wording of quantities in every message, table and report: one way to say a time and one
// way to say a bit rate.

#include <cstdint>
#include <string>

namespace busweave {

// A time in engineering form for messages: "1 ns", "0.75 ns", "2 us".
std::string TimeText(double Seconds);

// A bit rate as CAN engineers say it: "500 kbit/s", "1 Mbit/s", "1.5 Mbit/s", "800 bit/s".
std::string RateText(std::int64_t BitsPerSecond);

}  // namespace busweave

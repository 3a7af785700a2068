#pragma once

// Numbers as the network section of the circuit writes them.

#include <string>

namespace busweave {

// The number in exponent form with Digits decimals and a short exponent: 2.500E-1, 1.200E1.
std::string FormatReal(int Digits, long double X);

}  // namespace busweave

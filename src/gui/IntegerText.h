#pragma once

// Reading numbers typed into the dialogs' fields.

#include <cstdint>
#include <optional>
#include <string>

namespace busweave {

std::string RemoveSpaces(const std::string& Text);

// The whole text as an integer: an optional sign, then decimal digits, or hexadecimal digits
// after "$" or "0x". Nothing when the text is anything else or leaves the 32-bit range.
std::optional<std::int64_t> StrictInteger(const std::string& Text);

// As StrictInteger, but any number of digits is accepted; very long numbers saturate, so a
// field can tell "not a number" from "a number out of range".
std::optional<std::int64_t> WholeInteger(const std::string& Text);

// The integer the text begins with (same forms as above); reading stops at the first character
// that does not fit. 0 when there is none. Very long numbers saturate instead of wrapping.
std::int64_t LenientInteger(const std::string& Text);

}  // namespace busweave

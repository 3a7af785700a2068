#pragma once

// Errors the model raises to its callers; the texts reach the user in a message box.

#include <stdexcept>
#include <string>

#include "base/FileErrors.h"

namespace busweave {

// A key that is already present was inserted into a list that refuses duplicates.
class EStringListError : public std::runtime_error {
 public:
  EStringListError() : std::runtime_error("String list does not allow duplicates") {}
};

// An element was offered to a network that already holds as many as its 16-bit counters and
// its file can count.
class ETooManyElements : public std::runtime_error {
 public:
  ETooManyElements() : std::runtime_error("a network holds at most 65535 elements") {}
};

}  // namespace busweave

#pragma once

// Errors the model raises to its callers; the texts reach the user in a message box.

#include <stdexcept>
#include <string>

namespace busweave {

// A key that is already present was inserted into a list that refuses duplicates.
class EStringListError : public std::runtime_error {
 public:
  EStringListError() : std::runtime_error("String list does not allow duplicates") {}
};

// A file could not be created for writing.
class EFCreateError : public std::runtime_error {
 public:
  explicit EFCreateError(const std::string& Path) : std::runtime_error("Cannot create file " + Path) {}
};

// A file could not be opened or read; Reason says why ("not a regular file", the system's words).
class EFOpenError : public std::runtime_error {
 public:
  EFOpenError(const std::string& Path, const std::string& Reason)
      : std::runtime_error("Cannot open file " + Path + ": " + Reason) {}
};

// Writing to a file failed part way.
class EWriteError : public std::runtime_error {
 public:
  EWriteError() : std::runtime_error("Stream write error") {}
};

}  // namespace busweave

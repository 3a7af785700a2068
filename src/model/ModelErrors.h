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

// A file could not be created for writing; Reason, when given, says why (the system's words or
// ours), after the text users know.
class EFCreateError : public std::runtime_error {
 public:
  explicit EFCreateError(const std::string& Path) : std::runtime_error("Cannot create file " + Path) {}
  EFCreateError(const std::string& Path, const std::string& Reason)
      : std::runtime_error("Cannot create file " + Path + ": " + Reason) {}
};

// A file could not be opened or read; Reason says why ("not a regular file", the system's words).
// SystemError is the errno behind it, 0 when the file opened but was refused.
class EFOpenError : public std::runtime_error {
 public:
  EFOpenError(const std::string& Path, const std::string& Reason, int SystemError = 0)
      : std::runtime_error("Cannot open file " + Path + ": " + Reason), FReason(Reason), FSystemError(SystemError) {}

  const std::string& Reason() const { return FReason; }
  int SystemError() const { return FSystemError; }

 private:
  std::string FReason;
  int FSystemError;
};

// Writing to a file failed part way.
class EWriteError : public std::runtime_error {
 public:
  EWriteError() : std::runtime_error("Stream write error") {}
  EWriteError(const std::string& Path, const std::string& Reason)
      : std::runtime_error("Stream write error in file " + Path + ": " + Reason) {}
};

// An element was offered to a network that already holds as many as its 16-bit counters and
// its file can count.
class ETooManyElements : public std::runtime_error {
 public:
  ETooManyElements() : std::runtime_error("a network holds at most 65535 elements") {}
};

}  // namespace busweave

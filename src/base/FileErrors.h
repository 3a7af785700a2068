#pragma once

// The errors of reading and writing files; the texts reach the user in a message box or on
// stderr as they are.

#include <stdexcept>
#include <string>

namespace busweave {

// The one family of file errors: each names the file and the reason (the system's words or
// ours) after the text users know ("Cannot create file X", "Cannot open file X", "Stream write
// error in file X"). Commands catch them and show what() as it is.
class EFileError : public std::runtime_error {
 public:
  EFileError(const std::string& Text, const std::string& Path, const std::string& Reason)
      : std::runtime_error(Text + " " + Path + ": " + Reason), FPath(Path), FReason(Reason) {}

  const std::string& Path() const { return FPath; }
  const std::string& Reason() const { return FReason; }

 private:
  std::string FPath;
  std::string FReason;
};

// A file could not be created or replaced for writing.
class EFCreateError : public EFileError {
 public:
  EFCreateError(const std::string& Path, const std::string& Reason) : EFileError("Cannot create file", Path, Reason) {}
};

// A file could not be opened or read. SystemError is the errno behind it, 0 when the file
// opened but was refused (not a regular file, too large).
class EFOpenError : public EFileError {
 public:
  EFOpenError(const std::string& Path, const std::string& Reason, int SystemError = 0)
      : EFileError("Cannot open file", Path, Reason), FSystemError(SystemError) {}

  int SystemError() const { return FSystemError; }

 private:
  int FSystemError;
};

// Writing to a file failed part way.
class EWriteError : public EFileError {
 public:
  EWriteError(const std::string& Path, const std::string& Reason)
      : EFileError("Stream write error in file", Path, Reason) {}
};

}  // namespace busweave

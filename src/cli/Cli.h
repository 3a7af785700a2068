#pragma once

// busweave-cli: commands that work on network files without a window.

#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

namespace busweave::cli {

enum ExitCode : int { ExitDone = 0, ExitFailure = 1, ExitUsage = 2 };

// Runs one command line (without the program name); normal output goes to Out, messages to Err.
// Output that cannot be written makes the command fail with a message, also after it succeeded.
int RunCli(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// An output buffer over a file descriptor that keeps the system's reason when a write fails, so
// RunCli can name the output and say why it was lost (a full disk, a closed pipe).
class TFdOutputBuffer : public std::streambuf {
 public:
  TFdOutputBuffer(int Fd, std::string Name);
  ~TFdOutputBuffer() override;
  TFdOutputBuffer(const TFdOutputBuffer&) = delete;
  TFdOutputBuffer& operator=(const TFdOutputBuffer&) = delete;

  const std::string& Name() const { return FName; }
  // The errno of the first failed write, 0 while none failed.
  int Error() const { return FError; }

 protected:
  int_type overflow(int_type C) override;
  int sync() override;

 private:
  bool drain();

  int FFd;
  std::string FName;
  std::vector<char> FBuffer;
  int FError = 0;
};

}  // namespace busweave::cli

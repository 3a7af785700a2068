#pragma once

// busweave-cli: commands that work on network files without a window.

#include <iosfwd>
#include <string>
#include <vector>

namespace busweave::cli {

enum ExitCode : int { ExitDone = 0, ExitFailure = 1, ExitUsage = 2 };

// Runs one command line (without the program name); normal output goes to Out, messages to Err.
int RunCli(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace busweave::cli

#pragma once

// Runs one busweave-cli command line in the test process and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace busweave::test {

struct Outcome {
  int Code;
  std::string Out;
  std::string Err;
};

inline Outcome run(const std::vector<std::string>& Args) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = cli::RunCli(Args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace busweave::test

#include <unistd.h>

#include <iostream>
#include <ostream>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  busweave::cli::TFdOutputBuffer output(STDOUT_FILENO, "standard output");
  std::ostream out(&output);
  return busweave::cli::RunCli(args, out, std::cerr);
}

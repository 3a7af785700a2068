#pragma once

// Runs a program (busweave-cli as built, or a tool such as ngspice) as a process of its own,
// with no standard input unless one is given, and keeps what it printed. A program still running after the time
// limit is killed, so that a command that blocks fails its test instead of hanging it.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TempFolder.h"

namespace busweave::test {

struct ProgramOutcome {
  int Code;  // the exit code, or 128 + the signal that ended the program; 127 when not started
  std::string Out;
  std::string Err;
};

// Stdin names what the program reads as standard input; StdoutFile, when given, takes its
// standard output (a device or a FIFO included) and Out stays empty.
inline ProgramOutcome RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                                 unsigned TimeLimitSeconds = 60, const std::string& Stdin = "/dev/null",
                                 const std::string& StdoutFile = "") {
  TempFolder scratch;
  const std::string out = StdoutFile.empty() ? scratch.File("stdout") : StdoutFile;
  const std::string err = scratch.File("stderr");
  // Everything the child needs is made before fork: after it only exec-safe calls.
  std::vector<std::string> words{Program};
  words.insert(words.end(), Args.begin(), Args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open(Stdin.c_str(), O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::alarm(TimeLimitSeconds);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return {127, "", "could not run " + Program};
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, StdoutFile.empty() ? ReadBytes(out) : std::string(), ReadBytes(err)};
}

#ifdef BUSWEAVE_CLI_PROGRAM
// busweave-cli as built, through its main().
inline ProgramOutcome RunCliProgram(const std::vector<std::string>& Args, unsigned TimeLimitSeconds = 60) {
  return RunProgram(BUSWEAVE_CLI_PROGRAM, Args, TimeLimitSeconds);
}
#endif

}  // namespace busweave::test

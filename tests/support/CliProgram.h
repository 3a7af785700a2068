#pragma once

// Runs a program (busweave-cli as built, or a tool such as ngspice) as a process of its own,
// with no standard input unless one is given, and keeps what it printed. A program still running after the time
// limit is killed, so that a command that blocks fails its test instead of hanging it. The limit
// guards against a hang only: it grows with the machine's load, so that a busy machine (a
// parallel test run, a sanitizer build beside it) slows a test down without failing it.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TempFolder.h"

namespace busweave::test {

// Seconds scaled by how many processes wait for each core, ten times at most.
inline unsigned LoadScaledSeconds(unsigned Seconds) {
  double load[1] = {0.0};
  const double cores = std::max(1u, std::thread::hardware_concurrency());
  const double factor = ::getloadavg(load, 1) == 1 ? std::clamp(1.0 + load[0] / cores, 1.0, 10.0) : 1.0;
  return static_cast<unsigned>(Seconds * factor);
}

struct ProgramOutcome {
  int Code;  // the exit code, or 128 + the signal that ended the program; 127 when not started
  std::string Out;
  std::string Err;
};

// A program started as a process of its own, for a test that signals it while it runs. Stdin
// names what the program reads as standard input; StdoutFile, when given, takes its standard
// output (a device or a FIFO included) and Out stays empty; Environment adds NAME=value entries.
class StartedProgram {
 public:
  StartedProgram(const std::string& Program, const std::vector<std::string>& Args, unsigned TimeLimitSeconds = 60,
                 const std::string& Stdin = "/dev/null", const std::string& StdoutFile = "",
                 const std::vector<std::string>& Environment = {})
      : FProgram(Program),
        FOut(StdoutFile.empty() ? FScratch.File("stdout") : StdoutFile),
        FOwnOut(StdoutFile.empty()),
        FErr(FScratch.File("stderr")) {
    // Everything the child needs is made before fork: after it only exec-safe calls.
    const unsigned limit = LoadScaledSeconds(TimeLimitSeconds);
    std::vector<std::string> words{Program};
    words.insert(words.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries(Environment);
    for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    FPid = ::fork();
    if (FPid == 0) {
      const int in = ::open(Stdin.c_str(), O_RDONLY);
      const int o = ::open(FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || o < 0 || e < 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::alarm(limit);
      ::execvpe(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~StartedProgram() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  pid_t Pid() const { return FPid; }

  // Waits for the end of the program.
  ProgramOutcome Wait() {
    int status = 0;
    const pid_t pid = std::exchange(FPid, 0);
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return {127, "", "could not run " + FProgram};
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, FOwnOut ? ReadBytes(FOut) : std::string(), ReadBytes(FErr)};
  }

 private:
  TempFolder FScratch;
  std::string FProgram;
  std::string FOut;
  bool FOwnOut;
  std::string FErr;
  pid_t FPid = -1;
};

inline ProgramOutcome RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                                 unsigned TimeLimitSeconds = 60, const std::string& Stdin = "/dev/null",
                                 const std::string& StdoutFile = "") {
  return StartedProgram(Program, Args, TimeLimitSeconds, Stdin, StdoutFile).Wait();
}

// The processes whose parent is Parent.
inline std::vector<pid_t> ChildProcesses(pid_t Parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadBytes((entry.path() / "stat").string());
    // pid (name) state ppid ...: the name may hold spaces and parentheses.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == Parent) children.push_back(std::stoi(name));
  }
  return children;
}

#ifdef BUSWEAVE_CLI_PROGRAM
// busweave-cli as built, through its main().
inline ProgramOutcome RunCliProgram(const std::vector<std::string>& Args, unsigned TimeLimitSeconds = 60) {
  return RunProgram(BUSWEAVE_CLI_PROGRAM, Args, TimeLimitSeconds);
}
#endif

}  // namespace busweave::test

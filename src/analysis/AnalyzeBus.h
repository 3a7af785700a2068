#pragma once

// One analysis of a planned bus, made the same way for the command line, the program and the
// advice search: every transmitter's edge runs, the verdict of the streams composed from them,
// proved by full runs of the stream at the rates that decide. A rate whose proof did not finish
// fails, by name; nothing unproved is stated as working.

#include <functional>
#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "verdict/StreamVerdict.h"

namespace busweave {

struct TAnalyzeOptions {
  TRunOptions Run;                 // who runs, how many at a time, progress and stop
  bool Confirm = true;             // prove the verdict by full runs of the stream
  std::function<void()> Checking;  // called once before the full runs, on the calling thread
};

struct TBusAnalysis {
  std::vector<TTransmitterRun> Runs;
  TStreamVerdict Verdict;
  bool Cancelled = false;
};

// Refuses a bus too large for this computer, runs every transmitter of Plan, judges and proves.
// Throws EAnalysisError when an edge run fails: without every run there is no verdict.
TBusAnalysis AnalyzeBus(const TAnalysisPlan& Plan, const TAnalysisSettings& Settings, const TAnalyzeOptions& Options);

// The verdict of runs already made (the parts of a sharded analysis), proved as AnalyzeBus
// proves it. Without a plan (NoPlan says why) nothing can be proved: the rates that needed a
// full run fail, named. Returns false when stopped.
bool ProveRuns(const TAnalysisPlan* Plan, const std::string& NoPlan, const std::vector<TTransmitterRun>& Runs,
               const TAnalysisSettings& Settings, const TAnalyzeOptions& Options, TStreamVerdict& Verdict);

}  // namespace busweave

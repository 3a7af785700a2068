// The worker processes of the bus analysis: the pool that runs transmitters in them, the
// check of a verdict by full runs of the stream, and the analyze-worker command itself.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>
#include <span>
#include <thread>
#include <utility>

#ifdef __linux__
#include <sys/prctl.h>
#include <unistd.h>
#endif

#include "analysis/AnalysisRun.h"
#include "model/NameText.h"
#include "spice/SpiceEngine.h"
#include "spice/SpiceNumbers.h"
#include "spice/SpiceTranslation.h"
#include "spice/Waveforms.h"

namespace busweave {

namespace {

// The rate as the full run of its deciding transmitter's stream leaves it: failing with that
// run's first failure, or working with its least margin unless another transmitter's stream
// (not run in full) fails.
void decideByFullRun(TRateVerdict& Rate, const std::vector<TReceiverMargin>& Full, bool Works,
                     const std::string& Failure, const TReceiverMargin* OtherFailure) {
  TWorstPair& worst = *Rate.Worst;
  worst.Value.reset();
  if (!Works) {
    Rate.Works = false;
    worst.Figure = "decode";
    for (const TReceiverMargin& m : Full)
      if (!m.Works) {
        worst.Receiver = m.Receiver;
        worst.Figure = m.Misread ? "decode" : "margin";
        break;
      }
    worst.Text = Failure + " (full run of the stream)";
    return;
  }
  if (OtherFailure) {
    Rate.Works = false;
    worst.Transmitter = OtherFailure->Transmitter;
    worst.Receiver = OtherFailure->Receiver;
    worst.Figure = OtherFailure->Misread ? "decode" : "margin";
    worst.Text = OtherFailure->Text;
    return;
  }
  Rate.Works = true;
  const TReceiverMargin* least = nullptr;
  for (const TReceiverMargin& m : Full)
    if (!least || std::min(m.EarlyMargin, m.LateMargin) < std::min(least->EarlyMargin, least->LateMargin)) least = &m;
  worst.Figure = "margin";
  if (least) {
    worst.Receiver = least->Receiver;
    worst.Value = std::min(least->EarlyMargin, least->LateMargin);
    worst.Text = MarginText(*least) + " (full run of the stream)";
  }
}

// How long a worker may send nothing before it is taken for stopped or hung.
constexpr double kWorkerTimeout = 120.0;
constexpr double kShortestWorkerTimeout = 0.1;
constexpr double kLongestWorkerTimeout = 86400.0;
constexpr const char* kWorkerTimeoutVariable = "BUSWEAVE_WORKER_TIMEOUT";

// The timeout from the environment; nothing when it is set but not seconds in range.
std::optional<double> workerTimeout() {
  const char* text = std::getenv(kWorkerTimeoutVariable);
  if (!text || !*text) return kWorkerTimeout;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !(seconds >= kShortestWorkerTimeout && seconds <= kLongestWorkerTimeout)) return std::nullopt;
  return seconds;
}

}  // namespace

bool ConfirmVerdict(const TAnalysisPlan& Plan, const std::vector<TTransmitterRun>& Runs,
                    const TAnalysisSettings& Settings, const TRunOptions& Options, TStreamVerdict& Verdict,
                    const std::vector<std::pair<TBusPhase, std::int64_t>>& Only) {
  if (Runs.empty()) return true;
  const TDriverReference reference = DriverReferenceOf(Runs.front().Reference, Settings.Thresholds);
  struct TTarget {
    TRateVerdict* Rate = nullptr;
    std::size_t Transmitter = 0;
    TRunsOutcome Full;
    std::string Error;
  };
  std::set<std::pair<int, std::int64_t>> checked;  // (phase, rate)
  for (std::size_t round = 0; round <= Verdict.Bus.Rates.size(); ++round) {
    // The rates that decide each phase: its highest working and its lowest failing one.
    std::vector<TTarget> targets;
    for (const TBusPhase phase : {TBusPhase::Arbitration, TBusPhase::Data}) {
      TRateVerdict* highest = nullptr;
      TRateVerdict* lowest = nullptr;
      for (TRateVerdict& r : Verdict.Bus.Rates) {
        if (r.Phase != phase || !r.Worst) continue;
        if (r.Works && (!highest || r.BitRate > highest->BitRate)) highest = &r;
        if (!r.Works && (!lowest || r.BitRate < lowest->BitRate)) lowest = &r;
      }
      // The working rate below the highest too, side by side with it: when the highest fails
      // in its full run, that one decides next, and a round is saved.
      TRateVerdict* below = nullptr;
      for (TRateVerdict& r : Verdict.Bus.Rates)
        if (highest && !checked.count({static_cast<int>(phase), highest->BitRate}) && r.Phase == phase && r.Worst &&
            r.Works && r.BitRate < highest->BitRate && (!below || r.BitRate > below->BitRate))
          below = &r;
      std::vector<TRateVerdict*> deciding{highest, lowest, below};
      if (!Only.empty()) {
        deciding.clear();
        for (TRateVerdict& r : Verdict.Bus.Rates)
          if (r.Phase == phase && r.Worst &&
              std::find(Only.begin(), Only.end(), std::pair{phase, r.BitRate}) != Only.end())
            deciding.push_back(&r);
      }
      for (TRateVerdict* rate : deciding) {
        if (!rate || !checked.insert({static_cast<int>(phase), rate->BitRate}).second) continue;
        // A failing round trip is no matter of the stream: nothing to run.
        if (rate->Worst->Figure == "round_trip" || rate->Worst->Figure == "no_edge" ||
            rate->Worst->Figure == "unproved")
          continue;
        const auto sender = std::find_if(Plan.Stations.begin(), Plan.Stations.end(),
                                         [&](const TStation& S) { return S.Name == rate->Worst->Transmitter; });
        if (sender == Plan.Stations.end()) continue;
        const auto transmitter = static_cast<std::size_t>(sender - Plan.Stations.begin());
        // Bits of a microsecond and more, twice as long as the bus takes to settle, start every
        // edge from a settled bus and a recovered driver: there the sum of the responses is the
        // full run (which would cost tens of microseconds of simulated time). A response still
        // moving when its run ended has not settled, however quiet its last samples look.
        double settling = 0.0;
        for (const TTransmitterRun& run : Runs)
          if (run.Transmitter == static_cast<int>(transmitter))
            for (const TStationResponse& station : run.Stations)
              settling = std::max(settling, SettlingTime(station.Responses));
        const double bitTime = 1.0 / static_cast<double>(rate->BitRate);
        if (bitTime >= 1e-6 && 2.0 * settling <= bitTime) continue;
        targets.push_back({rate, transmitter, {}, {}});
      }
    }
    if (targets.empty()) break;
    // The full runs side by side, a worker each.
    std::vector<std::thread> threads;
    for (TTarget& target : targets)
      threads.emplace_back([&target, &Plan, &Options, &reference, &Settings] {
        TRunOptions options = Options;
        options.Jobs = 1;
        options.KeepTraces = false;
        options.PatternRate = target.Rate->BitRate;
        options.PatternShift = DriverCompensation(reference, Settings);
        options.Progress = nullptr;
        try {
          target.Full = RunTransmitters(Plan, {target.Transmitter}, options);
          if (!target.Full.Cancelled && target.Full.Runs.size() != 1)
            throw EAnalysisError("the full run gave no result");
        } catch (const std::exception& error) {
          target.Error = error.what();
        }
      });
    for (std::thread& thread : threads) thread.join();

    bool changed = false;
    bool cancelled = false;
    for (TTarget& target : targets) {
      TRateVerdict& rate = *target.Rate;
      const std::string& sender = Plan.Stations[target.Transmitter].Name;
      const std::string what = std::string(PhaseName(rate.Phase)) + " " + RateText(rate.BitRate) + " from " + sender;
      if (target.Error.empty() && target.Full.Cancelled) {
        cancelled = true;
        continue;
      }
      if (!target.Error.empty()) {
        // Nothing proved this rate: it fails, by name; the next lower one decides next.
        const std::string why = "the full run of the stream at " + what + " did not finish: " + target.Error;
        Verdict.Unproved.push_back(why);
        Verdict.Confirmations.push_back(why + "; the rate is not proved and counts as failing");
        if (rate.Works) changed = true;
        rate.Works = false;
        rate.Worst->Figure = "unproved";
        rate.Worst->Value.reset();
        rate.Worst->Text = "not proved: " + why;
        continue;
      }
      const TPatternRun& pattern = target.Full.Runs.front().Pattern;
      std::string failure;
      std::vector<TReceiverMargin> full;
      const bool works = JudgePatternRun(pattern.Stations, static_cast<int>(target.Transmitter), pattern.Start,
                                         rate.Phase, rate.BitRate, Settings, failure, &full);
      // What the responses said of this transmitter's stream alone, and of the others'.
      bool composed = true;
      const TReceiverMargin* otherFailure = nullptr;
      for (const TReceiverMargin& m : Verdict.Margins) {
        if (m.Phase != rate.Phase || m.BitRate != rate.BitRate || m.Works) continue;
        if (m.Transmitter == sender)
          composed = false;
        else if (!otherFailure)
          otherFailure = &m;
      }
      const std::string found = works ? std::string("every bit read right") : failure;
      if (works == composed)
        Verdict.Confirmations.push_back("the full run of the stream at " + what + " agrees: " + found);
      else
        Verdict.Confirmations.push_back("the full run of the stream at " + what +
                                        " disagrees with the sum of the edge responses: " + found +
                                        "; the full run decides");
      const bool was = rate.Works;
      // The deciding pair and the margins stated are the full run's: it decides this stream.
      decideByFullRun(rate, full, works, failure, otherFailure);
      std::erase_if(Verdict.Margins, [&](const TReceiverMargin& M) {
        return M.Phase == rate.Phase && M.BitRate == rate.BitRate && M.Transmitter == sender;
      });
      Verdict.Margins.insert(Verdict.Margins.end(), full.begin(), full.end());
      changed = changed || rate.Works != was;
    }
    if (cancelled) return false;
    if (!changed) break;
    CountMaxima(Verdict.Bus);
    AddEyes(ResponsesOf(Runs), reference, Settings, Verdict);
    if (!Only.empty()) break;
  }
  CountMaxima(Verdict.Bus);
  return true;
}

namespace {

// A plan with its driver's run goes whole, so that the worker plans and probes nothing; without
// one, the circuit, which the worker plans itself.
QByteArray workerInput(const TAnalysisPlan& Plan) {
  QByteArray input;
  if (Plan.DriverRun) {
    const std::string json = AnalysisPlanJson(Plan);
    return input.append(json.data(), static_cast<qsizetype>(json.size())).append('\n');
  }
  for (const std::string& line : Plan.Circuit)
    input.append(line.data(), static_cast<qsizetype>(line.size())).append('\n');
  return input;
}

// A worker ends with the process that started it: a parent that is killed or interrupted (kill
// -TERM, Ctrl+C) must not leave simulations running for nobody.
void endWithParent([[maybe_unused]] QProcess& Process) {
#ifdef __linux__
  const pid_t parent = getpid();
  Process.setChildProcessModifier([parent] {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have gone before the line above took effect.
    if (getppid() != parent) _exit(1);
  });
#endif
}

}  // namespace

TRunsOutcome RunTransmitters(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                             const TRunOptions& Options) {
  if (Options.Runner) return Options.Runner->Run(Plan, Transmitters, Options);
  return RunInWorkers(Plan, Transmitters, Options);
}

TAnalysisPlan WithDriverRun(const TAnalysisPlan& Plan, const TRunOptions& Options) {
  if (Plan.DriverRun || Options.Runner) return Plan;
  const auto timeout = workerTimeout();
  QProcess process;
  endWithParent(process);
  process.start(QString::fromLocal8Bit(Options.Program.c_str()), {"analyze-worker", "--driver"});
  if (!process.waitForStarted(-1))
    throw EAnalysisError("the worker " + Options.Program +
                         " could not be started: " + process.errorString().toStdString());
  process.write(workerInput(Plan));
  process.closeWriteChannel();
  // The driver alone is a run of moments; it gets the time a silent worker gets.
  const double seconds = timeout.value_or(kWorkerTimeout);
  if (!process.waitForFinished(static_cast<int>(seconds * 1000))) {
    process.kill();
    process.waitForFinished(-1);
    throw EAnalysisError("the run of the driver alone into 60 ohms: its worker sent nothing for " +
                         QString::number(seconds).toStdString() + " s (stopped or hung) and was ended");
  }
  const QByteArray err = process.readAllStandardError().trimmed();
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    throw EAnalysisError(err.isEmpty() ? std::string("the run of the driver alone failed: the worker stopped")
                                       : err.toStdString());
  TAnalysisPlan plan = Plan;
  plan.DriverRun = DriverRunFromJson(process.readAllStandardOutput().trimmed().toStdString());
  return plan;
}

TRunsOutcome RunInWorkers(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                          const TRunOptions& Options) {
  const auto timeout = workerTimeout();
  if (!timeout)
    throw EAnalysisError(std::string(kWorkerTimeoutVariable) + " needs seconds from 0.1 to 86400, not " +
                         std::getenv(kWorkerTimeoutVariable));
  const auto silence = std::chrono::duration<double>(*timeout);
  const QByteArray circuit = workerInput(Plan);
  struct TWorker {
    std::size_t Slot = 0;  // index into Transmitters
    std::unique_ptr<QProcess> Process;
    qint64 Heard = 0;  // bytes of output so far
    std::chrono::steady_clock::time_point LastHeard = std::chrono::steady_clock::now();
  };
  TRunsOutcome outcome;
  outcome.Runs.resize(Transmitters.size());
  std::vector<TWorker> running;
  std::size_t next = 0;
  std::size_t done = 0;
  const std::size_t jobs = static_cast<std::size_t>(std::max(1, Options.Jobs));
  const auto stopAll = [&] {
    for (TWorker& worker : running) {
      worker.Process->kill();
      worker.Process->waitForFinished(-1);
    }
    running.clear();
  };
  while (done < Transmitters.size()) {
    if (Options.Stop.stop_requested()) {
      stopAll();
      outcome.Cancelled = true;
      return outcome;
    }
    while (running.size() < jobs && next < Transmitters.size()) {
      QStringList arguments{"analyze-worker",
                            "--transmitter",
                            QString::number(Transmitters[next]),
                            "--dominant",
                            QString::number(Options.Thresholds.Dominant, 'g', 17),
                            "--recessive",
                            QString::number(Options.Thresholds.Recessive, 'g', 17)};
      if (Options.KeepTraces) arguments << "--traces";
      if (Options.PatternRate > 0)
        arguments << "--pattern" << QString::number(Options.PatternRate) << "--shift"
                  << QString::number(Options.PatternShift, 'g', 17);
      auto process = std::make_unique<QProcess>();
      endWithParent(*process);
      process->start(QString::fromLocal8Bit(Options.Program.c_str()), arguments);
      if (!process->waitForStarted(-1)) {
        stopAll();
        throw EAnalysisError("the worker " + Options.Program +
                             " could not be started: " + process->errorString().toStdString());
      }
      process->write(circuit);
      process->closeWriteChannel();
      running.push_back({next++, std::move(process), 0, std::chrono::steady_clock::now()});
    }
    // Each wait also drains the worker's output, so that none blocks on a full pipe.
    for (auto it = running.begin(); it != running.end();) {
      QProcess& process = *it->Process;
      const std::size_t slot = it->Slot;
      const std::string name = Plan.Stations[Transmitters[slot]].Name;
      if (!process.waitForFinished(running.size() > 1 ? 10 : 50) && process.state() != QProcess::NotRunning) {
        // A working worker sends a heartbeat; one that sends nothing is stopped or hung.
        const auto now = std::chrono::steady_clock::now();
        if (process.bytesAvailable() > it->Heard) {
          it->Heard = process.bytesAvailable();
          it->LastHeard = now;
        } else if (now - it->LastHeard > silence) {
          stopAll();
          throw EAnalysisError("the run with " + name + " transmitting: its worker sent nothing for " +
                               QString::number(*timeout).toStdString() + " s (stopped or hung) and was ended");
        }
        ++it;
        continue;
      }
      const QByteArray out = process.readAllStandardOutput();
      const QByteArray err = process.readAllStandardError().trimmed();
      const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
      it = running.erase(it);
      if (!ok) {
        stopAll();
        // The worker's own message names the run already; say it once.
        const std::string why = err.isEmpty() ? std::string("the worker stopped") : err.toStdString();
        throw EAnalysisError(why.rfind("the run ", 0) == 0 ? why
                                                           : "the run with " + name + " transmitting failed: " + why);
      }
      try {
        outcome.Runs[slot] = TransmitterRunFromJson(out.toStdString());
      } catch (const EAnalysisError& error) {
        stopAll();
        throw EAnalysisError("the run with " + name + " transmitting gave no result: " + error.what());
      }
      ++done;
      if (Options.Progress) Options.Progress({done, Transmitters.size(), name});
    }
  }
  return outcome;
}

namespace {

// A plan holds the circuit (JSON escapes at most double its bytes) and the driver's run.
constexpr std::size_t kMostWorkerInput = 2 * MaxCircuitBytes + (std::size_t{16} << 20);

// The circuit or plan a worker is sent, at most kMostWorkerInput of it; nothing beyond that. Blank lines
// after the title say nothing to SPICE and are not kept, so that memory follows the statements.
std::optional<TextLines> readWorkerCircuit(std::istream& In) {
  TextLines circuit;
  std::string line;
  std::size_t total = 0;
  const auto endLine = [&] {
    if (circuit.empty() || !std::all_of(line.begin(), line.end(), IsSpiceBlank)) circuit.push_back(line);
    line.clear();
  };
  std::vector<char> chunk(1 << 16);
  // A plan (JSON, from its first byte) holds more than a circuit: the driver's run besides.
  std::size_t most = MaxCircuitBytes;
  while (In) {
    In.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(In.gcount());
    if (total == 0 && got > 0 && chunk[0] == '{') most = kMostWorkerInput;
    total += got;
    if (total > most) return std::nullopt;
    for (std::size_t i = 0; i < got;) {
      // Runs of empty lines are skipped in one go.
      if (line.empty() && !circuit.empty())
        while (i < got && chunk[i] == '\n') ++i;
      if (i == got) break;
      const char* begin = chunk.data() + i;
      const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', got - i));
      const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) : got - i;
      line.append(begin, length);
      i += length;
      if (newline) {
        endLine();
        ++i;
      }
    }
  }
  if (!line.empty()) endLine();
  return circuit;
}

// For the tests of a proof that does not finish: BUSWEAVE_WORKER_FAULT=kill:RATE, hang:RATE or
// short:RATE makes the full run at RATE die, hang without a heartbeat, or stop short as ngspice
// does when it gives up ("Timestep too small").
void testFault(std::int64_t Pattern, std::ostream& Err) {
  const char* fault = std::getenv("BUSWEAVE_WORKER_FAULT");
  if (!fault) return;
  const std::string text = fault;
  const auto colon = text.find(':');
  if (colon == std::string::npos || text.substr(colon + 1) != std::to_string(Pattern)) return;
  const std::string kind = text.substr(0, colon);
  if (kind == "kill") std::raise(SIGKILL);
  if (kind == "hang")
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  if (kind == "short") {
    Err << "the full run of the bit stream failed:\nThe transient analysis stopped at 1.2 us of 30 us.\n";
    std::exit(1);
  }
}

}  // namespace

int RunAnalysisWorker(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err) {
  std::size_t transmitter = 0;
  TThresholds thresholds;
  bool traces = false;
  bool haveTransmitter = false;
  std::int64_t pattern = 0;
  double shift = 0.0;
  bool driver = false;  // the driver's run instead of a transmitter's
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "--traces") {
      traces = true;
      continue;
    }
    if (arg == "--driver") {
      driver = true;
      continue;
    }
    if (i + 1 >= Args.size()) {
      Err << "analyze-worker: " << arg << " needs a value\n";
      return 2;
    }
    const std::string& value = Args[++i];
    try {
      if (arg == "--transmitter") {
        transmitter = static_cast<std::size_t>(std::stoul(value));
        haveTransmitter = true;
      } else if (arg == "--dominant") {
        thresholds.Dominant = std::stod(value);
      } else if (arg == "--recessive") {
        thresholds.Recessive = std::stod(value);
      } else if (arg == "--pattern") {
        pattern = std::stoll(value);
      } else if (arg == "--shift") {
        shift = std::stod(value);
      } else {
        Err << "analyze-worker: unknown option " << arg << "\n";
        return 2;
      }
    } catch (const std::exception&) {
      Err << "analyze-worker: " << arg << " needs a number\n";
      return 2;
    }
  }
  if (!haveTransmitter && !driver) {
    Err << "analyze-worker: --transmitter is missing\n";
    return 2;
  }
  if (pattern > 0) testFault(pattern, Err);
  const auto circuit = readWorkerCircuit(In);
  if (!circuit) {
    Err << "analyze-worker: the circuit on standard input is larger than " << MaxCircuitBytes << " bytes (a plan "
        << kMostWorkerInput << "), more than templates and a network section can make\n";
    return 1;
  }
  std::string result;
  {
    // A blank line every so often tells the pool this worker lives; the run's JSON after it
    // reads the same. A stopped worker sends none.
    const auto interval = std::chrono::duration<double>(workerTimeout().value_or(kWorkerTimeout) / 4);
    std::jthread heartbeat([&Out, interval](std::stop_token Stop) {
      std::mutex mutex;
      std::condition_variable_any wake;
      std::unique_lock lock(mutex);
      while (!wake.wait_for(lock, Stop, interval, [] { return false; }) && !Stop.stop_requested())
        Out << '\n' << std::flush;
    });
    try {
      // The pool sends the plan it made, as one line of JSON; the circuit alone is planned here.
      const bool planned = circuit->size() == 1 && circuit->front().starts_with('{');
      const TAnalysisPlan plan = planned ? AnalysisPlanFromJson(circuit->front()) : PlanAnalysis(*circuit);
      if (driver)
        result = DriverRunJson(RunDriver(plan));
      else
        result = TransmitterRunJson(pattern > 0 ? RunPattern(plan, transmitter, pattern, shift)
                                                : RunTransmitter(plan, transmitter, thresholds, traces));
    } catch (const EAnalysisError& error) {
      heartbeat.request_stop();
      heartbeat.join();
      Err << error.what() << "\n";
      return 1;
    }
  }
  Out << result << "\n";
  return 0;
}

}  // namespace busweave

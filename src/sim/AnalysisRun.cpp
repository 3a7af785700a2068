#include "sim/AnalysisRun.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <istream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>

#include "model/NameText.h"
#include "sim/SpiceEngine.h"
#include "sim/SpiceNumbers.h"
#include "sim/SpiceTranslation.h"
#include "sim/Waveforms.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

// A bus as the probe loads a driver: two terminations in parallel.
constexpr const char* kProbeLoad = "60";
// Points per plotted trace: about twice this many, peaks kept.
constexpr std::size_t kPlotBuckets = 300;

std::string joined(const std::vector<std::string>& Words) {
  std::string text;
  for (const auto& word : Words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

using TStatement = TSpiceStatement;

std::vector<TStatement> statementsOf(const TextLines& Circuit) { return ReadSpiceStatements(Circuit); }

// "PULSE(a b c)" -> its arguments; nothing when Text has no PULSE.
std::optional<std::vector<std::string>> pulseArguments(const std::string& Text) {
  const std::string lower = LowerCase(Text);
  const auto at = lower.find("pulse");
  if (at == std::string::npos) return std::nullopt;
  const auto open = Text.find('(', at);
  if (open == std::string::npos) return std::nullopt;
  int depth = 0;
  std::size_t close = open;
  for (; close < Text.size(); ++close) {
    if (Text[close] == '(') ++depth;
    if (Text[close] == ')' && --depth == 0) break;
  }
  std::string inside = Text.substr(open + 1, close - open - 1);
  std::replace(inside.begin(), inside.end(), ',', ' ');
  return SpiceWords(inside);
}

// A voltage source with its two nodes and a PULSE ("VPULSE(...)" alone is none).
bool isPulseSource(const TStatement& S) {
  return !S.Key.empty() && S.Key[0] == 'v' && SpiceWords(S.Text).size() >= 3 && pulseArguments(S.Text).has_value();
}

std::string deckLine(const TStatement& S, const std::string& Text) { return IndentOf(S.Lines.front()) + Text; }

// The driver's subcircuit held at one level: the PULSE source becomes a DC source.
std::vector<std::string> heldDriver(const std::vector<TStatement>& Statements, const TAnalysisPlan& Plan,
                                    const std::string& Name, const std::string& Level) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const TStatement& s : Statements) {
    if (s.Key == ".subckt") {
      const auto words = SpiceWords(s.Text);
      if (words.size() >= 2 && LowerCase(words[1]) == LowerCase(Plan.Driver)) {
        inside = true;
        auto renamed = words;
        renamed[1] = Name;
        lines.push_back(deckLine(s, joined(renamed)));
        continue;
      }
    }
    if (!inside) continue;
    if (isPulseSource(s)) {
      const auto words = SpiceWords(s.Text);
      lines.push_back(deckLine(s, words[0] + " " + words[1] + " " + words[2] + " DC " + Level));
    } else {
      lines.insert(lines.end(), s.Lines.begin(), s.Lines.end());
    }
    if (s.Key == ".ends") break;
  }
  return lines;
}

bool isTopLevelElement(const TStatement& S, int Depth) { return Depth == 0 && !S.Key.empty() && S.Key[0] != '.'; }

double evaluated(const TSpiceParameters& Parameters, const std::string& Text, const char* What) {
  const auto value = Parameters.Evaluate(Text);
  if (!value || !std::isfinite(*value) || *value < 0)
    throw EAnalysisError(std::string("the driver's PULSE source has a ") + What + " that cannot be read: " + Text);
  return *value;
}

TAnalysisPlan planAnalysis(const TextLines& Circuit, const std::optional<TCircuitSources>& Sources) {
  TAnalysisPlan plan;
  plan.Circuit = Circuit;
  const std::vector<TStatement> statements = statementsOf(Circuit);

  TSpiceParameters parameters;
  for (const TStatement& s : statements)
    if (s.Key == ".param") parameters.AddStatement(FlattenNestedBraces(s.Text).substr(6));

  // Stations: the network's nodes ("* Node NAME" before "RZLk k 0 R") with a driver instance.
  std::map<std::string, std::string> names;  // circuit node -> name
  TTranslationOptions translation;
  translation.Sources = Sources;
  for (const TNetworkNode& node : TranslateForNgspice(Circuit, {}, translation).Nodes)
    names[node.Spice] = NameToUtf8(node.Name);
  std::set<std::string> driven;
  int depth = 0;
  for (const TStatement& s : statements) {
    if (s.Key == ".subckt") ++depth;
    if (s.Key == ".ends" && depth > 0) --depth;
    if (isTopLevelElement(s, depth) && s.Key[0] == 'x') {
      const auto words = SpiceWords(s.Text);
      if (words.size() == 3 && names.count(words[1])) {
        if (!plan.Driver.empty() && LowerCase(plan.Driver) != LowerCase(words[2]))
          throw EAnalysisError("the stations use two driver subcircuits, " + plan.Driver + " and " + words[2] +
                               "; the analysis holds one kind of driver silent");
        plan.Driver = words[2];
        driven.insert(words[1]);
      }
    }
    if (isTopLevelElement(s, depth) && s.Key[0] == 't') {
      const auto words = SpiceWords(s.Text);
      for (const auto& word : words)
        if (LowerCase(word).rfind("td=", 0) == 0)
          if (const auto delay = parameters.Evaluate(FlattenNestedBraces(word.substr(3)))) {
            plan.LineDelays += *delay;
            if (words.size() >= 5) plan.Lines.push_back({words[1], words[3], *delay});
          }
    }
  }
  for (const auto& [spice, name] : names)
    if (driven.count(spice)) plan.Stations.push_back({spice, name});
  std::sort(plan.Stations.begin(), plan.Stations.end(),
            [](const TStation& A, const TStation& B) { return std::stoll(A.Spice) < std::stoll(B.Spice); });
  if (plan.Stations.size() < 2)
    throw EAnalysisError("the bus has " + std::to_string(plan.Stations.size()) +
                         " station(s) with a driver; the analysis needs two or more");

  // The driver's PULSE source: exactly one inside its subcircuit.
  std::set<std::string> subcircuits;
  std::optional<std::vector<std::string>> pulse;
  int pulses = 0;
  bool inside = false;
  for (const TStatement& s : statements) {
    if (s.Key == ".subckt") {
      const auto words = SpiceWords(s.Text);
      if (words.size() >= 2) {
        subcircuits.insert(LowerCase(words[1]));
        inside = LowerCase(words[1]) == LowerCase(plan.Driver);
      }
    }
    if (inside && isPulseSource(s)) {
      ++pulses;
      pulse = pulseArguments(FlattenNestedBraces(s.Text));
    }
    if (s.Key == ".ends") inside = false;
  }
  if (!subcircuits.count(LowerCase(plan.Driver)))
    throw EAnalysisError("the driver subcircuit " + plan.Driver + " is not defined in the circuit");
  if (pulses != 1)
    throw EAnalysisError("the driver subcircuit " + plan.Driver + " has " + std::to_string(pulses) +
                         " PULSE sources; the analysis switches exactly one");
  if (pulse->size() < 6)
    throw EAnalysisError("the driver's PULSE source needs its levels, delay, rise, fall and width");
  plan.HeldDriver = plan.Driver + "_HELD";
  while (subcircuits.count(LowerCase(plan.HeldDriver))) plan.HeldDriver += "_";
  const auto& args = *pulse;
  plan.FirstLevel = args[0];
  plan.SecondLevel = args[1];
  plan.Delay = evaluated(parameters, args[2], "delay");
  plan.Rise = evaluated(parameters, args[3], "rise time");
  plan.Fall = evaluated(parameters, args[4], "fall time");
  plan.Width = evaluated(parameters, args[5], "pulse width");
  if (args.size() >= 7) plan.Period = evaluated(parameters, args[6], "period");
  if (plan.Period < plan.Rise + plan.Width + plan.Fall) plan.Period = 0.0;
  // The second edge's bit, and as long again after it, plus the slowest path twice over.
  const double cycle = plan.Period > 0 ? plan.Period : plan.Rise + plan.Width + plan.Fall + plan.Width;
  plan.Stop = plan.Delay + cycle + plan.LineDelays;
  if (!(plan.Stop > 0) || !std::isfinite(plan.Stop))
    throw EAnalysisError("the driver's PULSE source gives no time to simulate");
  return plan;
}

}  // namespace

TAnalysisPlan PlanAnalysis(const TextLines& Circuit, const std::optional<TCircuitSources>& Sources) {
  // The circuit's reasons, in the analysis's terms.
  try {
    return planAnalysis(Circuit, Sources);
  } catch (const ESpiceExpressionError& error) {
    throw EAnalysisError(error.what());
  } catch (const ESpiceCommandError& error) {
    throw EAnalysisError(error.what());
  }
}

TextLines LevelProbeDeck(const TAnalysisPlan& Plan) {
  const std::vector<TStatement> statements = statementsOf(Plan.Circuit);
  TextLines deck{Plan.Circuit.empty() ? std::string("Busweave driver levels") : Plan.Circuit.front()};
  // Everything but the network and the analyses: parameters, models, subcircuits, options.
  int depth = 0;
  for (const TStatement& s : statements) {
    if (s.Key == ".subckt") ++depth;
    const bool element = isTopLevelElement(s, depth);
    if (s.Key == ".ends" && depth > 0) --depth;
    if (element || s.Key.rfind(".tran", 0) == 0 || s.Key == ".ac" || s.Key == ".end") continue;
    if (s.Key.empty() && s.Text.rfind("* Node", 0) == 0) continue;
    deck.insert(deck.end(), s.Lines.begin(), s.Lines.end());
  }
  for (const auto& [node, level] : {std::pair{"1", Plan.FirstLevel}, std::pair{"2", Plan.SecondLevel}}) {
    const std::string name = Plan.HeldDriver + node;
    const auto held = heldDriver(statements, Plan, name, level);
    deck.insert(deck.end(), held.begin(), held.end());
    deck.push_back(std::string("* Node level ") + node);
    deck.push_back(std::string("RZL") + node + " " + node + " 0 " + kProbeLoad);
    deck.push_back(std::string("X") + node + " " + node + " " + name);
  }
  deck.push_back(".TRAN 1ns 10ns");
  deck.push_back(".END");
  return deck;
}

bool FirstLevelDominant(double FirstVolts, double SecondVolts) {
  const double first = std::fabs(FirstVolts);
  const double second = std::fabs(SecondVolts);
  if (!std::isfinite(first) || !std::isfinite(second) || std::fabs(first - second) < 0.05)
    throw EAnalysisError("the driver gives the bus the same voltage at both levels of its source (" +
                         SpiceNumberText(FirstVolts) + " V and " + SpiceNumberText(SecondVolts) +
                         " V into 60 ohms); it has no dominant level to analyse");
  return first > second;
}

TextLines TransmitterDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant) {
  const std::vector<TStatement> statements = statementsOf(Plan.Circuit);
  const std::string& held = FirstDominant ? Plan.SecondLevel : Plan.FirstLevel;
  TextLines deck{Plan.Circuit.empty() ? std::string("Busweave bus analysis") : Plan.Circuit.front()};
  int depth = 0;
  bool tran = false;
  for (const TStatement& s : statements) {
    if (s.Key == ".subckt") ++depth;
    const bool element = isTopLevelElement(s, depth);
    if (s.Key == ".ends" && depth > 0) --depth;
    if (s.Key == ".ac") continue;
    if (s.Key == ".end") break;
    if (s.Key.rfind(".tran", 0) == 0) {
      const auto words = SpiceWords(s.Text);
      deck.push_back(".TRAN " + (words.size() > 1 ? words[1] : std::string("1ns")) + " " + SpiceNumberText(Plan.Stop));
      tran = true;
      continue;
    }
    if (element && s.Key[0] == 'x') {
      auto words = SpiceWords(s.Text);
      if (words.size() == 3 && LowerCase(words[2]) == LowerCase(Plan.Driver) &&
          words[1] != Plan.Stations[Transmitter].Spice) {
        words[2] = Plan.HeldDriver;
        deck.push_back(deckLine(s, joined(words)));
        continue;
      }
    }
    deck.insert(deck.end(), s.Lines.begin(), s.Lines.end());
  }
  const auto copy = heldDriver(statements, Plan, Plan.HeldDriver, held);
  deck.insert(deck.end(), copy.begin(), copy.end());
  if (!tran) deck.push_back(".TRAN 1ns " + SpiceNumberText(Plan.Stop));
  deck.push_back(".END");
  return deck;
}

std::vector<TEdgeWindow> EdgeWindows(const TAnalysisPlan& Plan, bool FirstDominant) {
  const double second = Plan.Delay + Plan.Rise + Plan.Width;
  const double next = Plan.Period > 0 ? Plan.Delay + Plan.Period : Plan.Stop;
  const TEdgeWindow first{FirstDominant ? TBusEdge::Recessive : TBusEdge::Dominant, Plan.Delay, second, next};
  const TEdgeWindow back{FirstDominant ? TBusEdge::Dominant : TBusEdge::Recessive, second, next,
                         Plan.Period > 0 ? second + Plan.Period : Plan.Stop};
  return FirstDominant ? std::vector<TEdgeWindow>{back, first} : std::vector<TEdgeWindow>{first, back};
}

std::vector<double> ArrivalDelays(const TAnalysisPlan& Plan, std::size_t Transmitter) {
  // Dijkstra over the lines; few stations and lines, so a plain scan for the nearest will do.
  std::map<std::string, double> best{{Plan.Stations[Transmitter].Spice, 0.0}};
  std::set<std::string> done;
  for (;;) {
    std::string nearest;
    double at = 0.0;
    for (const auto& [node, delay] : best)
      if (!done.count(node) && (nearest.empty() || delay < at)) nearest = node, at = delay;
    if (nearest.empty()) break;
    done.insert(nearest);
    for (const TLineDelay& line : Plan.Lines) {
      const std::string* other = line.A == nearest ? &line.B : line.B == nearest ? &line.A : nullptr;
      if (!other) continue;
      const auto found = best.find(*other);
      if (found == best.end() || found->second > at + line.Delay) best[*other] = at + line.Delay;
    }
  }
  std::vector<double> arrivals;
  for (const TStation& station : Plan.Stations) {
    const auto found = best.find(station.Spice);
    arrivals.push_back(found == best.end() ? 0.0 : found->second);
  }
  return arrivals;
}

namespace {

TSimulationResult simulate(const TextLines& Deck, const std::string& What) {
  TNgspiceCircuit circuit;
  try {
    circuit = TranslateForNgspice(Deck);
  } catch (const std::exception& error) {
    throw EAnalysisError(What + ": " + error.what());
  }
  TSimulationResult result = TSpiceEngine::Instance().Run(circuit);
  if (!result.Ok) throw EAnalysisError(What + " failed:\n" + result.Error);
  if (result.Transient.Traces.size() != circuit.Nodes.size())
    throw EAnalysisError(What + " gave no voltage for some nodes");
  return result;
}

}  // namespace

TTransmitterRun RunTransmitter(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                               bool KeepTraces) {
  if (Transmitter >= Plan.Stations.size()) throw EAnalysisError("no station " + std::to_string(Transmitter));
  const TSimulationResult probe = simulate(LevelProbeDeck(Plan), "the run of the driver at its two levels");
  const bool firstDominant =
      FirstLevelDominant(probe.Transient.Traces[0].Values.back(), probe.Transient.Traces[1].Values.back());
  const std::string& name = Plan.Stations[Transmitter].Name;
  const TextLines deck = TransmitterDeck(Plan, Transmitter, firstDominant);
  const TNgspiceCircuit circuit = TranslateForNgspice(deck);
  const TSimulationResult result = simulate(deck, "the run with " + name + " transmitting");

  // Each station's trace: the run's traces follow the circuit's nodes.
  std::vector<const std::vector<double>*> volts(Plan.Stations.size(), nullptr);
  for (std::size_t n = 0; n < circuit.Nodes.size(); ++n)
    for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
      if (circuit.Nodes[n].Spice == Plan.Stations[s].Spice) volts[s] = &result.Transient.Traces[n].Values;
  std::vector<TStationTrace> receivers;
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s) {
    if (!volts[s])
      throw EAnalysisError("the run with " + name + " transmitting has no voltage at " + Plan.Stations[s].Name);
    if (s != Transmitter) receivers.push_back({static_cast<int>(s), Plan.Stations[s].Name, volts[s]});
  }
  const TStationTrace transmitter{static_cast<int>(Transmitter), name, volts[Transmitter]};
  TTransmitterRun run;
  run.Transmitter = static_cast<int>(Transmitter);
  run.Pairs =
      MeasurePairs(result.Transient.Scale, transmitter, receivers, EdgeWindows(Plan, firstDominant), Thresholds);
  if (KeepTraces) {
    const auto& time = result.Transient.Scale;
    for (std::size_t s = 0; s < Plan.Stations.size(); ++s) {
      TPlotTrace trace;
      trace.Station = static_cast<int>(s);
      for (const std::size_t i : PeakPreservingIndices(time, *volts[s], time.front(), time.back(), kPlotBuckets)) {
        trace.Time.push_back(time[i]);
        trace.Volts.push_back((*volts[s])[i]);
      }
      run.Traces.push_back(std::move(trace));
    }
  }
  return run;
}

namespace {

Json optionalJson(const std::optional<double>& Value) { return Value ? Json(*Value) : Json(nullptr); }
std::optional<double> optionalOf(const Json& Value) {
  return Value.is_number() ? std::optional<double>(Value.get<double>()) : std::nullopt;
}

}  // namespace

std::string TransmitterRunJson(const TTransmitterRun& Run) {
  Json pairs = Json::array();
  for (const TPairMeasure& p : Run.Pairs)
    pairs.push_back({{"transmitter", p.Transmitter},
                     {"receiver", p.Receiver},
                     {"transmitter_name", p.TransmitterName},
                     {"receiver_name", p.ReceiverName},
                     {"edge", EdgeName(p.Edge)},
                     {"delay", optionalJson(p.Delay)},
                     {"settle", optionalJson(p.Settle)},
                     {"overshoot", p.Overshoot},
                     {"undershoot", p.Undershoot},
                     {"false_edge", optionalJson(p.FalseEdge)}});
  Json traces = Json::array();
  for (const TPlotTrace& t : Run.Traces)
    traces.push_back({{"station", t.Station}, {"time", t.Time}, {"volts", t.Volts}});
  return Json{{"transmitter", Run.Transmitter}, {"pairs", pairs}, {"traces", traces}}.dump(
      -1, ' ', false, Json::error_handler_t::replace);
}

TTransmitterRun TransmitterRunFromJson(const std::string& Text) {
  try {
    const Json json = Json::parse(Text);
    TTransmitterRun run;
    run.Transmitter = json.at("transmitter").get<int>();
    for (const Json& p : json.at("pairs")) {
      TPairMeasure pair;
      pair.Transmitter = p.at("transmitter").get<int>();
      pair.Receiver = p.at("receiver").get<int>();
      pair.TransmitterName = p.at("transmitter_name").get<std::string>();
      pair.ReceiverName = p.at("receiver_name").get<std::string>();
      const std::string edge = p.at("edge").get<std::string>();
      if (edge != "dominant" && edge != "recessive") throw EAnalysisError("unknown edge " + edge);
      pair.Edge = edge == "dominant" ? TBusEdge::Dominant : TBusEdge::Recessive;
      pair.Delay = optionalOf(p.at("delay"));
      pair.Settle = optionalOf(p.at("settle"));
      pair.Overshoot = p.at("overshoot").get<double>();
      pair.Undershoot = p.at("undershoot").get<double>();
      pair.FalseEdge = optionalOf(p.at("false_edge"));
      run.Pairs.push_back(std::move(pair));
    }
    for (const Json& t : json.at("traces")) {
      TPlotTrace trace;
      trace.Station = t.at("station").get<int>();
      trace.Time = t.at("time").get<std::vector<double>>();
      trace.Volts = t.at("volts").get<std::vector<double>>();
      if (trace.Time.size() != trace.Volts.size()) throw EAnalysisError("a trace's times and voltages differ in count");
      run.Traces.push_back(std::move(trace));
    }
    return run;
  } catch (const nlohmann::json::exception& error) {
    throw EAnalysisError(std::string("not a transmitter's run: ") + error.what());
  }
}

std::vector<TPairMeasure> PairsOf(const std::vector<TTransmitterRun>& Runs) {
  std::vector<TPairMeasure> pairs;
  for (const TTransmitterRun& run : Runs) pairs.insert(pairs.end(), run.Pairs.begin(), run.Pairs.end());
  return pairs;
}

TRunsOutcome RunTransmitters(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                             const TRunOptions& Options) {
  QByteArray circuit;
  for (const std::string& line : Plan.Circuit)
    circuit.append(line.data(), static_cast<qsizetype>(line.size())).append('\n');
  struct TWorker {
    std::size_t Slot = 0;  // index into Transmitters
    std::unique_ptr<QProcess> Process;
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
      auto process = std::make_unique<QProcess>();
      process->start(QString::fromLocal8Bit(Options.Program.c_str()), arguments);
      if (!process->waitForStarted(-1)) {
        stopAll();
        throw EAnalysisError("the worker " + Options.Program +
                             " could not be started: " + process->errorString().toStdString());
      }
      process->write(circuit);
      process->closeWriteChannel();
      running.push_back({next++, std::move(process)});
    }
    // Each wait also drains the worker's output, so that none blocks on a full pipe.
    for (auto it = running.begin(); it != running.end();) {
      QProcess& process = *it->Process;
      if (!process.waitForFinished(running.size() > 1 ? 10 : 50) && process.state() != QProcess::NotRunning) {
        ++it;
        continue;
      }
      const std::size_t slot = it->Slot;
      const std::string name = Plan.Stations[Transmitters[slot]].Name;
      const QByteArray out = process.readAllStandardOutput();
      const QByteArray err = process.readAllStandardError().trimmed();
      const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
      it = running.erase(it);
      if (!ok) {
        stopAll();
        throw EAnalysisError("the run with " + name + " transmitting failed: " +
                             (err.isEmpty() ? std::string("the worker stopped") : err.toStdString()));
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

// The circuit a worker is sent, at most MaxCircuitBytes of it; nothing beyond that. Blank lines
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
  while (In) {
    In.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(In.gcount());
    total += got;
    if (total > MaxCircuitBytes) return std::nullopt;
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

}  // namespace

int RunAnalysisWorker(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err) {
  std::size_t transmitter = 0;
  TThresholds thresholds;
  bool traces = false;
  bool haveTransmitter = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "--traces") {
      traces = true;
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
      } else {
        Err << "analyze-worker: unknown option " << arg << "\n";
        return 2;
      }
    } catch (const std::exception&) {
      Err << "analyze-worker: " << arg << " needs a number\n";
      return 2;
    }
  }
  if (!haveTransmitter) {
    Err << "analyze-worker: --transmitter is missing\n";
    return 2;
  }
  const auto circuit = readWorkerCircuit(In);
  if (!circuit) {
    Err << "analyze-worker: the circuit on standard input is larger than " << MaxCircuitBytes
        << " bytes, more than templates and a network section can make\n";
    return 1;
  }
  try {
    Out << TransmitterRunJson(RunTransmitter(PlanAnalysis(*circuit), transmitter, thresholds, traces)) << "\n";
  } catch (const EAnalysisError& error) {
    Err << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace busweave

#include "analysis/AnalysisRun.h"

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

#include "model/NameText.h"
#include "spice/SpiceEngine.h"
#include "spice/SpiceNumbers.h"
#include "spice/SpiceTranslation.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

// A bus as the probe loads a driver: two terminations in parallel.
constexpr const char* kProbeLoad = "60";
// How long each edge of the edge run is held, at least, and in passes over all the lines.
constexpr double kShortestHold = 1e-6;
constexpr double kEchoPasses = 12.0;
// The quiet bus before the first edge, beyond the source's own ramp.
constexpr double kQuietLead = 20e-9;
// Longer runs than this are not a bus (a line of kilometres, an edge of milliseconds).
constexpr double kLongestRun = 0.1;
// The share of the maximum step within which the translation merges breakpoints.
constexpr double kBreakpointMerge = 0.25;
// A response is kept within this share of its swing (thinned for the worker's output).
constexpr double kResponseShare = 2e-4;
// How much longer each edge is held when the responses still ring at the end of the hold, and
// how often: a hold of 1 us grows to 64 us, past the decay of any mode a harness traps.
constexpr double kLongerHold = 4.0;
constexpr int kMostLongerHolds = 3;
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

// The driver's subcircuit under another name, its PULSE source given Source instead ("DC 5").
std::vector<std::string> driverCopy(const std::vector<TStatement>& Statements, const TAnalysisPlan& Plan,
                                    const std::string& Name, const std::string& Source) {
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
      lines.push_back(deckLine(s, words[0] + " " + words[1] + " " + words[2] + " " + Source));
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
  plan.SendingDriver = plan.Driver + "_SENDING";
  while (subcircuits.count(LowerCase(plan.SendingDriver))) plan.SendingDriver += "_";
  const auto& args = *pulse;
  plan.FirstLevel = args[0];
  plan.SecondLevel = args[1];
  plan.Delay = evaluated(parameters, args[2], "delay");
  plan.Rise = evaluated(parameters, args[3], "rise time");
  plan.Fall = evaluated(parameters, args[4], "fall time");
  plan.Width = evaluated(parameters, args[5], "pulse width");
  if (args.size() >= 7) plan.Period = evaluated(parameters, args[6], "period");
  if (plan.Period < plan.Rise + plan.Width + plan.Fall) plan.Period = 0.0;
  // Each edge is held until the bus has settled: echoes die out within a few dozen passes over
  // every line, and a slow driver within ten of its own edges.
  plan.Hold = std::max({kShortestHold, kEchoPasses * plan.LineDelays, 10.0 * (plan.Rise + plan.Fall)});
  plan.EdgeAt = kQuietLead + std::max(plan.Rise, plan.Fall);
  plan.Stop = plan.EdgeAt + 2.0 * plan.Hold;
  if (!(plan.Stop > 0) || !std::isfinite(plan.Stop) || plan.Stop > kLongestRun)
    throw EAnalysisError("the driver's edges or the lines' delays give no time that can be simulated (" +
                         SpiceNumberText(plan.Stop) + " s)");
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
    const auto held = driverCopy(statements, Plan, name, "DC " + level);
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

namespace {

// The source of the driver that sends: recessive, one dominant edge at Plan.EdgeAt (the middle
// of its ramp), held, one recessive edge Plan.Hold later, held again.
std::string edgePulse(const TAnalysisPlan& Plan, bool FirstDominant) {
  const std::string& dominant = FirstDominant ? Plan.FirstLevel : Plan.SecondLevel;
  const std::string& recessive = FirstDominant ? Plan.SecondLevel : Plan.FirstLevel;
  const double toDominant = DominantRamp(Plan, FirstDominant);
  const double toRecessive = RecessiveRamp(Plan, FirstDominant);
  const double width = Plan.Hold - toDominant / 2 - toRecessive / 2;
  return "PULSE(" + recessive + " " + dominant + " " + SpiceNumberText(Plan.EdgeAt - toDominant / 2) + " " +
         SpiceNumberText(toDominant) + " " + SpiceNumberText(toRecessive) + " " + SpiceNumberText(width) + " " +
         SpiceNumberText(4.0 * Plan.Stop) + ")";
}

}  // namespace

namespace {

TextLines senderDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant, const std::string& Source,
                     double Stop) {
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
      deck.push_back(".TRAN " + (words.size() > 1 ? words[1] : std::string("1ns")) + " " + SpiceNumberText(Stop));
      tran = true;
      continue;
    }
    if (element && s.Key[0] == 'x') {
      auto words = SpiceWords(s.Text);
      if (words.size() == 3 && LowerCase(words[2]) == LowerCase(Plan.Driver)) {
        words[2] = words[1] == Plan.Stations[Transmitter].Spice ? Plan.SendingDriver : Plan.HeldDriver;
        deck.push_back(deckLine(s, joined(words)));
        continue;
      }
    }
    deck.insert(deck.end(), s.Lines.begin(), s.Lines.end());
  }
  for (const auto& copy : {driverCopy(statements, Plan, Plan.HeldDriver, "DC " + held),
                           driverCopy(statements, Plan, Plan.SendingDriver, Source)})
    deck.insert(deck.end(), copy.begin(), copy.end());
  if (!tran) deck.push_back(".TRAN 1ns " + SpiceNumberText(Stop));
  deck.push_back(".END");
  return deck;
}

}  // namespace

double DominantRamp(const TAnalysisPlan& Plan, bool FirstDominant) { return FirstDominant ? Plan.Fall : Plan.Rise; }
double RecessiveRamp(const TAnalysisPlan& Plan, bool FirstDominant) { return FirstDominant ? Plan.Rise : Plan.Fall; }

TextLines TransmitterDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant) {
  return senderDeck(Plan, Transmitter, FirstDominant, edgePulse(Plan, FirstDominant), Plan.Stop);
}

std::vector<TEdgeSamplePoint> EdgeRunSamplePoints(const TAnalysisPlan& Plan, const TBusVerdict& Verdict,
                                                  const TAnalysisSettings& Settings) {
  std::vector<TEdgeSamplePoint> points;
  const auto [highestWorking, lowestFailing] = EyeDataRates(Verdict);
  for (const auto& [rate, works] : {std::pair{highestWorking, true}, std::pair{lowestFailing, false}}) {
    if (rate <= 0) continue;
    const double bitTime = 1.0 / static_cast<double>(rate);
    for (const double edge : {Plan.EdgeAt, Plan.EdgeAt + Plan.Hold})
      points.push_back({edge + Settings.DataSamplePoint * bitTime, rate, works});
  }
  return points;
}

TextLines PatternDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant,
                      const std::vector<TTxdEdge>& Edges, double Stop) {
  const std::string& dominant = FirstDominant ? Plan.FirstLevel : Plan.SecondLevel;
  const std::string& recessive = FirstDominant ? Plan.SecondLevel : Plan.FirstLevel;
  std::string source = "PWL(0 " + recessive;
  for (const TTxdEdge& edge : Edges) {
    const bool toDominant = edge.Edge == TBusEdge::Dominant;
    const double ramp = toDominant ? DominantRamp(Plan, FirstDominant) : RecessiveRamp(Plan, FirstDominant);
    for (const auto& [at, level] : {std::pair{edge.Time - ramp / 2, toDominant ? &recessive : &dominant},
                                    std::pair{edge.Time + ramp / 2, toDominant ? &dominant : &recessive}})
      source.append(" ").append(SpiceNumberText(at)).append(" ").append(*level);
  }
  return senderDeck(Plan, Transmitter, FirstDominant, source + ")", Stop);
}

TextLines ReferenceDeck(const TAnalysisPlan& Plan, bool FirstDominant) {
  const std::vector<TStatement> statements = statementsOf(Plan.Circuit);
  TextLines deck{Plan.Circuit.empty() ? std::string("Busweave driver reference") : Plan.Circuit.front()};
  int depth = 0;
  std::string step = "1ns";
  for (const TStatement& s : statements) {
    if (s.Key == ".subckt") ++depth;
    const bool element = isTopLevelElement(s, depth);
    if (s.Key == ".ends" && depth > 0) --depth;
    if (s.Key.rfind(".tran", 0) == 0) {
      const auto words = SpiceWords(s.Text);
      if (words.size() > 1) step = words[1];
    }
    if (element || s.Key.rfind(".tran", 0) == 0 || s.Key == ".ac" || s.Key == ".end") continue;
    if (s.Key.empty() && s.Text.rfind("* Node", 0) == 0) continue;
    deck.insert(deck.end(), s.Lines.begin(), s.Lines.end());
  }
  const auto copy = driverCopy(statements, Plan, Plan.SendingDriver, edgePulse(Plan, FirstDominant));
  deck.insert(deck.end(), copy.begin(), copy.end());
  deck.push_back("* Node reference");
  deck.push_back(std::string("RZL1 1 0 ") + kProbeLoad);
  deck.push_back("X1 1 " + Plan.SendingDriver);
  deck.push_back(".TRAN " + step + " " + SpiceNumberText(Plan.Stop));
  deck.push_back(".END");
  return deck;
}

namespace {

// Deck translated for ngspice once: its nodes name the traces the run returns.
TNgspiceCircuit translated(const TextLines& Deck, const std::string& What) {
  try {
    return TranslateForNgspice(Deck);
  } catch (const std::exception& error) {
    throw EAnalysisError(What + ": " + error.what());
  }
}

TSimulationResult simulate(TNgspiceCircuit circuit, const std::string& What) {
  TSimulationResult result = TSpiceEngine::Instance().Run(circuit);
  // ngspice's breakpoint merging can stall on one exact pattern of line echoes ("Timestep too
  // small" at a quiet moment); merging closer breakpoints only gets past it. Some stalls need
  // breakpoints a ten-thousandth of the usual merge apart (plain ngspice agrees).
  for (const double finer : {0.1, 0.01, 0.001, 0.0001}) {
    if (result.Ok || result.Error.find("Timestep too small") == std::string::npos) break;
    bool changed = false;
    for (std::string& line : circuit.Lines)
      if (line.rfind(".OPTIONS MINBREAK=", 0) == 0) {
        line = ".OPTIONS MINBREAK=" + SpiceNumberText(circuit.Step.MaxStep * kBreakpointMerge * finer);
        changed = true;
      }
    if (!changed) break;
    result = TSpiceEngine::Instance().Run(circuit);
  }
  if (!result.Ok) throw EAnalysisError(What + " failed:\n" + result.Error);
  if (result.Transient.Traces.size() != circuit.Nodes.size())
    throw EAnalysisError(What + " gave no voltage for some nodes");
  return result;
}

// The points of [From, Until) of every trace, times from Edge, thinned together.
std::vector<TWave> window(const std::vector<double>& Time, const std::vector<const std::vector<double>*>& Volts,
                          double From, double Until, double Edge) {
  const auto first = static_cast<std::size_t>(std::lower_bound(Time.begin(), Time.end(), From) - Time.begin());
  const auto last = static_cast<std::size_t>(std::lower_bound(Time.begin(), Time.end(), Until) - Time.begin());
  std::vector<TWave> traces(Volts.size());
  if (last <= first + 1) return traces;
  const std::span<const double> scale(Time.data() + first, last - first);
  std::vector<std::span<const double>> spans;
  for (const auto* v : Volts) spans.emplace_back(v->data() + first, last - first);
  for (const std::size_t i : ThinnedIndices(scale, spans, kResponseShare))
    for (std::size_t s = 0; s < Volts.size(); ++s) {
      traces[s].Time.push_back(scale[i] - Edge);
      traces[s].Volts.push_back(spans[s][i]);
    }
  return traces;
}

// Each trace's responses to the edge run's dominant and recessive edge.
std::vector<TEdgeResponses> edgeResponses(const TAnalysisPlan& Plan, bool FirstDominant,
                                          const std::vector<double>& Time,
                                          const std::vector<const std::vector<double>*>& Volts) {
  const double toDominant = DominantRamp(Plan, FirstDominant);
  const double toRecessive = RecessiveRamp(Plan, FirstDominant);
  const double back = Plan.EdgeAt + Plan.Hold;
  const auto dominant = window(Time, Volts, Plan.EdgeAt - toDominant, back - toRecessive, Plan.EdgeAt);
  const auto recessive = window(Time, Volts, back - toRecessive, Plan.Stop + 1.0, back);
  std::vector<TEdgeResponses> responses;
  for (std::size_t s = 0; s < Volts.size(); ++s) responses.push_back({dominant[s], recessive[s]});
  return responses;
}

// Bus delay, settling, overshoot and false edges of every receiver, from the TXD edges.
std::vector<TPairMeasure> pairsOf(const TStationResponse& Sender, const std::vector<TStationResponse>& Stations,
                                  const TDriverReference& Reference, const TThresholds& Thresholds) {
  std::vector<TPairMeasure> pairs;
  for (const TStationResponse& receiver : Stations) {
    if (receiver.Station == Sender.Station) continue;
    for (const TBusEdge edge : {TBusEdge::Dominant, TBusEdge::Recessive}) {
      const TWave& r = edge == TBusEdge::Dominant ? receiver.Responses.Dominant : receiver.Responses.Recessive;
      const auto& own = edge == TBusEdge::Dominant ? Reference.DominantDelay : Reference.RecessiveDelay;
      TPairMeasure pair;
      pair.Transmitter = Sender.Station;
      pair.Receiver = receiver.Station;
      pair.TransmitterName = Sender.Name;
      pair.ReceiverName = receiver.Name;
      pair.Edge = edge;
      if (const auto crossing = ResponseDelay(r, edge, Thresholds)) {
        pair.Delay = *crossing - own.value_or(0.0);
        const TEdgeResponse response =
            MeasureResponse(r.Time, r.Volts, edge, *crossing, r.Time.empty() ? 0.0 : r.Time.back(), Thresholds);
        if (response.Settle) pair.Settle = *crossing + *response.Settle;
        pair.Overshoot = response.Overshoot;
        pair.Undershoot = response.Undershoot;
        pair.FalseEdge = response.FalseEdge;
      }
      pairs.push_back(std::move(pair));
    }
  }
  return pairs;
}

// Each station's trace: the run's traces follow the circuit's nodes.
std::vector<const std::vector<double>*> stationVolts(const TAnalysisPlan& Plan, const TNgspiceCircuit& Circuit,
                                                     const TSimulationResult& Result, const std::string& Name) {
  std::vector<const std::vector<double>*> volts(Plan.Stations.size(), nullptr);
  for (std::size_t n = 0; n < Circuit.Nodes.size(); ++n)
    for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
      if (Circuit.Nodes[n].Spice == Plan.Stations[s].Spice) volts[s] = &Result.Transient.Traces[n].Values;
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    if (!volts[s])
      throw EAnalysisError("the run with " + Name + " transmitting has no voltage at " + Plan.Stations[s].Name);
  return volts;
}

bool firstLevelDominant(const TAnalysisPlan& Plan) {
  const std::string what = "the run of the driver at its two levels";
  const TSimulationResult probe = simulate(translated(LevelProbeDeck(Plan), what), what);
  return FirstLevelDominant(probe.Transient.Traces[0].Values.back(), probe.Transient.Traces[1].Values.back());
}

}  // namespace

void RefuseOversizedRuns(const TAnalysisPlan& Plan) {
  if (Plan.Stations.empty()) return;
  const TRunSize size = EstimateRunSize(TranslateForNgspice(TransmitterDeck(Plan, 0, true)));
  const std::uint64_t limit = RunMemoryLimit();
  if (size.Bytes <= static_cast<double>(limit)) return;
  const auto megabytes = [](double Bytes) { return std::to_string(static_cast<std::uint64_t>(Bytes / 1e6)) + " MB"; };
  throw EAnalysisError("the bus is too large to analyse on this computer: each transmitter's run would need about " +
                       megabytes(size.Bytes) + " of memory for " + std::to_string(size.Vectors - 1) +
                       " node voltages, and at most " + megabytes(static_cast<double>(limit)) + " fit");
}

TTransmitterRun RunPattern(const TAnalysisPlan& Plan, std::size_t Transmitter, std::int64_t BitRate, double Shift) {
  if (Transmitter >= Plan.Stations.size()) throw EAnalysisError("no station " + std::to_string(Transmitter));
  if (BitRate <= 0 || !std::isfinite(Shift)) throw EAnalysisError("no bit rate to run the stream at");
  const bool firstDominant = firstLevelDominant(Plan);
  const double bitTime = 1.0 / static_cast<double>(BitRate);
  const TBitStream& stream = WorstCaseStream();
  std::vector<TTxdEdge> edges = StreamEdges(stream, Plan.EdgeAt, bitTime);
  for (TTxdEdge& edge : edges)
    if (edge.Edge == TBusEdge::Recessive) edge.Time -= Shift;
  const double stop = Plan.EdgeAt + static_cast<double>(stream.size() + 1) * bitTime;
  const std::string& name = Plan.Stations[Transmitter].Name;
  const TextLines deck = PatternDeck(Plan, Transmitter, firstDominant, edges, stop);
  const std::string what = "the full run of the bit stream with " + name + " transmitting";
  const TNgspiceCircuit circuit = translated(deck, what);
  const TSimulationResult result = simulate(circuit, what);
  const auto volts = stationVolts(Plan, circuit, result, name);
  const auto waves = window(result.Transient.Scale, volts, 0.0, stop + 1.0, 0.0);
  TTransmitterRun run;
  run.Transmitter = static_cast<int>(Transmitter);
  run.Pattern.BitRate = BitRate;
  run.Pattern.Shift = Shift;
  run.Pattern.Start = Plan.EdgeAt;
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    run.Pattern.Stations.push_back({static_cast<int>(s), Plan.Stations[s].Name, waves[s]});
  return run;
}

namespace {

TTransmitterRun edgeRun(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                        bool KeepTraces, bool FirstDominant) {
  const TSimulationResult reference =
      simulate(translated(ReferenceDeck(Plan, FirstDominant), "the run of the driver alone into 60 ohms"),
               "the run of the driver alone into 60 ohms");
  const std::string& name = Plan.Stations[Transmitter].Name;
  const TextLines deck = TransmitterDeck(Plan, Transmitter, FirstDominant);
  const std::string what = "the run with " + name + " transmitting";
  const TNgspiceCircuit circuit = translated(deck, what);
  const TSimulationResult result = simulate(circuit, what);

  const auto volts = stationVolts(Plan, circuit, result, name);
  TTransmitterRun run;
  run.Transmitter = static_cast<int>(Transmitter);
  run.Reference =
      edgeResponses(Plan, FirstDominant, reference.Transient.Scale, {&reference.Transient.Traces[0].Values}).front();
  const auto responses = edgeResponses(Plan, FirstDominant, result.Transient.Scale, volts);
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    run.Stations.push_back({static_cast<int>(s), Plan.Stations[s].Name, responses[s]});
  run.Pairs =
      pairsOf(run.Stations[Transmitter], run.Stations, DriverReferenceOf(run.Reference, Thresholds), Thresholds);
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

bool settled(const TTransmitterRun& Run) {
  if (!std::isfinite(SettlingTime(Run.Reference))) return false;
  return std::all_of(Run.Stations.begin(), Run.Stations.end(),
                     [](const TStationResponse& S) { return std::isfinite(SettlingTime(S.Responses)); });
}

}  // namespace

TTransmitterRun RunTransmitter(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                               bool KeepTraces) {
  if (Transmitter >= Plan.Stations.size()) throw EAnalysisError("no station " + std::to_string(Transmitter));
  const bool firstDominant = firstLevelDominant(Plan);
  // A bus that traps a slow mode (equal stubs at one point) still rings when the usual hold
  // ends; the responses' last samples would pass for final levels and every composed edge
  // would carry the ring's offset. Such a run is made again with each edge held longer.
  TAnalysisPlan plan = Plan;
  TTransmitterRun run = edgeRun(plan, Transmitter, Thresholds, KeepTraces, firstDominant);
  for (int longer = 0; longer < kMostLongerHolds && !settled(run); ++longer) {
    plan.Hold *= kLongerHold;
    plan.Stop = plan.EdgeAt + 2.0 * plan.Hold;
    if (plan.Stop > kLongestRun) break;
    run = edgeRun(plan, Transmitter, Thresholds, KeepTraces, firstDominant);
  }
  return run;
}

namespace {

Json optionalJson(const std::optional<double>& Value) { return Value ? Json(*Value) : Json(nullptr); }
// Times in a run lie within it, from its TXD edges; a time beyond this is not from a run.
constexpr double kLongestTime = 10 * kLongestRun;

double finiteOf(const Json& Value) {
  if (!Value.is_number()) throw EAnalysisError("a value is not a number");
  const double number = Value.get<double>();
  if (!std::isfinite(number)) throw EAnalysisError("a value is not a finite number");
  return number;
}
double timeOf(const Json& Value) {
  const double time = finiteOf(Value);
  if (std::fabs(time) > kLongestTime) throw EAnalysisError("a time lies outside the run");
  return time;
}
// A time, or null for none.
std::optional<double> optionalOf(const Json& Value) {
  return Value.is_null() ? std::nullopt : std::optional<double>(timeOf(Value));
}
// A station's or transmitter's index: a whole number, never a fraction or a boolean.
int indexOf(const Json& Value) {
  if (!Value.is_number_integer() || Value.get<std::int64_t>() < 0 || Value.get<std::int64_t>() > INT_MAX ||
      (Value.is_number_unsigned() && Value.get<std::uint64_t>() > INT_MAX))
    throw EAnalysisError("a station's number is not a whole number from 0");
  return static_cast<int>(Value.get<std::int64_t>());
}
// Times ascending within the run, voltages finite, as many of each.
void readTrace(const Json& J, std::vector<double>& Time, std::vector<double>& Volts) {
  const Json& time = J.at("time");
  const Json& volts = J.at("volts");
  if (!time.is_array() || !volts.is_array() || time.size() != volts.size())
    throw EAnalysisError("a trace's times and voltages differ in count");
  Time.reserve(time.size());
  Volts.reserve(volts.size());
  for (std::size_t i = 0; i < time.size(); ++i) {
    Time.push_back(timeOf(time[i]));
    Volts.push_back(finiteOf(volts[i]));
    if (i > 0 && Time[i] < Time[i - 1]) throw EAnalysisError("a trace's times do not ascend");
  }
}

Json traceJson(const TWave& Trace) { return {{"time", Trace.Time}, {"volts", Trace.Volts}}; }
Json responsesJson(const TEdgeResponses& R) {
  return {{"dominant", traceJson(R.Dominant)}, {"recessive", traceJson(R.Recessive)}};
}

// A response from a part or a worker.
TWave traceOf(const Json& J) {
  TWave trace;
  readTrace(J, trace.Time, trace.Volts);
  return trace;
}
TEdgeResponses responsesOf(const Json& J) { return {traceOf(J.at("dominant")), traceOf(J.at("recessive"))}; }

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
  Json stations = Json::array();
  for (const TStationResponse& s : Run.Stations)
    stations.push_back({{"station", s.Station}, {"name", s.Name}, {"responses", responsesJson(s.Responses)}});
  Json traces = Json::array();
  for (const TPlotTrace& t : Run.Traces)
    traces.push_back({{"station", t.Station}, {"time", t.Time}, {"volts", t.Volts}});
  Json pattern = nullptr;
  if (Run.Pattern.BitRate > 0) {
    Json waves = Json::array();
    for (const TStationWave& w : Run.Pattern.Stations)
      waves.push_back({{"station", w.Station}, {"name", w.Name}, {"wave", traceJson(w.Wave)}});
    pattern = {{"bitrate", Run.Pattern.BitRate},
               {"shift", Run.Pattern.Shift},
               {"start", Run.Pattern.Start},
               {"stations", waves}};
  }
  return Json{{"transmitter", Run.Transmitter},
              {"pattern", pattern},
              {"pairs", pairs},
              {"stations", stations},
              {"reference", responsesJson(Run.Reference)},
              {"traces", traces}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

TTransmitterRun TransmitterRunFromJson(const std::string& Text) {
  try {
    const Json json = Json::parse(Text);
    TTransmitterRun run;
    run.Transmitter = indexOf(json.at("transmitter"));
    for (const Json& p : json.at("pairs")) {
      TPairMeasure pair;
      pair.Transmitter = indexOf(p.at("transmitter"));
      pair.Receiver = indexOf(p.at("receiver"));
      pair.TransmitterName = p.at("transmitter_name").get<std::string>();
      pair.ReceiverName = p.at("receiver_name").get<std::string>();
      const std::string edge = p.at("edge").get<std::string>();
      if (edge != "dominant" && edge != "recessive") throw EAnalysisError("unknown edge " + edge);
      pair.Edge = edge == "dominant" ? TBusEdge::Dominant : TBusEdge::Recessive;
      pair.Delay = optionalOf(p.at("delay"));
      pair.Settle = optionalOf(p.at("settle"));
      pair.Overshoot = finiteOf(p.at("overshoot"));
      pair.Undershoot = finiteOf(p.at("undershoot"));
      pair.FalseEdge = optionalOf(p.at("false_edge"));
      run.Pairs.push_back(std::move(pair));
    }
    for (const Json& s : json.at("stations"))
      run.Stations.push_back(
          {indexOf(s.at("station")), s.at("name").get<std::string>(), responsesOf(s.at("responses"))});
    run.Reference = responsesOf(json.at("reference"));
    if (const Json& pattern = json.at("pattern"); !pattern.is_null()) {
      run.Pattern.BitRate = pattern.at("bitrate").get<std::int64_t>();
      run.Pattern.Shift = pattern.at("shift").get<double>();
      run.Pattern.Start = pattern.at("start").get<double>();
      for (const Json& w : pattern.at("stations"))
        run.Pattern.Stations.push_back(
            {w.at("station").get<int>(), w.at("name").get<std::string>(), traceOf(w.at("wave"))});
    }
    for (const Json& t : json.at("traces")) {
      TPlotTrace trace;
      trace.Station = indexOf(t.at("station"));
      readTrace(t, trace.Time, trace.Volts);
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

std::vector<TResponseSet> ResponsesOf(const std::vector<TTransmitterRun>& Runs) {
  std::vector<TResponseSet> sets;
  for (const TTransmitterRun& run : Runs) sets.push_back({run.Transmitter, run.Stations});
  return sets;
}

TStreamVerdict JudgeRuns(const std::vector<TTransmitterRun>& Runs, const TAnalysisSettings& Settings) {
  TEdgeResponses reference;
  if (!Runs.empty()) reference = Runs.front().Reference;
  return JudgeStreams(ResponsesOf(Runs), DriverReferenceOf(std::move(reference), Settings.Thresholds), Settings);
}

}  // namespace busweave

// The plan of a bus analysis, read once from the circuit, and the decks made from it: the level
// probe, the driver alone into the reference load, a transmitter's edge run and its full run of
// the stream.

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "model/NameText.h"
#include "spice/SpiceNumbers.h"
#include "spice/SpiceStatements.h"
#include "spice/SpiceTranslation.h"

namespace busweave {
namespace {

// A bus as the probe loads a driver: two terminations in parallel.
constexpr const char* kProbeLoad = "60";
// How long each edge of the edge run is held, at least, and in passes over all the lines.
constexpr double kShortestHold = 1e-6;
constexpr double kEchoPasses = 12.0;
// The quiet bus before the first edge, beyond the source's own ramp.
constexpr double kQuietLead = 20e-9;

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
  if (!(plan.Stop > 0) || !std::isfinite(plan.Stop) || plan.Stop > LongestRun)
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

std::vector<TEdgeSamplePoint> EdgeRunSamplePoints(const TTransmitterRun& Run, int Station,
                                                  const TStreamVerdict& Verdict, const TAnalysisSettings& Settings,
                                                  double EdgeAt, double PlannedHold) {
  std::vector<TEdgeSamplePoint> points;
  const auto station = std::find_if(Run.Stations.begin(), Run.Stations.end(),
                                    [Station](const TStationResponse& S) { return S.Station == Station; });
  if (station == Run.Stations.end()) return points;
  const double hold = Run.Hold > 0.0 ? Run.Hold : PlannedHold;
  const TDriverReference reference = VerdictReference(Verdict);
  const double shift = DriverCompensation(reference, Settings);
  const TBitStream& stream = WorstCaseStream();
  const auto firstRecessive = static_cast<std::size_t>(std::find(stream.begin(), stream.end(), false) - stream.begin());
  const auto [highestWorking, lowestFailing] = EyeDataRates(Verdict.Bus);
  for (const auto& [rate, works] : {std::pair{highestWorking, true}, std::pair{lowestFailing, false}}) {
    if (rate <= 0) continue;
    const TDecodeSettings d = DecodeSettingsOf(Settings, TBusPhase::Data, rate);
    const TDecodeResult result =
        DecodeStream(StreamTrace(*station, reference, Settings, rate), Station == Run.Transmitter, d);
    // Never synchronised: the verdict sampled nothing there.
    if (result.BitStarts.empty()) continue;
    // The sample instant of bit K: where the decoder put it, or, past the bit it stopped at, on
    // from there a bit time each.
    const auto sampleOf = [&](std::size_t K) {
      if (K < result.Samples.size()) return result.Samples[K];
      const std::size_t last = result.BitStarts.size() - 1;
      return result.BitStarts.back() + (static_cast<double>(K - last) + d.SamplePoint) * d.BitTime;
    };
    points.push_back({EdgeAt + sampleOf(0), rate, works});
    if (firstRecessive >= stream.size()) continue;
    // In the stream the recessive TXD edge went out at its bit's start less the compensation.
    const double edge = static_cast<double>(firstRecessive) * d.BitTime - shift;
    points.push_back({EdgeAt + hold + sampleOf(firstRecessive) - edge, rate, works});
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

}  // namespace busweave

#include "spice/SpiceTranslation.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "model/NameText.h"
#include "model/NetworkContainer.h"
#include "spice/SpiceNumbers.h"

namespace busweave {
namespace {

std::string joinWords(const std::vector<std::string>& Words) {
  std::string text;
  for (const auto& word : Words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

// A lossless line sets a breakpoint one delay ahead wherever the slope at its ends changes by
// more than this (V/s). ngspice's default of 1 V/s marks every wiggle of a decaying echo: the
// breakpoints multiply from line to line, steps shrink to a fraction of a nanosecond, and
// ngspice stalls ("Timestep too small") on two that nearly coincide. 0.1 mV/ns is three orders
// below a driver's edge and leaves the voltages within a few millivolts.
constexpr const char* kLineSlopeChange = "+ ABS=1e5";

using Statement = TSpiceStatement;

bool isOneOf(const std::string& Key, std::initializer_list<const char*> Keys) {
  return std::any_of(Keys.begin(), Keys.end(), [&](const char* K) { return Key == K; });
}

// .OPTIONS without what only shapes PSPICE's printed output: the listings and the point limit
// of its output file. Nothing when no option is left.
std::optional<std::string> cleanedOptions(const Statement& S) {
  // "LIMPTS = 1000000" and "LIMPTS=1000000" alike: glue the '=' to its neighbours first, in
  // one pass (a line may be long).
  std::string text;
  text.reserve(S.Text.size());
  for (std::size_t i = 0; i < S.Text.size(); ++i) {
    const char c = S.Text[i];
    if (c == '=') {
      while (!text.empty() && IsSpiceBlank(text.back())) text.pop_back();
      text += c;
      while (i + 1 < S.Text.size() && IsSpiceBlank(S.Text[i + 1])) ++i;
    } else {
      text += c;
    }
  }
  auto words = SpiceWords(text, false);
  std::vector<std::string> kept{words.front()};
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string name = LowerCase(words[i].substr(0, words[i].find('=')));
    if (isOneOf(name, {"limpts", "acct", "list", "node", "opts", "nopage", "noecho", "nomod", "width", "numdgt"}))
      continue;
    kept.push_back(words[i]);
  }
  if (kept.size() == 1) return std::nullopt;
  return IndentOf(S.Lines.front()) + joinWords(kept);
}

// The delay of a transmission line "Tname n1 n2 n3 n4 Z0=... TD=..." (or F= with NL=).
std::optional<double> lineDelay(const Statement& S, const TSpiceParameters& Parameters) {
  std::optional<double> td;
  std::optional<double> frequency;
  double normalizedLength = 0.25;
  for (const auto& word : SpiceWords(S.Text, false)) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = LowerCase(word.substr(0, equals));
    const auto value = Parameters.Evaluate(word.substr(equals + 1));
    if (!value) continue;
    if (name == "td") td = value;
    if (name == "f") frequency = value;
    if (name == "nl") normalizedLength = *value;
  }
  if (td) return td;
  if (frequency && *frequency > 0) return normalizedLength / *frequency;
  return std::nullopt;
}

// The rise and fall times of a PULSE source: its fourth and fifth arguments.
void pulseEdges(const Statement& S, const TSpiceParameters& Parameters, std::vector<double>& Edges) {
  const std::string lower = LowerCase(S.Text);
  const auto at = lower.find("pulse");
  if (at == std::string::npos) return;
  const auto open = S.Text.find('(', at);
  if (open == std::string::npos) return;
  int depth = 0;
  std::size_t close = open;
  for (; close < S.Text.size(); ++close) {
    if (S.Text[close] == '(') ++depth;
    if (S.Text[close] == ')' && --depth == 0) break;
  }
  const auto arguments = SpiceWords(S.Text.substr(open + 1, close - open - 1), true);
  for (std::size_t i = 3; i < 5 && i < arguments.size(); ++i)
    if (const auto edge = Parameters.Evaluate(arguments[i])) Edges.push_back(*edge);
}

bool startsWithNoCase(const std::string& Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && LowerCase(std::string_view(Text).substr(0, Prefix.size())) == Prefix;
}

// The file an .include or .lib line names, as ngspice reads it: the word after the keyword,
// quotes taken off.
std::string includedFile(const std::string& Text) {
  std::size_t at = 0;
  while (at < Text.size() && !IsSpiceBlank(Text[at])) ++at;
  while (at < Text.size() && (IsSpiceBlank(Text[at]) || Text[at] == '"' || Text[at] == '\'')) ++at;
  std::size_t end = at;
  while (end < Text.size() && !IsSpiceBlank(Text[end]) && Text[end] != '"' && Text[end] != '\'') ++end;
  return Text.substr(at, end - at);
}

// Whether Path lies in Folder once both are resolved (symbolic links and ".." included).
bool isInside(const std::filesystem::path& Path, const std::string& Folder) {
  std::error_code ec;
  const auto file = std::filesystem::weakly_canonical(Path, ec);
  if (ec) return false;
  const auto folder = std::filesystem::weakly_canonical(std::filesystem::absolute(Folder, ec), ec);
  if (ec) return false;
  auto f = file.begin();
  for (const auto& part : folder) {
    if (part.empty()) break;  // a trailing separator
    if (f == file.end() || *f != part) return false;
    ++f;
  }
  return f != file.end();
}

// Refuses what in Lines would make ngspice run its own commands while it reads the circuit (a
// command file, .control blocks, "*#" lines) or read a file from outside the templates' folder;
// included files are read and refused alike. Where names a line of Lines.
class TCommandCheck {
 public:
  explicit TCommandCheck(const std::optional<TCircuitSources>& Sources) : FSources(Sources) {}

  void Check(const TextLines& Lines, std::size_t End, const std::function<std::string(std::size_t)>& Where,
             const std::filesystem::path& Folder, int Depth) {
    if (!Lines.empty() && startsWithNoCase(TrimmedBlanks(Lines.front()), "*ng_script"))
      refuse(Where(0), "a first line \"*ng_script\" makes ngspice run the circuit as its commands");
    for (std::size_t i = 1; i < End && i < Lines.size(); ++i) {
      const std::string text = TrimmedBlanks(Lines[i]);
      if (startsWithNoCase(text, ".control") || startsWithNoCase(text, ".endc"))
        refuse(Where(i), SpiceWords(text).front() + ": a .control block runs ngspice's commands");
      if (text.compare(0, 2, "*#") == 0) refuse(Where(i), "a line beginning with *# runs an ngspice command");
      // ngspice reads the file of ".lib FILE" and of ".lib FILE SECTION" alike.
      if (FSources && (startsWithNoCase(text, ".inc") || startsWithNoCase(text, ".lib")))
        include(text, Where(i), Folder, Depth);
    }
  }

 private:
  [[noreturn]] static void refuse(const std::string& Where, const std::string& What) {
    throw ESpiceCommandError(Where + ": " + What + ", which Busweave does not let a circuit do when it simulates");
  }

  void include(const std::string& Text, const std::string& Where, const std::filesystem::path& From, int Depth) {
    const std::string name = includedFile(Text);
    if (name.empty()) return;  // ngspice reports it
    // ngspice looks beside the including file first, then in the current folder.
    std::error_code ec;
    std::filesystem::path path = name;
    if (path.is_relative() && name[0] != '~')
      path =
          !From.empty() && std::filesystem::exists(From / path, ec) ? From / path : std::filesystem::absolute(path, ec);
    if (name[0] == '~' || !std::filesystem::is_regular_file(path, ec) || !isInside(path, FSources->Folder))
      throw ESpiceCommandError(Where + ": " + SpiceWords(Text).front() + " reads " + name +
                               ", which is not a file in the templates' folder " + FSources->Folder);
    constexpr int kDeepestInclude = 8;
    constexpr int kMostIncludes = 64;
    if (Depth >= kDeepestInclude || ++FIncluded > kMostIncludes)
      throw ESpiceCommandError(Where + ": the included files nest too deeply or are too many");
    TextLines lines;
    try {
      lines = SplitLines(ReadTemplate(path.string()));
    } catch (const std::exception& error) {
      throw ESpiceCommandError(Where + ": " + error.what());
    }
    // An included file has no title line: its first line is a statement too.
    lines.insert(lines.begin(), std::string());
    const std::string file = path.string();
    Check(
        lines, lines.size(), [&](std::size_t I) { return file + " line " + std::to_string(I); }, path.parent_path(),
        Depth + 1);
  }

  const std::optional<TCircuitSources>& FSources;
  int FIncluded = 0;
};

// "* Node [3] ECU2" gives "[3] ECU2".
std::optional<std::string> nodeComment(const std::string& Text) {
  static const std::string prefix = "* Node ";
  if (Text.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return Text.substr(prefix.size());
}

// "RZL3 3 0 1500": a network node's resistor to ground; gives "3".
std::optional<std::string> networkNode(const Statement& S) {
  if (S.Key.size() < 4 || S.Key.compare(0, 3, "rzl") != 0) return std::nullopt;
  const auto words = SpiceWords(S.Text, false);
  if (words.size() < 3 || LowerCase(words[0]).substr(3) != words[1] || words[2] != "0") return std::nullopt;
  if (!std::all_of(words[1].begin(), words[1].end(),
                   [](char C) { return std::isdigit(static_cast<unsigned char>(C)); }))
    return std::nullopt;
  return words[1];
}

}  // namespace

std::string SpiceNumberText(double Value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::general, 6);
  return std::string(buffer, result.ptr);
}

TextLines SaveStatements(const std::vector<TNetworkNode>& Nodes) {
  // Short lines: ngspice reads a line of any length, but a person reading the deck does not.
  constexpr std::size_t kNodesPerLine = 16;
  TextLines lines;
  for (std::size_t i = 0; i < Nodes.size(); ++i) {
    if (i % kNodesPerLine == 0) lines.emplace_back(".SAVE");
    lines.back() += " V(" + Nodes[i].Spice + ")";
  }
  return lines;
}

TNgspiceCircuit TranslateForNgspice(const TextLines& Circuit, std::stop_token Stop,
                                    const TTranslationOptions& Options) {
  TNgspiceCircuit circuit;
  circuit.Lines.push_back(Circuit.empty() ? std::string("Busweave circuit") : Circuit.front());
  std::vector<Statement> statements = ReadSpiceStatements(Circuit, Stop);
  if (Stop.stop_requested()) return circuit;

  // SPICE statements after .END are not part of the circuit.
  const auto end =
      std::find_if(statements.begin(), statements.end(), [](const Statement& S) { return S.Key == ".end"; });
  TCommandCheck(Options.Sources)
      .Check(
          Circuit, end == statements.end() ? Circuit.size() : end->Line,
          [&](std::size_t I) {
            return Options.Sources ? CircuitLineName(*Options.Sources, I) : "circuit line " + std::to_string(I + 1);
          },
          {}, 0);
  statements.erase(end, statements.end());

  TSpiceParameters parameters;
  for (const auto& statement : statements)
    if (statement.Key == ".param") parameters.AddStatement(statement.Text.substr(6));
  // Once each, in order: a chain of parameters then costs one step per parameter, and one that
  // nests too deeply stops the translation here with its name.
  parameters.EvaluateAll();

  std::vector<double> delays;
  std::vector<double> edges;
  // The edges first: they set which lines are short.
  {
    int depth = 0;
    for (const auto& statement : statements) {
      if (statement.Comment || statement.Key.empty()) continue;
      if (statement.Key == ".subckt") ++depth;
      if (statement.Key == ".ends" && depth > 0) --depth;
      if (statement.Key[0] == 'v' || statement.Key[0] == 'i') pulseEdges(statement, parameters, edges);
    }
  }
  circuit.ShortLine = ShortLineThreshold(edges, Options.ShortLineRatio);
  // The groups of top-level nodes joined so far by lines turned into connections (union-find).
  std::map<std::string, std::string> joinedTo;
  const auto groupOf = [&](const std::string& Node) {
    std::string root = LowerCase(Node);
    for (auto at = joinedTo.find(root); at != joinedTo.end() && at->second != root; at = joinedTo.find(root))
      root = at->second;
    // Shorten the path walked, so that long chains of joins stay cheap.
    for (std::string node = LowerCase(Node); node != root;) {
      std::string& parent = joinedTo[node];
      node = std::exchange(parent, root);
    }
    return root;
  };
  // Joins two nodes; false when they are one already.
  const auto join = [&](const std::string& A, const std::string& B) {
    const std::string a = groupOf(A);
    const std::string b = groupOf(B);
    if (a == b) return false;
    joinedTo[a] = b;
    joinedTo.try_emplace(b, b);
    return true;
  };
  std::size_t shortNotes = 0;
  constexpr std::size_t kMostShortNotes = 20;
  // Every element name of the top level, so that a new name never takes an existing one.
  std::set<std::string> elementNames;
  std::set<std::string> seenNames;
  {
    int depth = 0;
    for (const auto& statement : statements) {
      if (statement.Key == ".subckt") ++depth;
      if (statement.Key == ".ends" && depth > 0) --depth;
      if (depth == 0 && !statement.Comment && !statement.Key.empty() && statement.Key[0] != '.')
        elementNames.insert(statement.Key);
    }
  }
  // A name for a new element that no element has. The next number to try is kept per base
  // name, so that many elements of one name cost no more than many of different names.
  std::map<std::string, long long> nextSuffix;
  const auto uniqueName = [&](const std::string& Base) {
    std::string name = Base;
    long long& n = nextSuffix.try_emplace(LowerCase(Base), 2).first->second;
    while (elementNames.count(LowerCase(name))) name = Base + "_" + std::to_string(n++);
    elementNames.insert(LowerCase(name));
    seenNames.insert(LowerCase(name));
    return name;
  };
  std::optional<std::string> pendingName;
  bool lineSlope = false;  // the statement is a line whose breakpoints we set
  std::size_t tranIndex = 0;
  std::optional<std::vector<std::string>> tranWords;
  std::string tranText;
  int subcircuitDepth = 0;
  bool userMinBreak = false;

  for (auto& statement : statements) {
    if (Stop.stop_requested()) return circuit;
    const std::string& key = statement.Key;
    if (statement.Comment) {
      for (const auto& line : statement.Lines)
        if (auto name = nodeComment(TrimmedBlanks(line))) pendingName = std::move(name);
      circuit.Lines.insert(circuit.Lines.end(), statement.Lines.begin(), statement.Lines.end());
      continue;
    }
    if (key == ".subckt") ++subcircuitDepth;
    if (key == ".ends" && subcircuitDepth > 0) --subcircuitDepth;

    // Output statements: ngspice keeps every vector itself, and its .PROBE would put a probe
    // source at every terminal.
    if (isOneOf(key, {".probe", ".probe64", ".print", ".plot", ".width"})) continue;
    if (isOneOf(key, {".options", ".option", ".opt"})) {
      if (auto options = cleanedOptions(statement)) {
        if (LowerCase(*options).find("minbreak") != std::string::npos) userMinBreak = true;
        circuit.Lines.push_back(*options);
      }
      continue;
    }
    if (key == ".tran" || key.rfind(".tran/", 0) == 0) {
      tranIndex = circuit.Lines.size();
      tranWords = SpiceWords(statement.Text, true);
      tranText = statement.Text;
      // ngspice knows no /OP; the statement is rewritten below, once every delay is known.
      tranWords->front() = ".TRAN";
      circuit.Lines.push_back(joinWords(*tranWords));
      continue;
    }
    if (key == ".ac") circuit.HasAc = true;

    if (!key.empty() && key[0] == 't') {
      const auto delay = lineDelay(statement, parameters);
      // ngspice fails on a line without delay ("impossible error"); a wire whose length was
      // never set is a plain connection of its two ports, which 0 V sources make exactly. A
      // line far shorter than the edges is one too, electrically, and would otherwise force a
      // step of a fraction of its delay on the whole run.
      const auto words = SpiceWords(statement.Text, false);
      const bool zero = delay && *delay == 0.0;
      const bool isShort = delay && subcircuitDepth == 0 && *delay < circuit.ShortLine;
      if ((zero || isShort) && words.size() >= 5) {
        const std::string indent = IndentOf(statement.Lines.front());
        const std::string name = uniqueName("V" + words[0]);
        // At the top level only the joins that connect something new: a ring of 0 V sources
        // is a loop of voltage sources. Inside a subcircuit the nodes are its own.
        if (subcircuitDepth > 0 || join(words[1], words[3]))
          circuit.Lines.push_back(indent + name + " " + words[1] + " " + words[3] + " DC 0");
        if (LowerCase(words[2]) != LowerCase(words[4]) && (subcircuitDepth > 0 || join(words[2], words[4])))
          circuit.Lines.push_back(indent + uniqueName(name + "_ref") + " " + words[2] + " " + words[4] + " DC 0");
        ++circuit.JoinedLines;
        if (zero) {
          circuit.Notes.push_back("line " + words[0] + " has no length; it is simulated as a direct connection");
        } else if (++shortNotes <= kMostShortNotes) {
          circuit.Notes.push_back(
              "line " + words[0] + " (delay " + TimeText(*delay) + ") is shorter than " + TimeText(circuit.ShortLine) +
              " (the fastest source edge " + TimeText(circuit.ShortLine * Options.ShortLineRatio) + " / " +
              SpiceNumberText(Options.ShortLineRatio) + "); it is simulated as a direct connection");
        }
        continue;
      }
      if (delay) delays.push_back(*delay);
      lineSlope = std::none_of(words.begin(), words.end(),
                               [](const std::string& W) { return LowerCase(W).rfind("abs=", 0) == 0; });
    }

    const bool slope = std::exchange(lineSlope, false);
    std::optional<std::string> nodeName = std::exchange(pendingName, std::nullopt);
    if (subcircuitDepth == 0 && !key.empty() && key[0] != '.') {
      if (const auto node = networkNode(statement)) {
        int number = 0;
        const auto read = std::from_chars(node->data(), node->data() + node->size(), number);
        if (read.ec == std::errc())
          circuit.Nodes.push_back({*node, TrimmedBlanks(NumberedName(nodeName.value_or(""), number))});
      }
      // Element names must be unique; the network section's "T" + both node numbers is not
      // (nodes 1 and 12 give T112, and so do nodes 11 and 2).
      if (!seenNames.insert(key).second) {
        auto words = SpiceWords(statement.Text, false);
        const std::string renamed = uniqueName(words.front());
        circuit.Notes.push_back("element " + words.front() + " appears twice; the second is simulated as " + renamed);
        words.front() = renamed;
        circuit.Lines.push_back(IndentOf(statement.Lines.front()) + joinWords(words));
        if (slope) circuit.Lines.push_back(kLineSlopeChange);
        continue;
      }
    }
    circuit.Lines.insert(circuit.Lines.end(), statement.Lines.begin(), statement.Lines.end());
    if (slope) circuit.Lines.push_back(kLineSlopeChange);
  }

  if (tranWords) {
    // PSPICE: .TRAN[/OP] print-step final-time [no-print-time [step-ceiling]] [SKIPBP].
    auto& words = *tranWords;
    bool skipBias = false;
    std::vector<std::string> values;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::string lower = LowerCase(words[i]);
      if (lower == "skipbp" || lower == "uic")
        skipBias = true;
      else
        values.push_back(words[i]);
    }
    TTransientSpec spec;
    const auto value = [&](std::size_t Index) {
      return Index < values.size() ? parameters.Evaluate(values[Index]) : std::nullopt;
    };
    const auto step = value(0);
    const auto stop = value(1);
    if (values.size() >= 2 && step && stop) {
      spec.PrintStep = *step;
      spec.Stop = *stop;
      spec.Start = value(2).value_or(0.0);
      spec.Ceiling = value(3).value_or(0.0);
      circuit.Transient = spec;
      if (spec.Ceiling > 0) {
        circuit.Step = {spec.Ceiling, "the step ceiling of the circuit's .TRAN"};
      } else {
        circuit.Step = ChooseMaxStep(spec.Stop - spec.Start, delays, edges);
      }
      // ngspice ends a run once it is closer to the stop than MINBREAK; the run goes on by that
      // much, and the engine cuts it at the stop again.
      std::string stopText = values[1];
      if (circuit.Step.MaxStep > 0.0 && !userMinBreak) {
        char buffer[32];
        const auto written =
            std::to_chars(buffer, buffer + sizeof buffer, spec.Stop + circuit.Step.MaxStep * BreakpointMerge);
        stopText.assign(buffer, written.ptr);
      }
      std::string line = ".TRAN " + values[0] + " " + stopText + " " + (values.size() > 2 ? values[2] : "0") + " " +
                         SpiceNumberText(circuit.Step.MaxStep);
      if (skipBias) line += " UIC";
      circuit.Lines[tranIndex] = line;
    } else {
      circuit.Notes.push_back("the times of the circuit's .TRAN could not be read: " + tranText);
    }
  }
  // ngspice 39 gives up with "Timestep too small" where rounding leaves two breakpoints of the
  // lines a hair apart (on the six-station example at a step of 0.05 or 0.7 ns, at the very end
  // of a run at 0.1 ns, on a generated bus of 200 stations at 50 ps even with breakpoints
  // merged within a hundred-thousandth of the step). And every line echoes every edge with a
  // breakpoint, each a time point: most of the points on a bus of 50 stations. Breakpoints
  // closer than a quarter of the step are merged; a corner moved by that is below what the
  // step resolves (peaks of that bus within 0.0001 % of a run at a tenth of the step, with 40 %
  // fewer points).
  if (circuit.Step.MaxStep > 0.0 && !userMinBreak)
    circuit.Lines.push_back(".OPTIONS MINBREAK=" + SpiceNumberText(circuit.Step.MaxStep * BreakpointMerge));
  if (shortNotes > kMostShortNotes)
    circuit.Notes.push_back(std::to_string(shortNotes - kMostShortNotes) + " more lines shorter than " +
                            TimeText(circuit.ShortLine) + " are simulated as direct connections");
  if (Options.SaveNodesOnly) {
    const TextLines saves = SaveStatements(circuit.Nodes);
    circuit.Lines.insert(circuit.Lines.end(), saves.begin(), saves.end());
  }
  circuit.Lines.push_back(".END");
  return circuit;
}

}  // namespace busweave

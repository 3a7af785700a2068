#include <ostream>

#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kInfoHelp =
    "Usage: busweave-cli info FILE [--json]\n"
    "\n"
    "Loads the network file FILE and prints its node, wire and source counters, the bounding\n"
    "box of its nodes, and every element in the order the network keeps them (nodes, then\n"
    "wires, each by key). With --json the same is printed as one JSON object.\n"
    "A damaged file prints what could be read and exits with 1, naming the problem and the\n"
    "byte offset where it was found.\n";

void printText(const TCanNodes& Net, const std::string& File, std::ostream& Out) {
  Out << "file: " << File << "\n";
  Out << "nodes: " << Net.FNumNodes() << ", wires: " << Net.FNumLines() << ", sources: " << Net.FNumSources() << "\n";
  if (Net.FMinX() <= Net.FMaxX())
    Out << "bounding box: " << PointText({Net.FMinX(), Net.FMinY()}) << " to " << PointText({Net.FMaxX(), Net.FMaxY()})
        << "\n";
  else
    Out << "bounding box: none\n";
  for (int i = 0; i < Net.Count(); ++i) {
    Out << Net.Strings(i) << "  ";
    if (const TNode* node = Net.NodeAtIndex(i)) {
      Out << "node at " << PointText(node->FPos) << ", resistance " << node->FResistance << ", name "
          << JsonText(JsonName(node->FName)) << (node->FShowName ? ", name shown" : ", name hidden") << ", source "
          << static_cast<int>(node->FSource) << "\n";
    } else if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      Out << "wire " << PointText(wire->FStart) << " to " << PointText(wire->FEnd) << ", impedance " << wire->FImpedance
          << ", length " << wire->FLength << " mm, angle " << JsonText(JsonFloat(wire->FAngle))
          << (wire->FShowLength ? ", length shown" : ", length hidden") << "\n";
    }
  }
}

TJson elementJson(const TCanNodes& Net, int Index) {
  TJson element = {{"key", JsonName(Net.Strings(Index))}};
  if (const TNode* node = Net.NodeAtIndex(Index)) {
    element["kind"] = "node";
    element["x"] = node->FPos.X;
    element["y"] = node->FPos.Y;
    element["resistance"] = node->FResistance;
    element["name"] = JsonName(node->FName);
    element["show_name"] = node->FShowName != 0;
    element["source"] = static_cast<int>(node->FSource);
  } else if (const TTrmLine* wire = Net.WireAtIndex(Index)) {
    element["kind"] = "wire";
    element["start"] = JsonPoint(wire->FStart);
    element["end"] = JsonPoint(wire->FEnd);
    element["impedance"] = wire->FImpedance;
    element["length"] = wire->FLength;
    element["angle"] = JsonFloat(wire->FAngle);
    element["show_length"] = wire->FShowLength != 0;
  }
  return element;
}

void printJson(const TCanNodes& Net, const std::string& File, std::ostream& Out) {
  TJson document = {
      {"file", File}, {"nodes", Net.FNumNodes()}, {"wires", Net.FNumLines()}, {"sources", Net.FNumSources()}};
  if (Net.FMinX() <= Net.FMaxX())
    document["bbox"] = {Net.FMinX(), Net.FMinY(), Net.FMaxX(), Net.FMaxY()};
  else
    document["bbox"] = nullptr;
  document["elements"] = TJson::array();
  for (int i = 0; i < Net.Count(); ++i) document["elements"].push_back(elementJson(Net, i));
  WriteJson(Out, document);
}

}  // namespace

int RunInfo(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("info", kInfoHelp, {{"--json", false}}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "info needs exactly one FILE", "info");
  const std::string& file = args->Files[0];

  TCanNodes net = DocumentNetwork();
  LoadNetworkArgument(net, file);
  const TLoadError& error = net.LastLoadError();
  if (error.NotOpened()) {
    Err << kProgram << ": " << LoadProblem(InputName(file), error) << "\n";
    return ExitFailure;
  }
  // A damaged file still shows what could be read before the problem.
  if (args->Has("--json"))
    printJson(net, file, Out);
  else
    printText(net, file, Out);
  if (error.Failed()) {
    Err << kProgram << ": " << LoadProblem(InputName(file), error) << "\n";
    return ExitFailure;
  }
  return ExitDone;
}

}  // namespace busweave::cli

#include "cli/PartInputs.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <vector>

#include "circuit/CircuitFile.h"
#include "cli/CliCommon.h"

namespace busweave::cli {
namespace {

// Where a path a part records as it was typed may be now, seen from the merge: as it is, in the
// folder the search ran in, beside the part file. A path that was absolute is only itself.
std::vector<std::string> placesOf(const std::string& Recorded, const std::string& Folder, const std::string& Part) {
  std::vector<std::string> places{Recorded};
  if (Recorded.empty() || Recorded.front() == '/') return places;
  const std::string partFolder = Part == kStandardStream ? "" : std::filesystem::path(Part).parent_path().string();
  for (const std::string& base : {Folder, partFolder.empty() ? std::string(".") : partFolder}) {
    if (base.empty()) continue;
    const std::string place = (std::filesystem::path(base) / Recorded).lexically_normal().string();
    if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(place);
  }
  return places;
}

std::string placesText(const std::vector<std::string>& Places) {
  std::string text;
  for (const std::string& place : Places) text += (text.empty() ? "" : ", ") + place;
  return text;
}

}  // namespace

bool LocatePartInputs(TPartInputs& Inputs, const std::string& PartFile, const std::string& Command,
                      bool NetworkRequired, std::ostream& Err) {
  const TPartInputs& first = Inputs;
  // "-" in a part is a file of that name, not standard input.
  const std::string recorded = first.File == kStandardStream ? "./-" : first.File;
  const auto digestOf = [](const std::string& File) {
    try {
      return FileDigest(File);
    } catch (const std::exception&) {
      return std::string();
    }
  };
  const std::vector<std::string> networks = placesOf(recorded, first.Folder, PartFile);
  std::string network;
  for (const std::string& place : networks)
    if (digestOf(place) == first.Source.Network) {
      network = place;
      break;
    }
  if (network.empty()) {
    // Found, but changed since: the load and the merge say so.
    for (const std::string& place : networks)
      if (network.empty() && !digestOf(place).empty()) network = place;
  }
  if (network.empty() && !NetworkRequired) return true;
  if (network.empty()) {
    Err << kProgram << ": " << first.File << ": the network file the parts were made from is not found (looked for "
        << placesText(networks) << "); run " << Command << "-merge in the folder " << Command << " --shard ran in"
        << (first.Folder.empty() ? "" : " (" + first.Folder + ")") << "\n";
    return false;
  }
  const std::vector<std::string> folders = placesOf(first.Templates, first.Folder, PartFile);
  std::string templates;
  for (const std::string& place : folders) {
    try {
      if (PartSourceOf(network, ReadCircuitTemplates(place), first.Settings) == first.Source) {
        templates = place;
        break;
      }
    } catch (const std::exception&) {
      // Not readable there: the next place.
    }
  }
  if (templates.empty()) {
    if (digestOf(network) != first.Source.Network) {
      templates = first.Templates;  // the network's change is what the merge reports
    } else {
      Err << kProgram << ": " << first.File << ": the templates the parts were made with (" << HeaderTemplateName
          << " and " << TrailerTemplateName << " in " << first.Templates << ") are not found unchanged (looked in "
          << placesText(folders) << ")\n";
      return false;
    }
  }
  Inputs.File = network;
  Inputs.Templates = templates;
  return true;
}

}  // namespace busweave::cli

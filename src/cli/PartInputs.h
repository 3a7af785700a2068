#pragma once

// Where the network file and templates a part of a sharded analysis or search was made from are
// found by the merge, which may run in another folder than the parts: as recorded, in the folder
// the part was made in, or beside the part file.

#include <iosfwd>
#include <string>

#include "analysis/AnalysisPart.h"

namespace busweave::cli {

// What a part records of its inputs: the paths as they were typed, the folder they were typed in
// (empty in parts of older versions) and the digests the files must match.
struct TPartInputs {
  std::string File;
  std::string Templates;
  std::string Folder;
  TPartSource Source;
  TAnalysisSettings Settings;
};

// Points Inputs at the first place that holds the bytes the digests name. A network file found
// nowhere, or templates other than the parts' everywhere, is refused (the merge proves rates
// with them); a network file found but changed since is kept, for the merge to report. Command
// ("analyze" or "advise") names the commands in the message. Unless NetworkRequired, a network
// file found nowhere leaves Inputs as recorded (the merge then states what it cannot prove).
// False after the reason is printed.
bool LocatePartInputs(TPartInputs& Inputs, const std::string& PartFile, const std::string& Command,
                      bool NetworkRequired, std::ostream& Err);

}  // namespace busweave::cli

#pragma once

// Where transceiver classes are found: the classes shipped with the program, in its data folder
// (or in its build tree when run from there), and the user's own, in a folder beside them whose
// files replace shipped ones of the same name.

#include <string>
#include <string_view>
#include <vector>

#include "transceiver/Transceiver.h"

namespace busweave {

// A class's file is named after it: <name>.transceiver.
inline constexpr std::string_view kTransceiverExtension = ".transceiver";

// The class the analysis uses unless told otherwise: the standard's typical transceiver.
inline constexpr std::string_view kDefaultTransceiver = "iso11898-2-typ";

// Whether Name can name a class: letters, digits, '.', '-' and '_', starting with a letter or a
// digit, at most 64 characters (so that a name never leaves its folder).
bool IsTransceiverName(std::string_view Name);

struct TTransceiverFolders {
  std::string User;                  // empty when the user has none
  std::vector<std::string> Shipped;  // searched in order
};

// The folders of this program: the user's is BUSWEAVE_TRANSCEIVERS when set, else
// $XDG_DATA_HOME/busweave/transceivers, else ~/.local/share/busweave/transceivers; the shipped one
// is share/busweave/transceivers of the prefix the program runs from, or of its build tree.
TTransceiverFolders DefaultTransceiverFolders();

class TTransceiverCatalogue {
 public:
  explicit TTransceiverCatalogue(TTransceiverFolders Folders);

  // The names of all classes in the folders, sorted, each once.
  std::vector<std::string> Names() const;

  // The class called Name: the user's file when there is one (its Replaces names the shipped file
  // it hides), otherwise the shipped one. Throws ETransceiverError for a name that is not a class's
  // (naming the folders searched and the known classes), EFOpenError or ETransceiverError when its
  // file cannot be read.
  TTransceiver Load(std::string_view Name) const;

  const TTransceiverFolders& Folders() const { return FFolders; }

 private:
  TTransceiverFolders FFolders;
};

// The same as a catalogue of DefaultTransceiverFolders().
std::vector<std::string> TransceiverNames();
TTransceiver LoadTransceiver(std::string_view Name = kDefaultTransceiver);

// The sentence that says a user's file replaces a shipped class; empty when it does not.
std::string ReplacementNotice(const TTransceiver& Class);

}  // namespace busweave

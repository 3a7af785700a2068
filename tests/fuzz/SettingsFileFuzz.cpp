// Feeds arbitrary bytes to the settings file reader and writer. Whatever the text, a key that
// was written reads back as the value written, and writing it again changes nothing.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/SettingsFile.h"

namespace {

std::string trimmed(const std::string& Text) {
  const auto first = Text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return Text.substr(first, Text.find_last_not_of(" \t") - first + 1);
}

void roundTrip(const std::string& Text, const char* Key, const std::string& Value) {
  std::string found;
  busweave::FindIniValue(Text, "Busweave-V2", Key, found);
  const std::string written = busweave::SetIniValue(Text, "Busweave-V2", Key, Value);
  if (!busweave::FindIniValue(written, "Busweave-V2", Key, found) || found != Value) std::abort();
  if (busweave::SetIniValue(written, "Busweave-V2", Key, Value) != written) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  roundTrip(text, "Left", "340");
  // A value taken from the input itself: its first line, as the writer accepts values.
  roundTrip(text, "IDirectory", trimmed(text.substr(0, text.find_first_of("\r\n"))));
  return 0;
}

#pragma once

#include <string>
#include <string_view>

namespace busweave {

// Writes Bytes to Path through a temporary file in the same folder that is renamed over Path
// only when it is complete, so a failed write never leaves a damaged file in place of a good
// one. Throws EFCreateError when the file cannot be created, EWriteError when writing fails.
void writeFileAtomically(const std::string& Path, std::string_view Bytes);

}  // namespace busweave

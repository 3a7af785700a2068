#pragma once

// VersionInfoString: the program's version strings by index, the way the about box asks for its
// build version. The strings live in a table that the build generates from the project version
// and the build number, so the program and its version can never disagree.

#include <QString>
#include <span>

namespace busweave {

struct TVersionEntry {
  const char* Key;
  const char* Value;
};

// The table built into the program.
std::span<const TVersionEntry> ProgramVersionTable();

// The key of an index: 0 "CompanyName", 1 "FileDescription", 2 "FileVersion", 3 "InternalName",
// 4 "LegalCopyright", 5 "LegalTrademarks", 6 "OriginalFilename", 7 "ProductName",
// 8 "ProductVersion", 9 "Comments"; empty for any other index.
QString VersionKey(int Index);

// The value of the index's key in Table: an empty text when the table is empty, "no entry" when
// the key is missing or the index has none.
QString VersionInfoString(std::span<const TVersionEntry> Table, int Index);
// The same from the program's own table.
QString VersionInfoString(int Index);

}  // namespace busweave

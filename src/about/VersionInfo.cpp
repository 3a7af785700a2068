#include "about/VersionInfo.h"

#include <array>

#include "about/VersionTable.h"

namespace busweave {
namespace {

constexpr std::array<const char*, 10> kKeys = {"CompanyName",    "FileDescription", "FileVersion",      "InternalName",
                                               "LegalCopyright", "LegalTrademarks", "OriginalFilename", "ProductName",
                                               "ProductVersion", "Comments"};

}  // namespace

std::span<const TVersionEntry> ProgramVersionTable() { return kProgramVersionTable; }

QString VersionKey(int Index) {
  if (Index < 0 || Index >= static_cast<int>(kKeys.size())) return {};
  return QString::fromLatin1(kKeys[static_cast<std::size_t>(Index)]);
}

QString VersionInfoString(std::span<const TVersionEntry> Table, int Index) {
  if (Table.empty()) return {};
  const QString key = VersionKey(Index);
  // An index without a key names no string, never the table as a whole.
  if (key.isEmpty()) return QStringLiteral("no entry");
  for (const TVersionEntry& entry : Table)
    if (key == QLatin1String(entry.Key)) return QString::fromUtf8(entry.Value);
  return QStringLiteral("no entry");
}

QString VersionInfoString(int Index) { return VersionInfoString(ProgramVersionTable(), Index); }

}  // namespace busweave

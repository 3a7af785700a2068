#include "transceiver/TransceiverCatalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "base/NearestWord.h"

#ifndef BUSWEAVE_DATA_FROM_BIN
#define BUSWEAVE_DATA_FROM_BIN "../share"
#endif

namespace busweave {
namespace {

namespace fs = std::filesystem;

constexpr const char* kClassFolder = "busweave/transceivers";

bool isFolder(const fs::path& Path) {
  std::error_code error;
  return fs::is_directory(Path, error);
}

std::optional<std::string> classFile(const std::string& Folder, std::string_view Name) {
  if (Folder.empty()) return std::nullopt;
  const fs::path file = fs::path(Folder) / (std::string(Name) + std::string(kTransceiverExtension));
  std::error_code error;
  if (!fs::exists(file, error)) return std::nullopt;
  return file.string();
}

std::string folderList(const TTransceiverFolders& Folders) {
  std::string text;
  if (!Folders.User.empty()) text = Folders.User;
  for (const std::string& folder : Folders.Shipped) text.append(text.empty() ? "" : ", ").append(folder);
  return text.empty() ? "no folder" : text;
}

}  // namespace

bool IsTransceiverName(std::string_view Name) {
  if (Name.empty() || Name.size() > 64 || !std::isalnum(static_cast<unsigned char>(Name.front()))) return false;
  return std::all_of(Name.begin(), Name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

TTransceiverFolders DefaultTransceiverFolders() {
  TTransceiverFolders folders;
  if (const char* named = std::getenv("BUSWEAVE_TRANSCEIVERS"); named && *named) {
    folders.User = named;
  } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
    folders.User = (fs::path(data) / kClassFolder).string();
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    folders.User = (fs::path(home) / ".local/share" / kClassFolder).string();
  }

  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return folders;
  // Installed: the data folder of the prefix the program sits in. From the build tree, whose
  // programs and tests sit two folders below it: the copy the build makes at its top.
  const fs::path installed = (program.parent_path() / BUSWEAVE_DATA_FROM_BIN / kClassFolder).lexically_normal();
  const fs::path built = (program.parent_path() / "../../share" / kClassFolder).lexically_normal();
  if (isFolder(installed))
    folders.Shipped.push_back(installed.string());
  else if (isFolder(built))
    folders.Shipped.push_back(built.string());
  return folders;
}

TTransceiverCatalogue::TTransceiverCatalogue(TTransceiverFolders Folders) : FFolders(std::move(Folders)) {}

std::vector<std::string> TTransceiverCatalogue::Names() const {
  std::set<std::string> names;
  std::vector<std::string> folders = FFolders.Shipped;
  if (!FFolders.User.empty()) folders.push_back(FFolders.User);
  for (const std::string& folder : folders) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
      const fs::path& path = entry->path();
      if (path.extension() == kTransceiverExtension && IsTransceiverName(path.stem().string()))
        names.insert(path.stem().string());
    }
  }
  return {names.begin(), names.end()};
}

TTransceiver TTransceiverCatalogue::Load(std::string_view Name) const {
  if (!IsTransceiverName(Name))
    throw ETransceiverError(std::string(1, '\'').append(Name) +
                            "' is no transceiver class name: letters, digits, '.', '-' and '_', starting with a "
                            "letter or a digit");
  std::optional<std::string> shipped;
  for (const std::string& folder : FFolders.Shipped)
    if ((shipped = classFile(folder, Name))) break;
  const std::optional<std::string> own = classFile(FFolders.User, Name);
  if (!own && !shipped) {
    const std::vector<std::string> known = Names();
    std::string text = std::string("No transceiver class '").append(Name) + "' in " + folderList(FFolders) + ".";
    if (const auto nearest = NearestWord(Name, known)) text += " Did you mean '" + *nearest + "'?";
    std::string list;
    for (const std::string& name : known) list.append(list.empty() ? "" : ", ").append(name);
    text += known.empty() ? " There are no classes at all." : " The classes: " + list + ".";
    throw ETransceiverError(text);
  }
  TTransceiver result = ReadTransceiver(own ? *own : *shipped);
  if (own && shipped) result.Replaces = *shipped;
  return result;
}

std::vector<std::string> TransceiverNames() { return TTransceiverCatalogue(DefaultTransceiverFolders()).Names(); }

TTransceiver LoadTransceiver(std::string_view Name) {
  return TTransceiverCatalogue(DefaultTransceiverFolders()).Load(Name);
}

std::string ReplacementNotice(const TTransceiver& Class) {
  if (Class.Replaces.empty()) return {};
  return "Transceiver class '" + Class.Name + "' is the user's file " + Class.Path + ", which replaces the shipped " +
         Class.Replaces + ".";
}

}  // namespace busweave

#pragma once

// The parts of a path as dialogs and captions need them. Network files made on Windows carry
// '\' between folders, so every helper here reads the path through PortablePath: '/' and '\'
// both separate folders. The parts are cut from the path as given, separators included.

#include <string>

namespace busweave {

// The path with every '\' turned into '/'.
std::string PortablePath(std::string Path);

// The folder part (without the trailing separator); empty when there is none.
std::string FolderOf(const std::string& Path);

// The file-name part: what follows the last separator.
std::string FileNameOf(const std::string& Path);

// Whether the file-name part has an extension (a dot in a folder name does not count).
bool HasExtension(const std::string& Path);

// The path without the extension of its file-name part (a path without one stays whole).
std::string PathWithoutExtension(const std::string& Path);

// The path with its extension replaced by Extension (without the dot), or the extension
// appended when it has none.
std::string ReplaceExtension(const std::string& Path, const std::string& Extension);

}  // namespace busweave

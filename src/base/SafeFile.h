#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace busweave {

// Writes Bytes to Path through a temporary file in the same folder that is renamed over Path
// only when it is complete, so a failed write never leaves a damaged file in place of a good
// one. A symbolic link is followed: its target is replaced and the link stays. A replaced file
// keeps its owner and permissions where the system allows; a read-only file is refused. A
// character device or a FIFO is written directly, other kinds of file are refused. Temporaries
// that killed saves of the same target left behind are removed. Throws EFCreateError when the
// file cannot be created, EWriteError when writing fails, both naming the file and the reason.
void writeFileAtomically(const std::string& Path, std::string_view Bytes);

// Opens Path for reading when it is a regular file (following symbolic links), without ever
// blocking on a FIFO or a device. Returns the open descriptor, which the caller closes. Throws
// EFOpenError naming the file and the reason (missing, a folder, not a regular file, ...).
int openRegularFile(const std::string& Path);

// Reads the whole of Path when it is a regular file of at most MaxBytes bytes. Throws
// EFOpenError naming the file and the reason, a file larger than MaxBytes included.
std::string readRegularFile(const std::string& Path, std::size_t MaxBytes);

}  // namespace busweave

#pragma once

// A small reader of our own for the pictures the metafile canvases write: it walks the records
// by type and size, so tests check the files as another program would see them, not as our
// record writer built them. Multi-byte values are little-endian.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace busweave::test {

inline std::uint16_t Word(const std::string& Bytes, std::size_t Offset) {
  if (Offset + 2 > Bytes.size()) throw std::out_of_range("word beyond the data");
  return static_cast<std::uint16_t>(static_cast<unsigned char>(Bytes[Offset]) |
                                    static_cast<unsigned char>(Bytes[Offset + 1]) << 8);
}
inline std::int16_t Short(const std::string& Bytes, std::size_t Offset) {
  return static_cast<std::int16_t>(Word(Bytes, Offset));
}
inline std::uint32_t Long(const std::string& Bytes, std::size_t Offset) {
  return Word(Bytes, Offset) | static_cast<std::uint32_t>(Word(Bytes, Offset + 2)) << 16;
}
inline std::int32_t Int(const std::string& Bytes, std::size_t Offset) {
  return static_cast<std::int32_t>(Long(Bytes, Offset));
}

// Enhanced metafile record types the tests look for.
enum EmfType : std::uint32_t {
  emrHeader = 1,
  emrPolygon = 3,
  emrPolyline = 4,
  emrSetWindowExtEx = 9,
  emrSetWindowOrgEx = 10,
  emrSetViewportExtEx = 11,
  emrEof = 14,
  emrSetMapMode = 17,
  emrSetBkMode = 18,
  emrSetTextAlign = 22,
  emrSetTextColor = 24,
  emrSelectObject = 37,
  emrCreatePen = 38,
  emrCreateBrushIndirect = 39,
  emrDeleteObject = 40,
  emrEllipse = 42,
  emrRectangle = 43,
  emrExtCreateFontIndirectW = 82,
  emrExtTextOutW = 84
};

struct EmfRecord {
  std::uint32_t Type;
  std::string Data;  // the whole record, type and size included
};

// The records of an enhanced metafile; throws when a size leaves the file or breaks alignment.
inline std::vector<EmfRecord> ReadEmf(const std::string& Bytes) {
  std::vector<EmfRecord> records;
  std::size_t offset = 0;
  while (offset < Bytes.size()) {
    const std::uint32_t type = Long(Bytes, offset);
    const std::uint32_t size = Long(Bytes, offset + 4);
    if (size < 8 || size % 4 != 0 || offset + size > Bytes.size()) throw std::runtime_error("bad record size");
    records.push_back({type, Bytes.substr(offset, size)});
    offset += size;
    if (type == emrEof) break;
  }
  if (offset != Bytes.size()) throw std::runtime_error("bytes after the end record");
  return records;
}

// Windows metafile record functions the tests look for.
enum WmfFunction : std::uint16_t {
  wmfEof = 0x0000,
  wmfSetBkMode = 0x0102,
  wmfSetMapMode = 0x0103,
  wmfSetTextAlign = 0x012E,
  wmfSetTextColor = 0x0209,
  wmfSetWindowOrg = 0x020B,
  wmfSetWindowExt = 0x020C,
  wmfSelectObject = 0x012D,
  wmfDeleteObject = 0x01F0,
  wmfRectangle = 0x041B,
  wmfEllipse = 0x0418,
  wmfPolygon = 0x0324,
  wmfPolyline = 0x0325,
  wmfExtTextOut = 0x0A32,
  wmfCreatePen = 0x02FA,
  wmfCreateBrush = 0x02FC,
  wmfCreateFont = 0x02FB
};

struct WmfRecord {
  std::uint16_t Function;
  std::string Data;  // the whole record, size and function included
};

struct WmfFile {
  std::string Placeable;  // the 22 bytes before the metafile
  std::string Header;     // the 18-byte metafile header
  std::vector<WmfRecord> Records;
};

inline WmfFile ReadWmf(const std::string& Bytes) {
  if (Bytes.size() < 40) throw std::runtime_error("too short for the headers");
  WmfFile file{Bytes.substr(0, 22), Bytes.substr(22, 18), {}};
  std::size_t offset = 40;
  while (offset < Bytes.size()) {
    const std::uint32_t words = Long(Bytes, offset);
    if (words < 3 || offset + 2 * std::size_t{words} > Bytes.size()) throw std::runtime_error("bad record size");
    const std::uint16_t function = Word(Bytes, offset + 4);
    file.Records.push_back({function, Bytes.substr(offset, 2 * std::size_t{words})});
    offset += 2 * std::size_t{words};
    if (function == wmfEof) break;
  }
  if (offset != Bytes.size()) throw std::runtime_error("bytes after the end record");
  return file;
}

// The UTF-16LE bytes of an ASCII text.
inline std::string Utf16(const std::string& Text) {
  std::string out;
  for (char c : Text) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace busweave::test

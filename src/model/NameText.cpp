#include "model/NameText.h"

#include <algorithm>
#include <cstdio>

#include "model/Elements.h"

namespace busweave {
namespace {

constexpr char32_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte that holds C, or -1 when Windows-1252 has none.
int nameByteOf(char32_t C) {
  if (C < 0x80 || (C >= 0xA0 && C <= 0xFF)) return static_cast<int>(C);
  const auto* found = std::find(std::begin(kHigh), std::end(kHigh), C);
  return found == std::end(kHigh) ? -1 : 0x80 + static_cast<int>(found - std::begin(kHigh));
}

// Reads one UTF-8 sequence at Text[Pos], advancing Pos; U+FFFD for a malformed one.
char32_t nextCodePoint(std::string_view Text, std::size_t& Pos) {
  const auto byte = [&](std::size_t I) { return static_cast<unsigned char>(Text[I]); };
  const unsigned char lead = byte(Pos++);
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t minimum = 0x80;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    minimum = 0x10000;
  } else {
    return 0xFFFD;
  }
  char32_t c = lead & (0x3Fu >> extra);
  for (int i = 0; i < extra; ++i) {
    if (Pos >= Text.size() || (byte(Pos) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (byte(Pos++) & 0x3Fu);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  return c;
}

// Appends a control's escape: \n, \r, \t, or \xNN of Code.
void appendEscape(std::string& Text, char32_t Control, unsigned Code) {
  if (Control == '\n') {
    Text += "\\n";
  } else if (Control == '\r') {
    Text += "\\r";
  } else if (Control == '\t') {
    Text += "\\t";
  } else {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", Code);
    Text += escaped;
  }
}

// Appends the escape of a control byte (\n, \r, \t, \xNN); false for any other byte.
bool appendControlEscape(std::string& Text, unsigned char Byte, bool EscapeUndefinedBytes) {
  const char32_t c = CodePointOfNameByte(Byte);
  const bool control = c < 0x20 || c == 0x7F || (EscapeUndefinedBytes && c >= 0x80 && c < 0xA0);
  if (!control) return false;
  appendEscape(Text, c, Byte);
  return true;
}

}  // namespace

char32_t CodePointOfNameByte(unsigned char Byte) { return Byte >= 0x80 && Byte < 0xA0 ? kHigh[Byte - 0x80] : Byte; }

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

std::string NameToUtf8(std::string_view Name) {
  std::string text;
  text.reserve(Name.size());
  for (unsigned char byte : Name) AppendUtf8(text, CodePointOfNameByte(byte));
  return text;
}

bool NameFromUtf8(std::string_view Text, std::string& Name, std::u32string* Rejected) {
  std::string bytes;
  std::u32string rejected;
  for (std::size_t pos = 0; pos < Text.size();) {
    const char32_t c = nextCodePoint(Text, pos);
    const int byte = nameByteOf(c);
    if (byte >= 0)
      bytes += static_cast<char>(byte);
    else if (rejected.find(c) == std::u32string::npos)
      rejected += c;
  }
  if (Rejected) *Rejected = rejected;
  if (!rejected.empty()) return false;
  Name = std::move(bytes);
  return true;
}

std::string NameToPrintable(std::string_view Name) {
  std::string text;
  text.reserve(Name.size());
  for (unsigned char byte : Name)
    if (!appendControlEscape(text, byte, true)) AppendUtf8(text, CodePointOfNameByte(byte));
  return text;
}

std::string PrintableText(std::string_view Utf8) {
  std::string text;
  text.reserve(Utf8.size());
  for (std::size_t i = 0; i < Utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(Utf8[i]);
    // U+0080 to U+009F, the C1 controls, are 0xC2 and the byte of that value.
    const auto next = i + 1 < Utf8.size() ? static_cast<unsigned char>(Utf8[i + 1]) : 0;
    const bool c1 = byte == 0xC2 && next >= 0x80 && next < 0xA0;
    if (!c1 && byte >= 0x20 && byte != 0x7F) {
      text += static_cast<char>(byte);
      continue;
    }
    const unsigned control = c1 ? next : byte;
    i += c1 ? 1 : 0;
    appendEscape(text, control, control);
  }
  return text;
}

std::string NameForCircuitText(std::string_view Name) {
  std::string text;
  text.reserve(Name.size());
  for (unsigned char byte : Name)
    if (!appendControlEscape(text, byte, false)) text += static_cast<char>(byte);
  return text;
}

std::string NumberedName(const std::string& Name, int Number) {
  std::string rest = Name;
  const auto bracket = rest.find(']');
  if (bracket != std::string::npos) rest.erase(0, std::min(bracket + 2, rest.size()));
  std::string numbered = "[";  // appended: see PointText
  numbered += std::to_string(Number);
  numbered += "] ";
  numbered += rest;
  return CutShortString(std::move(numbered));
}

}  // namespace busweave

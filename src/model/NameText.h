#pragma once

// Node names are stored as Windows-1252 bytes. This is the one codec between those bytes and
// Unicode text: every window, picture, file and command that shows or takes a name uses it.

#include <string>
#include <string_view>

namespace busweave {

// The code point of one Windows-1252 byte. The five bytes the code page leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same value, as Windows maps them,
// so every byte has an answer and every name reads back unchanged.
char32_t CodePointOfNameByte(unsigned char Byte);

// A name's bytes as UTF-8 text.
std::string NameToUtf8(std::string_view Name);

// UTF-8 text as name bytes. Returns false when the text holds characters Windows-1252 cannot
// hold; Rejected then lists them once each, in order of appearance, and Name is left unchanged.
// Bytes that are not valid UTF-8 count as U+FFFD.
bool NameFromUtf8(std::string_view Text, std::string& Name, std::u32string* Rejected = nullptr);

// A name as UTF-8 for a terminal: control characters (below 0x20, 0x7F and the undefined bytes)
// are shown as \n, \r, \t or \xNN, so a name can neither move the cursor nor start a line.
std::string NameToPrintable(std::string_view Name);
// UTF-8 text that quotes names (the analysis's and the advice's sentences) for a terminal, its
// control characters (C1 included) shown as NameToPrintable shows a name's.
std::string PrintableText(std::string_view Utf8);

// A name as circuit text holds it: control bytes (below 0x20 and 0x7F), which would end a SPICE
// comment or start a statement, are written as \n, \r, \t or \xNN; every other byte stays as
// stored, so ordinary names are byte-identical.
std::string NameForCircuitText(std::string_view Name);

// Name with its number prefix "[n] " replaced: everything up to and including the character
// after the first ']' goes, then "[Number] " is put in front; cut to 255 characters.
std::string NumberedName(const std::string& Name, int Number);

// One code point as UTF-8.
void AppendUtf8(std::string& Out, char32_t C);

}  // namespace busweave

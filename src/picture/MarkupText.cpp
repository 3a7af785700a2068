#include "picture/MarkupText.h"

namespace busweave {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence at Text[At] of a character XML allows; 0 when there is none.
std::size_t allowedSequence(std::string_view Text, std::size_t At) {
  const auto byte = [&](std::size_t I) { return static_cast<unsigned char>(Text[At + I]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || At + length > Text.size()) return 0;
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
      code == 0xFFFF)
    return 0;
  return length;
}

template <typename TEntity>
std::string cleaned(std::string_view Text, TEntity Entity) {
  std::string out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size();) {
    const std::size_t length = allowedSequence(Text, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else if (length == 1 && Entity(Text[i])) {
      out += Entity(Text[i]);
      ++i;
    } else {
      out.append(Text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace

std::string MarkupEscaped(std::string_view Text) {
  return cleaned(Text, [](char C) -> const char* {
    switch (C) {
      case '&':
        return "&amp;";
      case '<':
        return "&lt;";
      case '>':
        return "&gt;";
      case '"':
        return "&quot;";
      case '\'':
        return "&#39;";
      default:
        return nullptr;
    }
  });
}

std::string MarkupCharactersOnly(std::string_view Markup) {
  return cleaned(Markup, [](char) -> const char* { return nullptr; });
}

}  // namespace busweave

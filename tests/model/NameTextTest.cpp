// The Windows-1252 codec every window, picture and command uses for node names.

#include <gtest/gtest.h>

#include "model/NameText.h"

namespace busweave {
namespace {

TEST(NameText, EveryByteReadsBackAndTheNamedCharactersHaveTheirBytes) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string name(1, static_cast<char>(byte));
    std::string back;
    ASSERT_TRUE(NameFromUtf8(NameToUtf8(name), back)) << byte;
    EXPECT_EQ(back, name) << byte;
  }
  EXPECT_EQ(NameToUtf8("5\x80 \x84x\x93 \x99 \xB5 \xE4"), "5\u20AC \u201Ex\u201C \u2122 \u00B5 \u00E4");
  EXPECT_EQ(NameToUtf8("\x81\x9D"), "\u0081\u009D");  // undefined bytes keep their value
}

TEST(NameText, CharactersOutsideTheCodePageAreNamedAndNothingIsChanged) {
  std::string name = "kept";
  std::u32string rejected;
  EXPECT_FALSE(NameFromUtf8("\u20AC \u4E2D \u03A9 \u4E2D \xF0\x9F\x98\x80", name, &rejected));
  EXPECT_EQ(rejected, U"\u4E2D\u03A9\U0001F600");
  EXPECT_EQ(name, "kept");
  EXPECT_FALSE(NameFromUtf8("a\xC3", name, &rejected));  // cut-off UTF-8
  EXPECT_EQ(rejected, U"\uFFFD");
  EXPECT_FALSE(NameFromUtf8("\xC0\x80", name, &rejected));  // overlong NUL
}

TEST(NameText, PrintableTextIsUtf8WithoutControlCharacters) {
  EXPECT_EQ(NameToPrintable("Gateway \x80"), "Gateway \u20AC");
  EXPECT_EQ(NameToPrintable("a\nb\r\t\x1B[2J\x7F\x81"), "a\\nb\\r\\t\\x1B[2J\\x7F\\x81");
}

}  // namespace
}  // namespace busweave

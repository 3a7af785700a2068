// The path parts the dialogs and captions use: '/' and '\' both separate folders, a dot in a
// folder name is no extension, and the parts keep the separators they were written with.

#include <gtest/gtest.h>

#include "base/PathText.h"

namespace busweave {
namespace {

TEST(PathText, BothSeparatorsCountAndThePartsKeepTheirOwn) {
  EXPECT_EQ(PortablePath("C:\\My.Nets/bus1.bwn"), "C:/My.Nets/bus1.bwn");
  EXPECT_EQ(FolderOf("C:\\My.Nets/sub\\bus1.bwn"), "C:\\My.Nets/sub");
  EXPECT_EQ(FileNameOf("C:\\My.Nets/sub\\bus1.bwn"), "bus1.bwn");
  EXPECT_EQ(FolderOf("bus1.bwn"), "");
  EXPECT_EQ(FileNameOf("/nets/"), "");
}

TEST(PathText, OnlyADotInTheFileNameMakesAnExtension) {
  EXPECT_TRUE(HasExtension("C:\\Nets\\bus1.bwn"));
  EXPECT_TRUE(HasExtension("bus."));
  EXPECT_FALSE(HasExtension("C:\\My.Nets\\bus1"));
  EXPECT_FALSE(HasExtension("/home/eng/my.nets/bus1"));
  EXPECT_EQ(PathWithoutExtension("C:\\My.Nets\\bus.v2.bwn"), "C:\\My.Nets\\bus.v2");
  EXPECT_EQ(PathWithoutExtension("my.nets\\bus"), "my.nets\\bus");
  EXPECT_EQ(ReplaceExtension("my.nets\\bus", "cir"), "my.nets\\bus.cir");
  EXPECT_EQ(ReplaceExtension("NONAME1.BWN", "bwn"), "NONAME1.bwn");
  EXPECT_EQ(ReplaceExtension("/nets/.bwn", "cir"), "/nets/.cir");
}

}  // namespace
}  // namespace busweave

// The settings file: what cannot be read is neither read nor written over, and a write changes
// only the line of its key.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "TempFolder.h"
#include "settings/SettingsFile.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

TProfile ProfileOf(const std::string& Path, TProfileAction Action) {
  TProfile profile;
  profile.IniFileName = Path;
  profile.SetCategory("Busweave-V2");
  profile.SetKeyName("Left");
  profile.DefaultValue = "340";
  profile.DataString = "12";
  profile.Action = Action;
  return profile;
}

TEST(ProfileFile, WhatCannotBeReadIsNeitherReadNorWritten) {
  TempFolder folder;
  const std::string directory = folder.File("folder.INI");
  std::filesystem::create_directory(directory);
  const std::string fifo = folder.File("fifo.INI");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = folder.File("large.INI");
  const std::string largeText = "[Busweave-V2]\nLeft=5\n;" + std::string(TProfile::MaxFileBytes, ' ') + "\n";
  WriteBytes(large, largeText);

  for (const std::string& path : {directory, fifo, large, std::string("/dev/zero")}) {
    TProfile reader = ProfileOf(path, paRead);
    EXPECT_TRUE(reader.Execute()) << path;
    EXPECT_EQ(reader.DataString, "340") << path;
    EXPECT_NE(reader.Problem().find(path), std::string::npos) << reader.Problem();
    // Writes are tried only inside the test folder: a fault here must not replace a device.
    if (path.rfind(folder.Path().string(), 0) != 0) continue;
    TProfile writer = ProfileOf(path, paWrite);
    EXPECT_FALSE(writer.Execute()) << path;
    EXPECT_EQ(writer.Error(), 1);
    EXPECT_NE(writer.Problem().find(path), std::string::npos) << writer.Problem();
  }
  EXPECT_TRUE(std::filesystem::is_directory(directory));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(ReadBytes(large), largeText);

  // A value with a line break would add lines of its own; a folder that is gone cannot take a file.
  const std::string ini = folder.File("a.INI");
  WriteBytes(ini, "[Busweave-V2]\nLeft=1\n");
  TProfile broken = ProfileOf(ini, paWrite);
  broken.DataString = "1\n[Other]";
  EXPECT_FALSE(broken.Execute());
  EXPECT_NE(broken.Problem().find("line break"), std::string::npos) << broken.Problem();
  EXPECT_EQ(ReadBytes(ini), "[Busweave-V2]\nLeft=1\n");
  TProfile gone = ProfileOf(folder.File("gone/a.INI"), paWrite);
  EXPECT_FALSE(gone.Execute());
  EXPECT_NE(gone.Problem().find(folder.File("gone/a.INI")), std::string::npos) << gone.Problem();
}

TEST(ProfileFile, WritingKeepsEveryOtherLineAndTheLineEndsFound) {
  const std::string crlf = "; mine\r\n[Other]\r\nLeft=1\r\n\r\n[Busweave-V2]\r\nLeft=3\r\n";
  EXPECT_EQ(SetIniValue(crlf, "Busweave-V2", "Left", "7"),
            "; mine\r\n[Other]\r\nLeft=1\r\n\r\n[Busweave-V2]\r\nLeft=7\r\n");
  EXPECT_EQ(SetIniValue(crlf, "Busweave-V2", "Top", "8"),
            "; mine\r\n[Other]\r\nLeft=1\r\n\r\n[Busweave-V2]\r\nLeft=3\r\nTop=8\r\n");
  EXPECT_EQ(SetIniValue("[Other]\r\nA=1", "Busweave-V2", "Top", "8"),
            "[Other]\r\nA=1\r\n\r\n[Busweave-V2]\r\nTop=8\r\n");
  // A last line without its line end gets one only when a line follows it.
  EXPECT_EQ(SetIniValue("[Busweave-V2]\nLeft=1", "Busweave-V2", "Left", "2"), "[Busweave-V2]\nLeft=2");
  EXPECT_EQ(SetIniValue("[Busweave-V2]\nLeft=1", "Busweave-V2", "Top", "2"), "[Busweave-V2]\nLeft=1\nTop=2\n");

  TempFolder folder;
  const std::string ini = folder.File("b.INI");
  WriteBytes(ini, crlf);
  TProfile writer = ProfileOf(ini, paWrite);
  EXPECT_TRUE(writer.Execute());
  EXPECT_TRUE(writer.Problem().empty());
  EXPECT_EQ(ReadBytes(ini), "; mine\r\n[Other]\r\nLeft=1\r\n\r\n[Busweave-V2]\r\nLeft=12\r\n");
}

}  // namespace
}  // namespace busweave

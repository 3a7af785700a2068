// The network file: exact bytes of what SaveNetwork writes, what LoadNetwork makes of good and
// damaged files, and saves that must never destroy the file already there.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "model/ModelErrors.h"
#include "model/NetworkContainer.h"

using namespace busweave;
namespace fs = std::filesystem;

namespace {

void putLE(std::string& Out, std::uint32_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out += static_cast<char>((Value >> (8 * i)) & 0xFFu);
}

// File entries built by hand, independent of the code that packs records.
std::string nodeEntry(TPoint P, std::uint16_t Ohms, const std::string& Name, char Show, char Source) {
  std::string e = "\x06\x05TNode";
  for (std::int32_t v : {P.X, P.Y}) putLE(e, static_cast<std::uint32_t>(v), 4);
  putLE(e, Ohms, 2);
  e += static_cast<char>(Name.size());
  return e + Name + std::string(255 - Name.size(), '\0') + Show + Source;
}

std::string wireEntry(TPoint S, TPoint E, std::uint16_t Ohms, std::uint16_t Mm, float Angle,
                      const std::string& Reserved = std::string(256, '\0'), char Show = 1) {
  std::string e = "\x06\x08TTrmLine";
  for (std::int32_t v : {S.X, S.Y, E.X, E.Y}) putLE(e, static_cast<std::uint32_t>(v), 4);
  putLE(e, Ohms, 2);
  putLE(e, Mm, 2);
  std::uint32_t bits = 0;
  std::memcpy(&bits, &Angle, sizeof bits);
  putLE(e, bits, 4);
  return e + Reserved + Show;
}

std::string fileOf(const std::string& Entries) { return "\x01" + Entries + std::string(1, '\0'); }

class NetworkFile : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("busweave-file-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());

  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir / "locked", fs::perms::owner_all, ignored);
    fs::remove_all(dir, ignored);
  }
  std::string path(const std::string& Name) const { return (dir / Name).string(); }
  static std::string read(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void write(const std::string& Path, const std::string& Bytes) {
    std::ofstream(Path, std::ios::binary) << Bytes;
  }
  static long filesIn(const std::string& Folder) {
    return std::distance(fs::directory_iterator(Folder), fs::directory_iterator());
  }
};

}  // namespace

TEST_F(NetworkFile, SavedNodeAndWireAreByteExact) {
  TCanNodes net(120, 1500, 120);
  net.AddNode({100, 200});
  const std::string file = path("net.bwn");
  ASSERT_TRUE(net.SaveNetwork(file));
  const std::string bytes = read(file);
  ASSERT_EQ(bytes.size(), 277u);
  EXPECT_EQ(bytes.substr(0, 18), std::string("\x01\x06\x05TNode\x64\0\0\0\xC8\0\0\0\xDC\x05\0", 18));
  EXPECT_EQ(bytes, fileOf(nodeEntry({100, 200}, 1500, "", 1, 0)));
  EXPECT_EQ(net.FFileState(), fstSaved);
  EXPECT_EQ(net.FFileName(), file);
  EXPECT_FALSE(net.FUnDoPossible());

  // A second save replaces the file in place; a name that got shorter leaves no old characters.
  net.NodeAt({100, 200})->FName = std::string(40, 'x');
  net.NodeAt({100, 200})->FName = "ab";
  net.AddNode({-3, 70000});
  net.AddWire({100, 200}, {-3, 70000}, 110, false);
  int index = 0;
  ASSERT_TRUE(net.Find(TCanNodes::WireKey({-3, 70000}, {100, 200}), index));
  net.WireAtIndex(index)->FLength = 2000;
  ASSERT_TRUE(net.SaveNetwork(file));
  const float angle = static_cast<float>(std::atan(-69800.0 / 103.0));
  EXPECT_EQ(read(file), fileOf(nodeEntry({100, 200}, 1500, "ab", 1, 0) + nodeEntry({-3, 70000}, 1500, "", 1, 0) +
                               wireEntry({-3, 70000}, {100, 200}, 110, 2000, angle, std::string(256, '\0'), 0)));
  EXPECT_EQ(filesIn(dir.string()), 1);  // no temporary left behind
}

TEST_F(NetworkFile, LoadRebuildsTheContainerWhateverTheOrder) {
  const TPoint a{0, 0}, b{100, 0};
  std::string reserved(256, '\0');
  reserved[0] = '\x11';
  reserved[255] = '\xEE';
  const std::string wire = wireEntry(a, b, 120, 300, 0.5f, reserved);
  std::string longTagNode = nodeEntry(b, 1500, "[2] far", 0, 2);
  longTagNode.replace(0, 2, std::string("\x0C\x05\0\0\0", 5));  // the same name under the long-string tag
  const std::string file = path("shuffled.bwn");
  write(file, fileOf(wire + longTagNode + nodeEntry(a, 120, "[1] near", 1, 1) + wire + wireEntry(b, a, 60, 1, 0) +
                     wireEntry(b, b, 60, 1, 0)) +
                  "trailing bytes");

  TCanNodes net;
  EXPECT_TRUE(net.LoadNetwork(file));
  EXPECT_FALSE(net.LastLoadError().Failed());
  EXPECT_EQ(net.FFileState(), fstLoaded);
  EXPECT_EQ(net.FFileName(), file);
  EXPECT_FALSE(net.FUnDoPossible());
  EXPECT_EQ(net.FNumNodes(), 2);
  EXPECT_EQ(net.FNumLines(), 1);  // the repeated, the reversed and the zero-length wire are dropped
  EXPECT_EQ(net.FNumSources(), 1);
  EXPECT_EQ(net.FMaxX(), 100);
  // Saved again, it comes out in key order with every field, reserved bytes included, as read.
  ASSERT_TRUE(net.SaveNetwork(path("canonical.bwn")));
  EXPECT_EQ(read(path("canonical.bwn")),
            fileOf(nodeEntry(a, 120, "[1] near", 1, 1) + nodeEntry(b, 1500, "[2] far", 0, 2) + wire));
}

TEST_F(NetworkFile, EmptyAndMissingFiles) {
  write(path("empty.bwn"), std::string("\x01\x00", 2));
  TCanNodes empty;
  EXPECT_FALSE(empty.LoadNetwork(path("empty.bwn")));
  EXPECT_EQ(empty.FFileState(), fstLoaded);
  EXPECT_FALSE(empty.LastLoadError().Failed());

  TCanNodes missing;
  const std::string name = path("not-there.bwn");
  EXPECT_FALSE(missing.LoadNetwork(name));
  EXPECT_EQ(missing.FFileState(), fstNew);
  EXPECT_EQ(missing.FFileName(), name);
  EXPECT_EQ(missing.Count(), 0);
  EXPECT_TRUE(missing.LastLoadError().Failed());
  EXPECT_FALSE(fs::exists(name));

  // Saving an empty network writes nothing, not even over an existing file, but takes the name.
  write(path("keep.bwn"), "keep me");
  EXPECT_FALSE(missing.SaveNetwork(path("keep.bwn")));
  EXPECT_EQ(read(path("keep.bwn")), "keep me");
  EXPECT_EQ(missing.FFileName(), path("keep.bwn"));
  EXPECT_EQ(missing.FFileState(), fstNew);
}

TEST_F(NetworkFile, DamagedFilesKeepWhatWasReadAndSayWhere) {
  const std::string first = nodeEntry({0, 0}, 1500, "", 1, 1);
  const std::string second = nodeEntry({100, 0}, 1500, "", 1, 0);
  const std::uint64_t next = 1 + first.size();  // where the entry after the first node starts
  struct Case {
    const char* What;
    std::string Bytes;
    int Kept;
    std::uint64_t Offset;  // where the problem lies; a cut file may name any place up to its end
    bool Cut;
  };
  const Case cases[] = {
      {"empty file", "", 0, 0, false},
      {"bad first byte", "\x02" + first, 0, 0, false},
      {"cut inside a record", "\x01" + first + second.substr(0, 100), 1, next, true},
      {"cut inside a class name", "\x01" + first + "\x06\x05TN", 1, next, true},
      {"no end of list", "\x01" + first + second, 2, next + second.size(), false},
      {"bad tag", "\x01" + first + "\x07" + second.substr(1), 1, next, false},
      {"unknown class", "\x01" + first + "\x06\x04TFoo" + std::string(300, '\0'), 1, next, false},
      {"2 GB long string", "\x01" + first + "\x0C\xFF\xFF\xFF\x7FTNode" + std::string(300, '\0'), 1, next, false},
      {"two nodes on one spot", "\x01" + first + nodeEntry({0, 0}, 60, "", 0, 0) + second + '\0', 1, next, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    write(path("damaged.bwn"), c.Bytes);
    TCanNodes net;
    EXPECT_FALSE(net.LoadNetwork(path("damaged.bwn")));
    EXPECT_EQ(net.Count(), c.Kept);
    EXPECT_EQ(net.FNumNodes(), c.Kept);
    EXPECT_EQ(net.FFileState(), c.Kept > 0 ? fstModified : fstNew);
    EXPECT_TRUE(net.LastLoadError().Failed());
    EXPECT_GE(net.LastLoadError().Offset, c.Offset);
    EXPECT_LE(net.LastLoadError().Offset, c.Cut ? c.Bytes.size() : c.Offset);
    if (c.Kept > 0) {
      EXPECT_EQ(net.NodeAt({0, 0})->FResistance, 1500);  // the first of two nodes on a spot stays
      EXPECT_EQ(net.FNumSources(), 1);
      // The registrations stay on the undo list as one action that takes them all back.
      EXPECT_TRUE(net.UndoLast());
      EXPECT_EQ(net.Count() + net.FNumNodes() + net.FNumSources(), 0);
    }
  }
}

TEST_F(NetworkFile, FailedSaveRaisesAndKeepsTheOldFile) {
  TCanNodes net(120, 1500, 120);
  for (int i = 0; i < 10; ++i) net.AddNode({i * 100, 0});
  auto expectCreateError = [&net](const std::string& Target, const std::string& Reason) {
    try {
      net.SaveNetwork(Target);
      ADD_FAILURE() << "no error for " << Target;
    } catch (const EFCreateError& error) {
      EXPECT_EQ(std::string(error.what()), "Cannot create file " + Target + ": " + Reason);
    }
    EXPECT_EQ(net.FFileName(), Target);
    EXPECT_EQ(net.FFileState(), fstModified);
    EXPECT_TRUE(net.FUnDoPossible());
  };
  expectCreateError(path("no-such-folder/net.bwn"), "No such file or directory");
  EXPECT_FALSE(fs::exists(path("no-such-folder")));

  // A folder we may not write into; root ignores folder permissions, so act as nobody then.
  fs::create_directory(path("locked"));
  const std::string locked = path("locked/net.bwn");
  write(locked, "old contents");
  ::chmod(path("locked").c_str(), 0555);
  const bool asRoot = ::geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(::seteuid(65534), 0);
  }
  expectCreateError(locked, "the file is read-only");
  if (asRoot) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  ::chmod(path("locked").c_str(), 0755);
  EXPECT_EQ(read(locked), "old contents");

  // A write that stops part way, as on a full disk, must not touch the old file either.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 1000;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string raised;
  try {
    net.SaveNetwork(locked);
  } catch (const EWriteError& error) {
    raised = error.what();
  } catch (...) {
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(raised, "Stream write error in file " + locked + ": File too large");
  EXPECT_EQ(read(locked), "old contents");
  EXPECT_EQ(filesIn(path("locked")), 1);
  EXPECT_EQ(net.FFileState(), fstModified);
  EXPECT_TRUE(net.FUnDoPossible());
}

TEST_F(NetworkFile, InputsThatAreNoRegularFileNeitherBlockNorLoad) {
  const std::string fifo = path("pipe.bwn");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("loop-b.bwn", path("loop-a.bwn"));
  fs::create_symlink("loop-a.bwn", path("loop-b.bwn"));
  fs::create_directory(path("folder.bwn"));
  const struct {
    std::string File, Reason;
  } cases[] = {{fifo, "not a regular file"},
               {"/dev/zero", "not a regular file"},
               {path("folder.bwn"), "folder"},
               {path("loop-a.bwn"), "loop of symbolic links"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    TCanNodes net;
    auto load = std::async(std::launch::async, [&net, &c] { return net.LoadNetwork(c.File); });
    if (load.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      ADD_FAILURE() << "the load blocks";
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // a writer that closes ends the wait
    }
    EXPECT_FALSE(load.get());
    EXPECT_NE(net.LastLoadError().Message.find(c.Reason), std::string::npos) << net.LastLoadError().Message;
    EXPECT_EQ(net.LastLoadError().Outcome, TLoadOutcome::NotOpened);
    EXPECT_EQ(net.FFileName(), c.File);
    EXPECT_EQ(net.FFileState(), fstNew);
  }
}

TEST_F(NetworkFile, MoreThan65535ElementsAreRefusedNeverCountedWrong) {
  // A wire at y = -100 between two nodes, and grid nodes above it: 65,535 elements in all.
  std::string entries = nodeEntry({0, -100}, 120, "", 1, 0) + nodeEntry({200, -100}, 120, "", 1, 0) +
                        wireEntry({0, -100}, {200, -100}, 120, 1000, 0);
  for (int i = 0; i < MaxElements - 3; ++i) entries += nodeEntry({i % 256 * 100, i / 256 * 100}, 1500, "", 1, 0);
  write(path("full.bwn"), fileOf(entries));
  const std::string onePast = nodeEntry({-100, 0}, 1500, "", 1, 0);
  write(path("over.bwn"), fileOf(entries + onePast + nodeEntry({-200, 0}, 1500, "", 1, 0)));

  TCanNodes over;
  EXPECT_FALSE(over.LoadNetwork(path("over.bwn")));
  EXPECT_EQ(over.Count(), MaxElements);
  EXPECT_EQ(over.FNumNodes() + over.FNumLines(), MaxElements);
  EXPECT_NE(over.LastLoadError().Message.find("65535"), std::string::npos) << over.LastLoadError().Message;
  EXPECT_EQ(over.LastLoadError().Offset, 1 + entries.size());

  TCanNodes net;
  int beeps = 0;
  net.OnBeep = [&beeps] { ++beeps; };
  ASSERT_TRUE(net.LoadNetwork(path("full.bwn")));
  ASSERT_EQ(net.Count(), MaxElements);
  EXPECT_EQ(net.FNumNodes(), MaxElements - 1);
  // A full network refuses every addition before it changes anything.
  EXPECT_FALSE(net.AddNode({-100, 0}));
  net.AddWire({0, 0}, {100, 0}, 120, true);
  EXPECT_THROW(net.AddObject(TCanNodes::NodeKey({-300, 0}), std::make_unique<TNode>()), ETooManyElements);
  EXPECT_EQ(net.Count(), MaxElements);
  EXPECT_EQ(beeps, 2);
  // With room for one: a node on the wire needs two (the node and the wire's second half).
  ASSERT_TRUE(net.DeleteNodeAt({0, 0}));
  EXPECT_FALSE(net.AddNode({100, -100}));
  EXPECT_TRUE(net.WireExists({0, -100}, {200, -100}));
  EXPECT_TRUE(net.AddNode({-100, 0}));
  EXPECT_EQ(net.Count(), MaxElements);
  EXPECT_EQ(net.FNumNodes() + net.FNumLines(), MaxElements);
  EXPECT_EQ(beeps, 3);
}

TEST_F(NetworkFile, SavesReplaceOnlyWhatTheyMayAndNameTheReason) {
  TCanNodes net(120, 1500, 120);
  for (int i = 0; i < 10; ++i) net.AddNode({i * 100, 0});
  auto refusal = [&net](const std::string& Target) -> std::string {
    try {
      net.SaveNetwork(Target);
    } catch (const std::exception& error) {
      return error.what();
    }
    return "";
  };

  // Through a link (also one whose target is missing) the target is written; the link stays.
  fs::create_directory(path("real"));
  write(path("real/net.bwn"), "old");
  fs::create_symlink("real/net.bwn", path("link.bwn"));
  fs::create_symlink("real/new.bwn", path("dangling.bwn"));
  ASSERT_TRUE(net.SaveNetwork(path("link.bwn")));
  ASSERT_TRUE(net.SaveNetwork(path("dangling.bwn")));
  EXPECT_TRUE(fs::is_symlink(path("link.bwn")) && fs::is_symlink(path("dangling.bwn")));
  EXPECT_EQ(read(path("real/net.bwn")).size(), 2u + 10 * 275);
  EXPECT_EQ(read(path("real/new.bwn")), read(path("real/net.bwn")));
  EXPECT_EQ(filesIn(path("real")), 2);

  // Owner and mode stay; a read-only file and a loop of links are refused with the reason.
  write(path("owned.bwn"), "old");
  ::chmod(path("owned.bwn").c_str(), 0640);
  const bool asRoot = ::geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(::chown(path("owned.bwn").c_str(), 65534, 65534), 0);
  }
  ASSERT_TRUE(net.SaveNetwork(path("owned.bwn")));
  struct stat owned {};
  ASSERT_EQ(::stat(path("owned.bwn").c_str(), &owned), 0);
  EXPECT_EQ(owned.st_mode & 07777, 0640u);
  if (asRoot) {
    EXPECT_EQ(owned.st_uid, 65534u);
  }
  write(path("readonly.bwn"), "keep");
  ::chmod(path("readonly.bwn").c_str(), 0444);
  EXPECT_EQ(refusal(path("readonly.bwn")), "Cannot create file " + path("readonly.bwn") + ": the file is read-only");
  EXPECT_EQ(read(path("readonly.bwn")), "keep");
  fs::create_symlink("loop.bwn", path("loop.bwn"));
  EXPECT_NE(refusal(path("loop.bwn")).find("loop of symbolic links"), std::string::npos);

  // Devices and FIFOs are written in place, never replaced by a file. The devices are reached
  // through links of our own, so a save that replaced its target would replace only the link.
  fs::create_symlink("/dev/null", path("null"));
  fs::create_symlink("/dev/full", path("full"));
  EXPECT_TRUE(net.SaveNetwork(path("null")));
  EXPECT_EQ(refusal(path("full")), "Stream write error in file " + path("full") + ": No space left on device");
  EXPECT_TRUE(fs::is_symlink(path("null")) && fs::is_symlink(path("full")));
  EXPECT_TRUE(fs::is_character_file(path("null")) && fs::is_character_file(path("full")));
  const std::string fifo = path("pipe.bwn");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(refusal(fifo), "Cannot create file " + fifo + ": no process reads from this FIFO");
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_TRUE(net.SaveNetwork(fifo));
  char bytes[4096];
  EXPECT_EQ(::read(reader, bytes, sizeof bytes), 2 + 10 * 275);
  ::close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(NetworkFile, SavesClearStaleTemporariesAndKeepNamesWithinTheLimit) {
  TCanNodes net(120, 1500, 120);
  net.AddNode({0, 0});
  // A killed save left one temporary; a running save holds a lock on its own.
  write(path("net.bwn.~123.tmp"), "stale");
  write(path("net.bwn.~456.tmp"), "in use");
  write(path("other.bwn.~789.tmp"), "another target's");
  const int inUse = ::open(path("net.bwn.~456.tmp").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(inUse, LOCK_EX), 0);
  ASSERT_TRUE(net.SaveNetwork(path("net.bwn")));
  ::close(inUse);
  EXPECT_FALSE(fs::exists(path("net.bwn.~123.tmp")));
  EXPECT_TRUE(fs::exists(path("net.bwn.~456.tmp")) && fs::exists(path("other.bwn.~789.tmp")));

  const std::string longName = path(std::string(246, 'n') + ".bwn");
  ASSERT_TRUE(net.SaveNetwork(longName));
  EXPECT_EQ(read(longName).size(), 2u + 275);
  EXPECT_EQ(filesIn(dir.string()), 4);
}

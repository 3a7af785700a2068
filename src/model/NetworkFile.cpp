// The network file: a list bracket, then per element a class name and its packed record.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>
#include <unordered_set>

#include "base/SafeFile.h"
#include "model/ModelErrors.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

constexpr std::uint8_t kListStart = 0x01;
constexpr std::uint8_t kListEnd = 0x00;
constexpr std::uint8_t kShortString = 0x06;
constexpr std::uint8_t kLongString = 0x0C;
// 65,535 wire entries take about 19 MB; past this no network file goes on.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{64} << 20;

// Reading stops with this; Offset says where in the file the problem lies.
struct LoadFailure {
  std::string Message;
  std::uint64_t Offset;
};

// A buffered byte reader that knows its offset and never reads past what the file holds.
class FileReader {
 public:
  explicit FileReader(std::FILE* File) : FFile(File) {}

  std::uint64_t Offset() const { return FOffset; }

  bool Read(void* Out, std::size_t Size) {
    const std::size_t n = std::fread(Out, 1, Size, FFile);
    FOffset += n;
    return n == Size;
  }

  std::optional<std::uint8_t> Byte() {
    std::uint8_t value = 0;
    if (!Read(&value, 1)) return std::nullopt;
    return value;
  }

 private:
  std::FILE* FFile;
  std::uint64_t FOffset = 0;
};

std::string hexByte(std::uint8_t Value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned>(Value));
  return buffer;
}

// Reads one element's class name and record, or throws LoadFailure.
std::unique_ptr<TMyClasses> readElement(FileReader& Reader, std::uint8_t Tag, std::uint64_t EntryStart) {
  std::uint32_t length = 0;
  if (Tag == kShortString) {
    const auto n = Reader.Byte();
    if (!n) throw LoadFailure{"the file ends inside a class name", Reader.Offset()};
    length = *n;
  } else if (Tag == kLongString) {
    std::uint8_t bytes[4];
    if (!Reader.Read(bytes, 4)) throw LoadFailure{"the file ends inside a class name", Reader.Offset()};
    length = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
             (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  } else {
    throw LoadFailure{"expected a class name but found the value tag " + hexByte(Tag), EntryStart};
  }

  // Only two names are known, so a longer name is refused without reading (or allocating) it.
  constexpr std::uint32_t kLongestName = 8;
  if (length > kLongestName)
    throw LoadFailure{"unknown element class (a name of " + std::to_string(length) + " bytes)", EntryStart};
  char name[kLongestName] = {};
  if (!Reader.Read(name, length)) throw LoadFailure{"the file ends inside a class name", Reader.Offset()};
  const std::string_view className(name, length);

  if (className == "TNode") {
    std::uint8_t record[NodeRecordSize];
    if (!Reader.Read(record, sizeof record)) throw LoadFailure{"the file ends inside a node record", Reader.Offset()};
    auto node = std::make_unique<TNode>();
    node->UnpackRecord(record);
    return node;
  }
  if (className == "TTrmLine") {
    std::uint8_t record[WireRecordSize];
    if (!Reader.Read(record, sizeof record)) throw LoadFailure{"the file ends inside a wire record", Reader.Offset()};
    auto wire = std::make_unique<TTrmLine>();
    wire->UnpackRecord(record);
    return wire;
  }
  std::string printable;
  for (char c : className) printable += (c >= 0x20 && c < 0x7F) ? c : '?';
  throw LoadFailure{"unknown element class \"" + printable + "\"", EntryStart};
}

std::uint64_t packPoint(TPoint P) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(P.X)) << 32) | static_cast<std::uint32_t>(P.Y);
}

// The set of points and point pairs registered so far in one load.
struct PointPairHash {
  std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& Pair) const {
    return std::hash<std::uint64_t>{}(Pair.first * 0x9E3779B97F4A7C15ull ^ Pair.second);
  }
};

// Sums over positions 1..n, for counting the elements inserted before one in key order.
class FenwickTree {
 public:
  explicit FenwickTree(std::size_t Size) : FTree(Size + 1, 0) {}
  void Add(std::size_t Position) {
    for (std::size_t i = Position; i < FTree.size(); i += i & (~i + 1)) ++FTree[i];
  }
  int PrefixSum(std::size_t Position) const {
    int sum = 0;
    for (std::size_t i = Position; i > 0; i -= i & (~i + 1)) sum += FTree[i];
    return sum;
  }

 private:
  std::vector<int> FTree;
};

}  // namespace

struct TCanNodes::LoadedElement {
  std::string Key;
  std::unique_ptr<TMyClasses> Element;
};

bool TCanNodes::SaveNetwork(const std::string& FileName) {
  FFileName_ = FileName;
  if (Count() == 0) return false;
  writeFileAtomically(FileName, NetworkFileBytes());
  FFileState_ = fstSaved;
  FreeElements(FUnDoList_);
  FreeElements(FReDoList_);
  return true;
}

std::string TCanNodes::NetworkFileBytes() const {
  std::string bytes;
  bytes.reserve(2 + static_cast<std::size_t>(Count()) * (3 + 8 + WireRecordSize));
  bytes.push_back(static_cast<char>(kListStart));
  auto appendEntry = [&bytes](std::string_view ClassName, const auto& Record) {
    bytes.push_back(static_cast<char>(kShortString));
    bytes.push_back(static_cast<char>(ClassName.size()));
    bytes.append(ClassName);
    bytes.append(reinterpret_cast<const char*>(Record.data()), Record.size());
  };
  for (int i = 0; i < Count(); ++i) {
    if (const TNode* node = NodeAtIndex(i))
      appendEntry("TNode", node->PackRecord());
    else if (const TTrmLine* wire = WireAtIndex(i))
      appendEntry("TTrmLine", wire->PackRecord());
  }
  bytes.push_back(static_cast<char>(kListEnd));
  return bytes;
}

bool TCanNodes::LoadNetwork(const std::string& FileName) {
  FreeElements(FReDoList_);
  FNumNodes_ = 0;
  FNumLines_ = 0;
  ResetBoundingBox();
  FLoadError = {};

  int fd = -1;
  try {
    fd = openRegularFile(FileName);
  } catch (const EFOpenError& error) {
    if (error.SystemError() == ENOENT) {
      // A window opened for a name that does not exist yet becomes a new network of that name.
      try {
        SaveNetwork(FileName);
      } catch (const std::exception&) {
        FFileName_ = FileName;
      }
      FLoadError = {"file not found", 0, TLoadOutcome::Missing};
      return false;
    }
    // A folder, a FIFO, a device, a loop of links: nothing is read, nothing can block.
    FFileName_ = FileName;
    FLoadError = {error.Reason(), 0, TLoadOutcome::NotOpened};
    return false;
  }
  FFileName_ = FileName;
  return loadOpened(fd);
}

bool TCanNodes::LoadNetworkFrom(int Fd, const std::string& Name) {
  FreeElements(FReDoList_);
  FNumNodes_ = 0;
  FNumLines_ = 0;
  ResetBoundingBox();
  FLoadError = {};
  FFileName_ = Name;
  // A descriptor of our own, so that closing what was read leaves the caller's open.
  const int fd = ::fcntl(Fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    FLoadError = {std::string("cannot read it: ") + std::strerror(errno), 0, TLoadOutcome::NotOpened};
    return false;
  }
  return loadOpened(fd);
}

bool TCanNodes::loadOpened(int Fd) {
  std::FILE* file = ::fdopen(Fd, "rb");
  if (!file) {
    FLoadError = {std::string("cannot open the file: ") + std::strerror(errno), 0, TLoadOutcome::NotOpened};
    ::close(Fd);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
  FileReader reader(file);

  const bool intoEmptyList = Count() == 0;
  std::vector<LoadedElement> loaded;
  // What this load has registered so far: node positions and wire end pairs.
  std::unordered_set<std::uint64_t> nodesSeen;
  std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, PointPairHash> wiresSeen;
  bool entryRead = false;
  try {
    const auto first = reader.Byte();
    if (!first) throw LoadFailure{"the file is empty", 0};
    if (*first != kListStart)
      throw LoadFailure{"not a network file: the first byte is " + hexByte(*first) + ", not 0x01", 0};
    // Every element the list registers counts towards the limit of the 16-bit counters.
    const auto makeRoom = [&](std::uint64_t EntryStart) {
      const std::size_t held = intoEmptyList ? loaded.size() : static_cast<std::size_t>(Count());
      if (held >= static_cast<std::size_t>(MaxElements))
        throw LoadFailure{"more than " + std::to_string(MaxElements) +
                              " elements; a network holds no more, the elements before this one were read",
                          EntryStart};
    };
    for (;;) {
      const std::uint64_t entryStart = reader.Offset();
      // Dropped wires register nothing, so a file of them could go on for ever.
      if (entryStart > kMaxFileBytes)
        throw LoadFailure{
            "the list goes on past " + std::to_string(kMaxFileBytes >> 20) + " MiB, more than any network file holds",
            entryStart};
      const auto tag = reader.Byte();
      if (!tag) throw LoadFailure{"the file ends before the end-of-list byte", entryStart};
      if (*tag == kListEnd) break;
      auto element = readElement(reader, *tag, entryStart);
      entryRead = true;

      if (auto* node = AsNode(element.get())) {
        std::string key = NodeKey(node->FPos);
        if (!nodesSeen.insert(packPoint(node->FPos)).second || (!intoEmptyList && NodeExists(node->FPos)))
          throw LoadFailure{"a second node at the position of " + key + ": String list does not allow duplicates",
                            entryStart};
        makeRoom(entryStart);
        if (intoEmptyList) {
          loaded.push_back({std::move(key), std::move(element)});
        } else {
          AddObject(std::move(key), std::move(element));
        }
      } else {
        auto* wire = static_cast<TTrmLine*>(element.get());
        // A wire with equal ends, or one that joins two points already joined, is dropped.
        const std::uint64_t start = packPoint(wire->FStart);
        const std::uint64_t end = packPoint(wire->FEnd);
        if (start == end || wiresSeen.count({end, start}) != 0 || !wiresSeen.insert({start, end}).second ||
            (!intoEmptyList && WireExists(wire->FStart, wire->FEnd)))
          continue;
        makeRoom(entryStart);
        std::string key = WireKey(wire->FStart, wire->FEnd);
        if (intoEmptyList)
          loaded.push_back({std::move(key), std::move(element)});
        else
          AddObject(std::move(key), std::move(element));
      }
    }
  } catch (const LoadFailure& failure) {
    FLoadError = {failure.Message, failure.Offset, TLoadOutcome::Damaged};
  } catch (const std::exception& error) {
    FLoadError = {error.what(), reader.Offset(), TLoadOutcome::Damaged};
  }
  std::fclose(file);

  const bool failed = FLoadError.Failed();
  if (intoEmptyList) RegisterLoaded(loaded, failed);
  if (failed) return false;
  FFileState_ = fstLoaded;
  if (entryRead) FreeElements(FUnDoList_);
  return entryRead;
}

// Files the elements of a load into the empty list in one sort, with the same counters, bounding
// box, state and (when asked) undo entries that registering them one by one through AddObject
// would leave, but without the quadratic cost of ordered insertion.
void TCanNodes::RegisterLoaded(std::vector<LoadedElement>& Loaded, bool KeepUndoEntries) {
  if (Loaded.empty()) return;
  std::vector<std::size_t> order(Loaded.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&Loaded](std::size_t L, std::size_t R) { return keyCompare(Loaded[L].Key, Loaded[R].Key) < 0; });

  std::vector<std::size_t> rank(Loaded.size());
  for (std::size_t r = 0; r < order.size(); ++r) rank[order[r]] = r + 1;

  for (auto& item : Loaded) {
    item.Element->FAction = uaAdded;
    if (const auto* node = AsNode(item.Element.get())) {
      ++FNumNodes_;
      WidenBoundingBox(node->FPos);
    } else {
      ++FNumLines_;
    }
  }

  if (KeepUndoEntries) {
    // Each element's undo entry records the index it would have had when inserted in file order.
    FenwickTree inserted(Loaded.size());
    for (std::size_t i = 0; i < Loaded.size(); ++i) {
      std::unique_ptr<TMyClasses> copy;
      if (const auto* node = AsNode(Loaded[i].Element.get()))
        copy = node->CopyRecord();
      else
        copy = static_cast<const TTrmLine*>(Loaded[i].Element.get())->CopyRecord();
      copy->FIndex = inserted.PrefixSum(rank[i] - 1);
      copy->FTick = FTickCount;
      copy->FAction = uaAdded;
      inserted.Add(rank[i]);
      FUnDoList_.AddObject(Loaded[i].Key, std::move(copy));
    }
  }

  std::vector<Item> items;
  items.reserve(Loaded.size());
  for (std::size_t index : order) items.push_back({std::move(Loaded[index].Key), std::move(Loaded[index].Element)});
  AssignSorted(std::move(items));
  FFileState_ = fstModified;
}

}  // namespace busweave

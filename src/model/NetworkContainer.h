#pragma once

// TCanNodes: the container of one network document. It files nodes and wires under keys built
// from their coordinates, keeps counters, the bounding box of the nodes and the file state, and
// owns an undo list of copies and removed elements. It owns every element in either list.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "model/Elements.h"
#include "model/KeyedList.h"

namespace busweave {

// A point hits a wire when its distance from the wire is strictly less than this.
inline constexpr double HitTolerance = 25.0;

struct THitResult {
  bool Hit = false;
  double Distance = std::numeric_limits<double>::infinity();
};

// The most elements a network holds: its counters and its file count in 16 bits.
inline constexpr int MaxElements = 65535;

// How the last LoadNetwork ended.
enum class TLoadOutcome : std::uint8_t {
  Complete,   // the whole file was read
  Missing,    // no file of that name: a new, empty network of that name
  NotOpened,  // a folder, not a regular file, no permission, a loop of links: nothing was read
  Damaged,    // reading stopped at a problem; what was read before it stays
};

// Why the last LoadNetwork stopped early; empty Message when it read the whole file.
struct TLoadError {
  std::string Message;
  std::uint64_t Offset = 0;  // byte offset in the file where the problem was found
  TLoadOutcome Outcome = TLoadOutcome::Complete;

  bool Failed() const { return Outcome != TLoadOutcome::Complete; }
  bool NotOpened() const { return Outcome == TLoadOutcome::Missing || Outcome == TLoadOutcome::NotOpened; }
};

// How a move of a node ended; everything but Moved leaves the network as it was.
enum class TMoveOutcome : std::uint8_t {
  Moved,
  Unchanged,   // dropped where it was
  NoNode,      // no node at the start point
  Occupied,    // another node lies at the target
  WireExists,  // a moved wire would join two points that are joined already
};

// The impedances of a network opened as a document: terminations of 120 ohms, 1500 ohms for a
// node without termination, new wires of 120 ohms. The editor and every command that opens a
// network without a window start from these, so that all of them draw and check it alike.
struct TImpedances {
  std::uint16_t ZL;
  std::uint16_t NoZL;
  std::uint16_t LineZL;
};
inline constexpr TImpedances DocumentImpedances{120, 1500, 120};

class TCanNodes : public TStringList {
 public:
  TCanNodes();
  TCanNodes(std::uint16_t ZL, std::uint16_t NoZL, std::uint16_t LineZL);
  ~TCanNodes() override;

  static std::unique_ptr<TCanNodes> CreateWithImpedances(std::uint16_t ZL, std::uint16_t NoZL, std::uint16_t LineZL) {
    return std::make_unique<TCanNodes>(ZL, NoZL, LineZL);
  }

  // Read-only state.
  const std::string& FFileName() const { return FFileName_; }
  TFileState FFileState() const { return FFileState_; }
  // Nodes in the container with a driver source. Counted when asked, because the editor gives
  // and takes sources by changing nodes in place.
  std::uint16_t FNumSources() const;
  std::uint16_t FNumNodes() const { return FNumNodes_; }
  std::uint16_t FNumLines() const { return FNumLines_; }
  std::int32_t FMaxX() const { return FMaxX_; }
  std::int32_t FMaxY() const { return FMaxY_; }
  std::int32_t FMinX() const { return FMinX_; }
  std::int32_t FMinY() const { return FMinY_; }
  bool FUnDoPossible() const { return FUnDoList_.Count() > 0; }
  bool FNetworkExists() const { return Count() > 0; }
  const TStringList& FUnDoList() const { return FUnDoList_; }
  bool FReDoPossible() const { return FReDoList_.Count() > 0; }
  const TStringList& FReDoList() const { return FReDoList_; }

  // Settings the editor reads and writes.
  std::uint16_t FNoZL = 65535;  // resistance of every new node: "no termination"
  std::uint16_t FZL = 120;      // termination resistance
  std::uint16_t FLineZL = 120;  // default wire impedance
  std::int32_t FTickCount = 0;  // stamp of the current user action

  // Called where undo meets an entry it cannot take back; the editor makes it beep.
  std::function<void()> OnBeep;

  // Keys and lookups.
  static std::string NodeKey(TPoint P);
  static std::string WireKey(TPoint P1, TPoint P2);
  bool NodeExists(TPoint P) const;
  TNode* NodeAt(TPoint P) const;
  bool WireExists(TPoint P1, TPoint P2) const;
  TNode* NodeAtIndex(int Index) const { return AsNode(Objects(Index)); }
  TTrmLine* WireAtIndex(int Index) const { return AsWire(Objects(Index)); }

  // Registration. Every insertion goes through AddObject, which records an undo copy and
  // throws ETooManyElements rather than hold more than MaxElements.
  int AddObject(std::string Key, std::unique_ptr<TMyClasses> Element) override;
  // Both refuse (false) an element the full network has no room for.
  bool AddNodeObject(std::unique_ptr<TNode> Node);
  // Refuses (and destroys) a wire with equal ends or one that joins two already joined points.
  bool AddWireObject(std::unique_ptr<TTrmLine> Wire);
  static bool FreeElements(TStringList& List);

  // Gives the network back a file name, e.g. the one it had before a save under a new name failed.
  void SetFFileName(const std::string& FileName) { FFileName_ = FileName; }
  // Marks the network as changed since it was loaded or saved.
  void MarkModified() { FFileState_ = fstModified; }

  // A copy of the elements, counters, bounding box and settings, without undo or redo history:
  // what a check or a drawing reads, for use on another thread while this network changes.
  std::unique_ptr<TCanNodes> Snapshot() const;

  // Whole-network operations.
  int NumberNodeNames();
  // Appends the circuit's network section to Lines and numbers the node names. A wire with an
  // end that carries no node gets a comment instead of its line, and a note in Warnings.
  bool WriteNetlist(std::vector<std::string>& Lines, std::vector<std::string>* Warnings = nullptr);
  bool MoveAll(TPoint Delta);

  // The network file.
  bool SaveNetwork(const std::string& FileName);
  // The bytes SaveNetwork writes (the two list brackets for an empty network).
  std::string NetworkFileBytes() const;
  bool LoadNetwork(const std::string& FileName);
  // Loads from an open descriptor, a pipe included, as LoadNetwork loads a file (and with the
  // same limit on what is read); Name stands for the file in the document and its messages.
  bool LoadNetworkFrom(int Fd, const std::string& Name);
  const TLoadError& LastLoadError() const { return FLoadError; }

  // Editing operations; each change is recorded on the undo list under FTickCount. An operation
  // that would take the network past MaxElements changes nothing and beeps (OnBeep).
  bool AddNode(TPoint P);
  void AddWire(TPoint P1, TPoint P2, std::uint16_t Impedance, bool ShowLength);
  static THitResult WireDistance(TPoint P, const TTrmLine& W);
  TTrmLine* NearestWire(TPoint P) const;
  bool SplitWireAt(TPoint P);
  bool DeleteElement(int Index);
  bool DeleteNodeAt(TPoint P);
  bool DeleteEndNode(TPoint P);
  // Deletes W and the end nodes it leaves bare; W is set to none (the undo list owns it).
  bool DeleteWire(TTrmLine*& W);
  bool BackupNode(const TNode* N);
  // Moves the node at From to To with the ends of its wires, as one action under FTickCount:
  // the node and its wires are deleted and added again under their new keys, as drawing makes
  // them, so undo and redo take the move back as a whole. A target on a wire splits that wire as
  // a new node does.
  TMoveOutcome MoveNode(TPoint From, TPoint To);
  bool BackupWire(const TTrmLine* W);
  bool UndoLast();
  // Takes back the last undone user action, one stamp at a time, and records it for undo again.
  // Every new change, a save and a load end what can be redone.
  bool RedoLast();

 private:
  // The keyed list's mutators that could break the order of keys the container and its undo
  // list rely on are not part of the container's interface.
  using TStringList::AssignSorted;
  using TStringList::InsertItem;
  using TStringList::SetDuplicates;
  using TStringList::SetSorted;
  using TStringList::SetString;

  struct LoadedElement;

  // Records Copy, taken of the element at Index, as its state before a change.
  bool backupElement(int Index, std::unique_ptr<TMyClasses> Copy);

  // Wire keys begin with "W" and node keys with "N", so the wires are the tail of the list.
  int FirstWireIndex() const;
  void ResetBoundingBox();
  void WidenBoundingBox(TPoint P);
  bool HasWireEndingAt(TPoint P) const;
  // Index of the first wire that P splits, or -1.
  int WireThrough(TPoint P) const;
  // True when Added more elements fit; beeps when they do not.
  bool HasRoomFor(int Added);
  void RegisterLoaded(std::vector<LoadedElement>& Loaded, bool KeepUndoEntries);
  // Reads an opened network file into the list; closes Fd.
  bool loadOpened(int Fd);
  // A change made by hand ends the redo history; a change made by redo keeps the rest of it.
  void changeMade() {
    if (!FRedoing_) FreeElements(FReDoList_);
  }

  std::string FFileName_ = "newfile.bwn";
  TFileState FFileState_ = fstNew;
  std::int32_t FMaxX_ = 0;
  std::int32_t FMaxY_ = 0;
  std::int32_t FMinX_ = 0;
  std::int32_t FMinY_ = 0;
  std::uint16_t FNumNodes_ = 0;
  std::uint16_t FNumLines_ = 0;
  TStringList FUnDoList_{false, TDuplicates::dupAccept};
  // What undo took back, last undone last: a copy of the state undo replaced, a removed
  // element to put back (uaAdded) or a copy of an element to delete again (uaDeleted).
  TStringList FReDoList_{false, TDuplicates::dupAccept};
  bool FRedoing_ = false;
  TLoadError FLoadError;
};

// An empty container with the document impedances, as a document is opened.
inline TCanNodes DocumentNetwork() {
  return TCanNodes(DocumentImpedances.ZL, DocumentImpedances.NoZL, DocumentImpedances.LineZL);
}

}  // namespace busweave

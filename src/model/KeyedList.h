#pragma once

// A keyed list of owned elements: index access, binary search on the keys, ordered insertion.
// The network container and its undo list are built on it.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/Elements.h"

namespace busweave {

// Orders keys case-insensitively: ':' before digits, digits before letters, letters
// alphabetically, and a key that is a prefix of another before the longer one.
int keyCompare(std::string_view A, std::string_view B);

enum class TDuplicates { dupAccept, dupError };

class TStringList {
 public:
  TStringList(bool Sorted, TDuplicates Duplicates);
  virtual ~TStringList();
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  const std::string& Strings(int Index) const { return FItems.at(Index).Key; }
  // Replaces the key at Index; only meant while the list is unsorted.
  void SetString(int Index, std::string Key) { FItems.at(Index).Key = std::move(Key); }
  TMyClasses* Objects(int Index) const { return FItems.at(Index).Object.get(); }

  // Binary search on a sorted list: true when Key is present; Index is its position or
  // the position where it would be inserted.
  bool Find(std::string_view Key, int& Index) const;
  int IndexOf(std::string_view Key) const;
  int IndexOfObject(const TMyClasses* Object) const;

  // Inserts in key order when sorted (refusing a duplicate key with EStringListError when
  // duplicates are refused), else appends. Returns the new item's index.
  virtual int AddObject(std::string Key, std::unique_ptr<TMyClasses> Object);

  // Removes the item at Index and hands its object to the caller.
  std::unique_ptr<TMyClasses> Extract(int Index);
  // Removes the item at Index and destroys its object.
  void Delete(int Index);
  void Clear();

  bool Sorted() const { return FSorted; }
  // Turning sorting on re-sorts the list (keeping the order of equal keys).
  void SetSorted(bool Sorted);
  void SetDuplicates(TDuplicates Duplicates) { FDuplicates = Duplicates; }

 protected:
  struct Item {
    std::string Key;
    std::unique_ptr<TMyClasses> Object;
  };

  // Plain insertion at a known position, for callers that have already searched.
  void InsertItem(int Index, std::string Key, std::unique_ptr<TMyClasses> Object);
  // Replaces the whole contents with items that are already in key order.
  void AssignSorted(std::vector<Item> Items);

 private:
  std::vector<Item> FItems;
  bool FSorted;
  TDuplicates FDuplicates;
};

}  // namespace busweave

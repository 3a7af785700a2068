#include "model/KeyedList.h"

#include <algorithm>
#include <array>

#include "model/ModelErrors.h"

namespace busweave {
namespace {

// Collation weight of one character; case is folded.
constexpr std::array<int, 256> makeWeights() {
  std::array<int, 256> weights{};
  for (int c = 0; c < 256; ++c) weights[c] = 1000 + c;  // anything else ranks after letters, by code
  weights[':'] = 1;
  for (int d = 0; d < 10; ++d) weights['0' + d] = 10 + d;
  for (int l = 0; l < 26; ++l) {
    weights['A' + l] = 100 + l;
    weights['a' + l] = 100 + l;
  }
  return weights;
}

constexpr std::array<int, 256> kWeights = makeWeights();

}  // namespace

int keyCompare(std::string_view A, std::string_view B) {
  const std::size_t n = std::min(A.size(), B.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int wa = kWeights[static_cast<unsigned char>(A[i])];
    const int wb = kWeights[static_cast<unsigned char>(B[i])];
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

TStringList::TStringList(bool Sorted, TDuplicates Duplicates) : FSorted(Sorted), FDuplicates(Duplicates) {}

TStringList::~TStringList() = default;

bool TStringList::Find(std::string_view Key, int& Index) const {
  int low = 0;
  int high = Count() - 1;
  bool found = false;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    const int c = keyCompare(FItems[mid].Key, Key);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) found = true;  // keep going left so the first equal key is found
    }
  }
  Index = low;
  return found;
}

int TStringList::IndexOf(std::string_view Key) const {
  if (FSorted) {
    int index = 0;
    return Find(Key, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (keyCompare(FItems[i].Key, Key) == 0) return i;
  return -1;
}

int TStringList::IndexOfObject(const TMyClasses* Object) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[i].Object.get() == Object) return i;
  return -1;
}

int TStringList::AddObject(std::string Key, std::unique_ptr<TMyClasses> Object) {
  int index = Count();
  if (FSorted && Find(Key, index) && FDuplicates == TDuplicates::dupError) throw EStringListError();
  InsertItem(index, std::move(Key), std::move(Object));
  return index;
}

void TStringList::InsertItem(int Index, std::string Key, std::unique_ptr<TMyClasses> Object) {
  FItems.insert(FItems.begin() + Index, Item{std::move(Key), std::move(Object)});
}

void TStringList::AssignSorted(std::vector<Item> Items) { FItems = std::move(Items); }

std::unique_ptr<TMyClasses> TStringList::Extract(int Index) {
  auto object = std::move(FItems.at(Index).Object);
  FItems.erase(FItems.begin() + Index);
  return object;
}

void TStringList::Delete(int Index) { Extract(Index); }

void TStringList::Clear() { FItems.clear(); }

void TStringList::SetSorted(bool Sorted) {
  if (Sorted && !FSorted)
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const Item& L, const Item& R) { return keyCompare(L.Key, R.Key) < 0; });
  FSorted = Sorted;
}

}  // namespace busweave

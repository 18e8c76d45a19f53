#pragma once
// An owning item list: items are created with `new Item(&list)` and join the
// list; deleting an item removes it; clearing or destroying the list deletes
// its items, the first one first.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

template <class Item>
class OwningList {
 public:
  OwningList() = default;
  OwningList(const OwningList&) = delete;
  OwningList& operator=(const OwningList&) = delete;
  ~OwningList() { Clear(); }

  int Count() const { return static_cast<int>(items_.size()); }

  // Raises Exception for an index outside 0..Count()-1.
  Item* Items(int index) const {
    if (index < 0 || index >= Count())
      throw Exception(format("List index out of bounds (%d)", index));
    return items_[static_cast<size_t>(index)];
  }

  void Clear() {
    // Detach the items first: each leaves the list as it is deleted, and
    // erasing from the front one at a time would be quadratic.
    std::vector<Item*> items;
    items.swap(items_);
    ++changes_;
    for (Item* item : items) delete item;
  }

 protected:
  // Changes with every insertion and removal; lets a derived list keep a
  // cache of its items.
  uint64_t Changes() const { return changes_; }

 private:
  friend Item;

  void InsertItem(Item* item) {
    items_.push_back(item);
    ++changes_;
  }
  void RemoveItem(Item* item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    ++changes_;
    // The inner array exists only while the list holds items.
    if (items_.empty()) std::vector<Item*>().swap(items_);
  }

  std::vector<Item*> items_;
  uint64_t changes_ = 0;
};

}  // namespace mirelo

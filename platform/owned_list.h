#pragma once
// The owning item list of the driver: an item knows its list and joins it
// when created with one; destroying an item removes it from its list;
// clearing or destroying the list destroys its items, first one first.
//
// Item classes derive from OwnedItem<List, Item> and call SetOwner(nullptr)
// in their own destructor (so that a list's hooks still see a whole item);
// lists derive from OwnedList<Item>.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

template <class Item>
class OwnedList {
 public:
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  virtual ~OwnedList() { Clear(); }

  int Count() const { return items_ ? static_cast<int>(items_->size()) : 0; }
  // Raises for an index outside 0..Count()-1.
  Item* Items(int index) const {
    if (index < 0 || index >= Count())
      throw Exception(format("List index out of bounds (%d)", index));
    return (*items_)[static_cast<size_t>(index)];
  }
  int IndexOf(const Item* item) const {
    if (!items_) return -1;
    auto it = std::find(items_->begin(), items_->end(), item);
    return it == items_->end() ? -1 : static_cast<int>(it - items_->begin());
  }
  void Clear() {
    // Detached first: removing from the front one at a time would be quadratic.
    if (!items_) return;
    std::unique_ptr<std::vector<Item*>> items = std::move(items_);
    ++changes_;
    for (Item* item : *items) {
      itemRemoved(item);
      item->detachFromList();
      delete item;
    }
  }

  auto begin() const { return items_ ? items_->begin() : empty().begin(); }
  auto end() const { return items_ ? items_->end() : empty().end(); }

 protected:
  // Called as items leave, for lists that keep indexes.
  virtual void itemRemoved(Item*) {}
  // Changes with every insertion, removal and reordering, so that a derived
  // list can keep a cache of its items.
  uint64_t Changes() const { return changes_; }
  // Reorders the items; equal items keep their order.
  template <class Compare>
  void sortItems(Compare compare) {
    if (!items_) return;
    std::stable_sort(items_->begin(), items_->end(), compare);
    ++changes_;
  }

 private:
  template <class, class>
  friend class OwnedItem;
  static const std::vector<Item*>& empty() {
    static const std::vector<Item*> none;
    return none;
  }
  void insertItem(Item* item) {
    // The inner array exists only while the list holds items.
    if (!items_) items_ = std::make_unique<std::vector<Item*>>();
    items_->push_back(item);
    ++changes_;
  }
  void removeItem(Item* item) {
    if (!items_) return;
    auto it = std::find(items_->begin(), items_->end(), item);
    if (it == items_->end()) return;
    items_->erase(it);
    ++changes_;
    itemRemoved(item);
    if (items_->empty()) items_.reset();
  }

  std::unique_ptr<std::vector<Item*>> items_;
  uint64_t changes_ = 0;
};

template <class List, class Item>
class OwnedItem {
 public:
  explicit OwnedItem(Item* self) : self_(self) {}
  OwnedItem(const OwnedItem&) = delete;
  OwnedItem& operator=(const OwnedItem&) = delete;
  virtual ~OwnedItem() = default;

  List* Owner() const { return owner_; }
  void SetOwner(List* owner) {
    if (owner_ == owner) return;
    if (owner_) static_cast<OwnedList<Item>*>(owner_)->removeItem(self_);
    owner_ = owner;
    if (owner_) static_cast<OwnedList<Item>*>(owner_)->insertItem(self_);
  }

 private:
  friend class OwnedList<Item>;
  void detachFromList() { owner_ = nullptr; }
  Item* self_;
  List* owner_ = nullptr;
};

}  // namespace mirelo

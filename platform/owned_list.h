#pragma once
// The owning item list of the driver: an item knows its list and joins it
// when created with one; destroying an item removes it from its list;
// clearing or destroying the list destroys its items, first one first.
//
// Item classes derive from OwnedItem<List, Item>; lists from OwnedList<Item>.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace mirelo {

template <class Item>
class OwnedList {
 public:
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  virtual ~OwnedList() { Clear(); }

  int Count() const { return items_ ? static_cast<int>(items_->size()) : 0; }
  Item* Items(int index) const {
    return index >= 0 && index < Count() ? (*items_)[static_cast<size_t>(index)] : nullptr;
  }
  int IndexOf(const Item* item) const {
    if (!items_) return -1;
    auto it = std::find(items_->begin(), items_->end(), item);
    return it == items_->end() ? -1 : static_cast<int>(it - items_->begin());
  }
  void Clear() {
    while (Count() > 0) delete Items(0);
  }

  auto begin() const { return items_ ? items_->begin() : empty().begin(); }
  auto end() const { return items_ ? items_->end() : empty().end(); }

 protected:
  // Called as items join and leave, for lists that keep indexes.
  virtual void itemAdded(Item*) {}
  virtual void itemRemoved(Item*) {}

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
    itemAdded(item);
  }
  void removeItem(Item* item) {
    if (!items_) return;
    auto it = std::find(items_->begin(), items_->end(), item);
    if (it == items_->end()) return;
    items_->erase(it);
    itemRemoved(item);
    if (items_->empty()) items_.reset();
  }

  std::unique_ptr<std::vector<Item*>> items_;
};

template <class List, class Item>
class OwnedItem {
 public:
  explicit OwnedItem(List* owner) : owner_(nullptr) { SetOwner(owner); }
  OwnedItem(const OwnedItem&) = delete;
  OwnedItem& operator=(const OwnedItem&) = delete;
  virtual ~OwnedItem() { SetOwner(nullptr); }

  List* Owner() const { return owner_; }
  void SetOwner(List* owner) {
    if (owner_ == owner) return;
    if (owner_) static_cast<OwnedList<Item>*>(owner_)->removeItem(static_cast<Item*>(this));
    owner_ = owner;
    if (owner_) static_cast<OwnedList<Item>*>(owner_)->insertItem(static_cast<Item*>(this));
  }

 private:
  List* owner_;
};

}  // namespace mirelo

#include "driver/addin/addin_items.h"

#include "platform/cp1251.h"

namespace mirelo {

TAddinItem::TAddinItem(TAddinItems* owner) : OwnedItem(this) {
  SetOwner(owner);
}

TAddinItem::~TAddinItem() {
  SetOwner(nullptr);
}

TAddinItem* TAddinItems::ItemAt(LONG index) const {
  return index >= 0 && index < Count() ? Items(index) : nullptr;
}

int TAddinItems::Find(std::string_view name) const {
  // An empty name would match every member without a Russian name.
  if (name.empty()) return -1;
  for (int i = 0; i < Count(); ++i) {
    const TAddinItem* item = Items(i);
    if (ansiSameText(item->Name, name) || ansiSameText(item->LocalName, name)) return i;
  }
  return -1;
}

TAddinItem* TAddinItems::LastByDispID(DISPID dispid) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (Items(i)->DispID == dispid) return Items(i);
  return nullptr;
}

}  // namespace mirelo

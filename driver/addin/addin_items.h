#pragma once
// The members that the add-in offers the 1C:Enterprise platform: one item a
// property or method, with its automation DISPID and its two names.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "platform/owned_list.h"

namespace mirelo {

class TAddinItems;

class TAddinItem : public OwnedItem<TAddinItems, TAddinItem> {
 public:
  // Joins owner (when given) as its last item.
  explicit TAddinItem(TAddinItems* owner);
  ~TAddinItem() override;

  DISPID DispID = 0;
  std::string Name;        // the type library's name, Windows-1251
  std::string LocalName;   // the help string: the Russian name, or empty
  uint8_t IsReadable = 0;  // properties only: 0 or 1
  uint8_t IsWritable = 0;
  int32_t ValueType = 0;  // properties only: the getter's VARTYPE, zero-extended
};

class TAddinItems : public OwnedList<TAddinItem> {
 public:
  ~TAddinItems() override { Clear(); }

  // The item at a platform index, or null for one outside the list
  // (negative and huge ones included).
  TAddinItem* ItemAt(LONG index) const;
  // Index of the first item whose Name or LocalName equals name without
  // regard to case (Windows-1251 rules: Cyrillic, Ё/ё included); -1 for an
  // empty name or none.
  int Find(std::string_view name) const;
  // The last item with this DISPID, or null.
  TAddinItem* LastByDispID(DISPID dispid) const;
};

}  // namespace mirelo

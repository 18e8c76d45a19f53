#include "driver/tables/tables.h"

namespace mirelo {

namespace {
uint32_t fieldKey(int row, int number) {
  return (static_cast<uint32_t>(row) << 16) | static_cast<uint16_t>(number);
}
}  // namespace

TField* TFields::Find(int row, int number) const {
  if (row < 0 || row > 0xFF || number < 0 || number > 0xFF) return nullptr;
  if (indexedChanges_ != Changes()) {
    index_.clear();
    for (int i = 0; i < Count(); ++i) {
      TField* field = Items(i);
      index_.try_emplace(fieldKey(field->Row(), field->Number()), field);
    }
    indexedChanges_ = Changes();
  }
  auto it = index_.find(fieldKey(row, number));
  return it == index_.end() ? nullptr : it->second;
}

TField::TField(TFields* owner, const TFieldRec& record) : OwnedItem(this), rec_(record) {
  SetOwner(owner);
}

TField::~TField() {
  SetOwner(nullptr);
}

void TField::EncodeValue() {
  encodeFieldValue(rec_);
}

TTable::TTable(TTables* owner, const TTableRec& record) : OwnedItem(this), rec_(record) {
  SetOwner(owner);
}

TTable::~TTable() {
  SetOwner(nullptr);
}

TFields& TTable::Fields() {
  if (!fields_) fields_ = std::make_unique<TFields>();
  return *fields_;
}

}  // namespace mirelo

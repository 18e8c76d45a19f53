#pragma once
// The owning lists of settings tables and fields. A TField or TTable created
// with an owner joins its list and leaves it when deleted; a list deletes its
// items, the first one first, when it is cleared or destroyed.
#include <memory>
#include <string>
#include <unordered_map>

#include "driver/tables/table_records.h"
#include "platform/owned_list.h"

namespace mirelo {

class TField;
class TFields;
class TTable;
class TTables;

class TFields : public OwnedList<TField> {
 public:
  ~TFields() override { Clear(); }
  // The first field in list order with this row and number, or nullptr.
  TField* Find(int row, int number) const;

 private:
  // First match of every (row, number), rebuilt after the list changed:
  // whole tables are looked up field by field.
  mutable std::unordered_map<uint32_t, TField*> index_;
  mutable uint64_t indexedChanges_ = ~uint64_t{0};
};

class TField : public OwnedItem<TFields, TField> {
 public:
  // Copies the record and joins the owner's list (none for nullptr).
  explicit TField(TFields* owner, const TFieldRec& record = {});
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  ~TField() override;

  const TFieldRec& Rec() const { return rec_; }
  uint8_t Number() const { return rec_.Number; }
  const std::string& Name() const { return rec_.Name; }
  uint8_t FieldType() const { return rec_.FieldType; }
  uint8_t Size() const { return rec_.Size; }
  int32_t MinValue() const { return rec_.MinValue; }
  int32_t MaxValue() const { return rec_.MaxValue; }
  uint8_t Row() const { return rec_.Row; }
  const std::string& Value() const { return rec_.Value; }
  const std::string& Data() const { return rec_.Data; }
  const std::string& MinValueStr() const { return rec_.MinValueStr; }
  const std::string& MaxValueStr() const { return rec_.MaxValueStr; }

  // Sets the text only; EncodeValue turns it into Data.
  void SetValue(const std::string& value) { rec_.Value = value; }
  void SetData(const std::string& data) { rec_.Data = data; }
  // encodeFieldValue on this field's record.
  void EncodeValue();

 private:
  TFieldRec rec_;
};

class TTables : public OwnedList<TTable> {
 public:
  ~TTables() override { Clear(); }
  // Table files: section "Таблица"+position+1 per table, key "Поле%.2d" per
  // field in list order, the field's Value. Matching is by position only.
  // The file is replaced whole, so a save that fails leaves the old file.
  void SaveToFile(const std::string& path) const;
  // Sections and lines beyond the catalogue are ignored; tables and fields
  // the file does not reach keep their values.
  void LoadFromFile(const std::string& path);
};

class TTable : public OwnedItem<TTables, TTable> {
 public:
  explicit TTable(TTables* owner, const TTableRec& record = {});
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;
  // Leaves the owner's list and deletes the table's fields.
  ~TTable() override;

  const TTableRec& Rec() const { return rec_; }
  uint8_t Number() const { return rec_.Number; }
  const std::string& Name() const { return rec_.Name; }
  uint16_t RowCount() const { return rec_.RowCount; }
  uint8_t FieldCount() const { return rec_.FieldCount; }

  // Created on first access, owned by the table.
  TFields& Fields();

 private:
  TTableRec rec_;
  std::unique_ptr<TFields> fields_;
};

}  // namespace mirelo

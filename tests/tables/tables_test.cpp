#include "driver/tables/tables.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/exception.h"

namespace mirelo {
namespace {

// Records the order in which fields and tables are destroyed.
std::vector<int> destroyed;

class TracedField : public TField {
 public:
  TracedField(TFields* owner, int tag, const TFieldRec& rec = {}) : TField(owner, rec), tag_(tag) {}
  ~TracedField() override { destroyed.push_back(tag_); }

 private:
  int tag_;
};

class TracedTable : public TTable {
 public:
  TracedTable(TTables* owner, int tag) : TTable(owner), tag_(tag) {}
  ~TracedTable() override { destroyed.push_back(tag_); }

 private:
  int tag_;
};

TFieldRec at(uint8_t row, uint8_t number, const std::string& name = "") {
  TFieldRec rec;
  rec.Row = row;
  rec.Number = number;
  rec.Name = name;
  return rec;
}

class OwningLists : public ::testing::Test {
 protected:
  void SetUp() override { destroyed.clear(); }
};

TEST_F(OwningLists, ItemsJoinTheirOwnerInCreationOrder) {
  TFields fields;
  EXPECT_EQ(fields.Count(), 0);
  TField* a = new TField(&fields, at(0, 0, "a"));
  TField* b = new TField(&fields, at(0, 1, "b"));
  EXPECT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields.Items(0), a);
  EXPECT_EQ(fields.Items(1), b);
  EXPECT_EQ(a->Owner(), &fields);
  EXPECT_EQ(b->Name(), "b");
}

TEST_F(OwningLists, RecordIsCopied) {
  TFieldRec rec = at(2, 3, "Скорость");
  rec.FieldType = ftNumber;
  rec.Size = 2;
  rec.MinValue = -5;
  rec.MaxValue = 500;
  rec.Value = "12";
  rec.Data = "\x0C";
  rec.MinValueStr = "-5";
  rec.MaxValueStr = "500";
  TField item(nullptr, rec);
  rec.Name = "changed";
  EXPECT_EQ(item.Name(), "Скорость");
  EXPECT_EQ(item.Row(), 2);
  EXPECT_EQ(item.Number(), 3);
  EXPECT_EQ(item.Size(), 2);
  EXPECT_EQ(item.MinValue(), -5);
  EXPECT_EQ(item.MaxValue(), 500);
  EXPECT_EQ(item.Value(), "12");
  EXPECT_EQ(item.Data(), "\x0C");
  EXPECT_EQ(item.MinValueStr(), "-5");
  EXPECT_EQ(item.MaxValueStr(), "500");
  EXPECT_EQ(item.Owner(), nullptr);
}

TEST_F(OwningLists, DeletingAnItemRemovesItFromItsList) {
  TFields fields;
  new TField(&fields, at(0, 0));
  TField* middle = new TField(&fields, at(0, 1));
  TField* last = new TField(&fields, at(0, 2));
  delete middle;
  ASSERT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields.Items(1), last);
}

TEST_F(OwningLists, ClearDestroysFirstItemFirst) {
  TFields fields;
  for (int tag = 1; tag <= 4; ++tag) new TracedField(&fields, tag);
  fields.Clear();
  EXPECT_EQ(fields.Count(), 0);
  EXPECT_EQ(destroyed, (std::vector<int>{1, 2, 3, 4}));
  new TracedField(&fields, 5);
  EXPECT_EQ(fields.Count(), 1) << "a cleared list takes new items";
}

TEST_F(OwningLists, DestroyingTheListDestroysItsItemsFirstFirst) {
  {
    TTables tables;
    for (int tag = 1; tag <= 3; ++tag) new TracedTable(&tables, tag);
  }
  EXPECT_EQ(destroyed, (std::vector<int>{1, 2, 3}));
}

TEST_F(OwningLists, SetOwnerMovesToTheEndOfTheNewList) {
  TFields first, second;
  TField* moving = new TField(&first, at(0, 0));
  TField* stay = new TField(&first, at(0, 1));
  TField* other = new TField(&second, at(0, 2));
  moving->SetOwner(&second);
  EXPECT_EQ(first.Count(), 1);
  EXPECT_EQ(first.Items(0), stay);
  ASSERT_EQ(second.Count(), 2);
  EXPECT_EQ(second.Items(0), other);
  EXPECT_EQ(second.Items(1), moving);
  moving->SetOwner(&second);
  EXPECT_EQ(second.Count(), 2) << "the same owner does nothing";
  EXPECT_EQ(second.Items(1), moving);
  moving->SetOwner(nullptr);
  EXPECT_EQ(second.Count(), 1);
  delete moving;  // no owner: the caller frees it
}

TEST_F(OwningLists, ItemIndexOutsideTheListRaises) {
  TFields fields;
  EXPECT_THROW(fields.Items(0), Exception);
  new TField(&fields);
  EXPECT_NO_THROW(fields.Items(0));
  EXPECT_THROW(fields.Items(1), Exception);
  EXPECT_THROW(fields.Items(-1), Exception);
}

TEST_F(OwningLists, TableCreatesItsFieldsOnFirstAccessAndFreesThem) {
  TTables tables;
  TTableRec rec;
  rec.Number = 4;
  rec.Name = "Сеть";
  rec.RowCount = 300;
  rec.FieldCount = 7;
  TTable* table = new TTable(&tables, rec);
  EXPECT_EQ(table->Number(), 4);
  EXPECT_EQ(table->Name(), "Сеть");
  EXPECT_EQ(table->RowCount(), 300);
  EXPECT_EQ(table->FieldCount(), 7);
  TFields& fields = table->Fields();
  EXPECT_EQ(&table->Fields(), &fields);
  EXPECT_EQ(fields.Count(), 0);
  new TracedField(&fields, 10);
  new TracedField(&fields, 11);
  delete table;
  EXPECT_EQ(tables.Count(), 0);
  EXPECT_EQ(destroyed, (std::vector<int>{10, 11}));
}

TEST_F(OwningLists, ClearingTablesFreesEveryTablesFields) {
  TTables tables;
  for (int t = 0; t < 2; ++t) {
    TTable* table = new TracedTable(&tables, 100 + t);
    for (int f = 0; f < 2; ++f) new TracedField(&table->Fields(), t * 10 + f);
  }
  tables.Clear();
  EXPECT_EQ(destroyed, (std::vector<int>{100, 0, 1, 101, 10, 11}))
      << "a table and its fields go before the next table";
}

// --- Find ---

TFields& twoRowsOfThree(TFields& fields) {
  for (uint8_t row = 0; row < 2; ++row)
    for (uint8_t number = 0; number < 3; ++number) new TField(&fields, at(row, number));
  return fields;
}

TEST(FindField, ByRowAndNumber) {
  TFields fields;
  twoRowsOfThree(fields);
  EXPECT_EQ(fields.Find(1, 0), fields.Items(3)) << "first field of the second row";
  EXPECT_EQ(fields.Find(0, 0), fields.Items(0));
  EXPECT_EQ(fields.Find(1, 2), fields.Items(5));
  EXPECT_EQ(fields.Find(0, 2), fields.Items(2));
}

TEST(FindField, NothingFoundIsNull) {
  TFields fields;
  EXPECT_EQ(fields.Find(0, 0), nullptr);
  twoRowsOfThree(fields);
  EXPECT_EQ(fields.Find(2, 0), nullptr);
  EXPECT_EQ(fields.Find(0, 3), nullptr);
  EXPECT_EQ(fields.Find(-1, 0), nullptr);
  EXPECT_EQ(fields.Find(0, 256), nullptr) << "not folded onto number 0";
  EXPECT_EQ(fields.Find(256, 0), nullptr);
}

TEST(FindField, FirstMatchInListOrder) {
  TFields fields;
  TField* first = new TField(&fields, at(0, 1, "first"));
  new TField(&fields, at(0, 1, "second"));
  EXPECT_EQ(fields.Find(0, 1), first);
  delete first;
  EXPECT_EQ(fields.Find(0, 1)->Name(), "second");
}

TEST(FindField, SeesEveryChangeOfTheList) {
  TFields fields;
  twoRowsOfThree(fields);
  EXPECT_EQ(fields.Find(5, 5), nullptr);
  TField* added = new TField(&fields, at(5, 5));
  EXPECT_EQ(fields.Find(5, 5), added);
  TFields other;
  added->SetOwner(&other);
  EXPECT_EQ(fields.Find(5, 5), nullptr);
  EXPECT_EQ(other.Find(5, 5), added);
  fields.Clear();
  EXPECT_EQ(fields.Find(0, 0), nullptr);
}

TEST(FindField, LargeTableIsFoundFieldByField) {
  // 255 rows of 255 fields: every field is looked up once, as a table write does.
  TFields fields;
  for (int row = 0; row < 255; ++row)
    for (int number = 0; number < 255; ++number)
      new TField(&fields, at(static_cast<uint8_t>(row), static_cast<uint8_t>(number)));
  int position = 0;
  for (int row = 0; row < 255; ++row)
    for (int number = 0; number < 255; ++number)
      ASSERT_EQ(fields.Find(row, number), fields.Items(position++));
}

}  // namespace
}  // namespace mirelo

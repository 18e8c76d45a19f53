// The add-in's member list: ownership as every item list has it, lookup by
// either name without regard to case, and the platform's indexes.
#include "driver/addin/addin_items.h"

#include <gtest/gtest.h>

#include <climits>

namespace mirelo {
namespace {

TAddinItem* addItem(TAddinItems& items, DISPID id, const char* name, const char* localName) {
  auto* item = new TAddinItem(&items);
  item->DispID = id;
  item->Name = name;
  item->LocalName = localName;
  return item;
}

TEST(AddinItems, ItemsJoinLeaveAndDieWithTheirList) {
  TAddinItems items;
  EXPECT_EQ(items.Count(), 0);
  TAddinItem* first = addItem(items, 1, "First", "Первый");
  TAddinItem* second = addItem(items, 2, "Second", "");
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(first->Owner(), &items);
  EXPECT_EQ(items.Items(1), second);
  delete first;
  EXPECT_EQ(items.Count(), 1);
  EXPECT_EQ(items.Items(0), second);
  TAddinItem loose(nullptr);
  EXPECT_EQ(loose.Owner(), nullptr);
  items.Clear();
  EXPECT_EQ(items.Count(), 0);
}

TEST(AddinItems, PlatformIndexesOutsideTheListFindNothing) {
  TAddinItems items;
  addItem(items, 1, "One", "");
  EXPECT_NE(items.ItemAt(0), nullptr);
  for (LONG index : {-1, 1, 2, INT_MAX, INT_MIN}) EXPECT_EQ(items.ItemAt(index), nullptr) << index;
}

struct FindCase {
  const char* name;
  int expected;
};

class AddinItemsFind : public ::testing::TestWithParam<FindCase> {};

TEST_P(AddinItemsFind, ByEitherNameWithoutRegardToCase) {
  TAddinItems items;
  addItem(items, 10, "LDNumber", "НомерЛУ");
  addItem(items, 11, "Yolka", "Ёлка");
  addItem(items, 12, "SetDefaultMessage", "");
  addItem(items, 13, "ldnumber", "Другой");  // a later namesake is never found
  EXPECT_EQ(items.Find(GetParam().name), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, AddinItemsFind,
    ::testing::Values(FindCase{"LDNumber", 0}, FindCase{"ldnumber", 0}, FindCase{"LDNUMBER", 0},
                      FindCase{"НомерЛУ", 0}, FindCase{"номерлу", 0}, FindCase{"НОМЕРЛУ", 0},
                      FindCase{"Ёлка", 1}, FindCase{"ёлка", 1}, FindCase{"ЁЛКА", 1},
                      FindCase{"елка", -1}, FindCase{"yolka", 1}, FindCase{"setdefaultmessage", 2},
                      FindCase{"Другой", 3}, FindCase{"", -1}, FindCase{" LDNumber", -1},
                      FindCase{"LDNumber2", -1}, FindCase{"Nothing", -1}));

TEST(AddinItems, LastByDispIDSearchesBackwards) {
  TAddinItems items;
  addItem(items, 5, "A", "");
  TAddinItem* later = addItem(items, 5, "B", "");
  EXPECT_EQ(items.LastByDispID(5), later);
  EXPECT_EQ(items.LastByDispID(6), nullptr);
}

}  // namespace
}  // namespace mirelo

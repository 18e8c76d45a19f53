#include "tools/mirelo/member_catalog.h"

#include <gtest/gtest.h>

#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "shell_test_support.h"

namespace mirelo::shell {
namespace {

using test::utf8;

class MemberCatalogTest : public test::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    object_ = createVistelObject<IDispatch>();
  }
  void TearDown() override {
    object_ = nullptr;
    ShellTest::TearDown();
  }
  ComPtr<IDispatch> object_;
};

TEST_F(MemberCatalogTest, DescribesMembersFromTheTypeInformation) {
  MemberCatalog catalog(*object_);
  struct Expected {
    const char* name;
    DISPID dispid;
    MemberKind kind;
    VARTYPE type;
    bool readable, writable;
  };
  const Expected cases[] = {
      {"AboutBox", -552, MemberKind::Method, VT_VOID, false, false},
      {"Connect", 6, MemberKind::Method, VT_I4, false, false},
      {"Reset", 91, MemberKind::Method, VT_I4, false, false},
      {"ClientConnected", 35, MemberKind::Property, VT_BOOL, true, false},
      {"ClientIP", 37, MemberKind::Property, VT_BSTR, true, true},
      {"DataBlockSA", 44, MemberKind::Property, VT_VARIANT, true, false},
      {"LDNumber", 64, MemberKind::Property, VT_I4, true, true},
      {"LogEnabled", 92, MemberKind::Property, VT_BOOL, true, true},
      {"RepeatCount", 118, MemberKind::Property, VT_I4, true, true},
  };
  for (const Expected& e : cases) {
    const MemberInfo* member = catalog.find(e.name);
    ASSERT_NE(member, nullptr) << e.name;
    EXPECT_EQ(member->name, e.name);
    EXPECT_EQ(member->dispid, e.dispid) << e.name;
    EXPECT_EQ(member->kind, e.kind) << e.name;
    EXPECT_EQ(member->type, e.type) << e.name;
    EXPECT_EQ(member->readable, e.readable) << e.name;
    EXPECT_EQ(member->writable, e.writable) << e.name;
  }
}

TEST_F(MemberCatalogTest, EveryNameAndHelpStringFindsItsOwnMember) {
  MemberCatalog catalog(*object_);
  ASSERT_FALSE(catalog.members().empty());
  for (const MemberInfo& member : catalog.members()) {
    EXPECT_EQ(catalog.find(member.name), &member) << member.name;
    EXPECT_EQ(catalog.find(ansiToUtf8(ansiUpperCase(utf8ToAnsi(member.name)))), &member)
        << member.name;
    if (member.help.empty()) continue;
    // The help strings are the Russian names: in any letter case.
    EXPECT_EQ(catalog.find(member.help), &member) << member.name;
    EXPECT_EQ(catalog.find(ansiToUtf8(ansiLowerCase(utf8ToAnsi(member.help)))), &member)
        << member.name;
    EXPECT_EQ(catalog.find(ansiToUtf8(ansiUpperCase(utf8ToAnsi(member.help)))), &member)
        << member.name;
  }
}

TEST_F(MemberCatalogTest, MatchesRussianNamesWithoutRegardToCase) {
  MemberCatalog catalog(*object_);
  const std::pair<const char*, const char*> cases[] = {
      {"НомерЛУ", "LDNumber"},
      {"номерлу", "LDNumber"},
      {"ПОЛУЧИТЬСОСТОЯНИЕ", "GetStatus"},
      {"устройствозаблокировано", "IsDeviceLocked"},
      {"ОПрограмме", "AboutBox"},
      {"ЛогВключен", "LogEnabled"},
      // Latin C in the sixth place, as the type library stores it.
      {"ФлагиCостояния", "StatusFlags"},
  };
  for (const auto& [name, english] : cases) {
    const MemberInfo* member = catalog.find(utf8(name));
    ASSERT_NE(member, nullptr) << english;
    EXPECT_EQ(member->name, english);
  }
}

TEST_F(MemberCatalogTest, FindsNothingForOtherNames) {
  MemberCatalog catalog(*object_);
  for (std::string name : {std::string(""), std::string("Frobnicate"), std::string("wait"),
                           std::string("LDNumber "), utf8("ФлагиСостояния") /* Cyrillic С */,
                           std::string("LDNumber\xE2\x9C\x93"), std::string("?")})
    EXPECT_EQ(catalog.find(name), nullptr) << name;
}

}  // namespace
}  // namespace mirelo::shell

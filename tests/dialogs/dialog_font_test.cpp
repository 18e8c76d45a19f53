#include "forms/dialog_font.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/devices/temp_registry.h"

namespace mirelo {
namespace {

using test::RegistryTest;
namespace Value = DialogFontLayout::Value;

void expectSame(const TDialogFont& a, const TDialogFont& b) {
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.Size, b.Size);
  EXPECT_EQ(a.Color, b.Color);
  EXPECT_EQ(a.CharSet, b.CharSet);
  EXPECT_EQ(a.Bold, b.Bold);
  EXPECT_EQ(a.Italic, b.Italic);
  EXPECT_EQ(a.Underline, b.Underline);
  EXPECT_EQ(a.StrikeOut, b.StrikeOut);
}

// Anything but the defaults, to see that loading resets it.
TDialogFont altered() {
  TDialogFont font;
  font.Name = "Arial";
  font.Size = 30;
  font.Color = 0xFF;
  font.CharSet = 0;
  font.Bold = font.Italic = font.Underline = font.StrikeOut = true;
  return font;
}

class FontStore : public RegistryTest {
 protected:
  RegistryKey fontKey() {
    return *registry.openKey(RegistryRoot::CurrentUser, ".DEFAULT\\SOFTWARE\\Korvex\\Font", true);
  }
  TDialogFont load() {
    TDialogFont font = altered();
    LoadDialogFont(registry, font);
    return font;
  }
};

TEST(DialogFont, Defaults) {
  TDialogFont font;
  EXPECT_EQ(font.Name, "MS Sans Serif");
  EXPECT_EQ(font.Size, 8);
  EXPECT_EQ(font.Color, 0);
  EXPECT_EQ(font.CharSet, 204);
  EXPECT_FALSE(font.Bold || font.Italic || font.Underline || font.StrikeOut);
}

TEST_F(FontStore, MissingKeyResetsToDefaults) {
  expectSame(load(), TDialogFont());
}

TEST_F(FontStore, OnlySizeStored) {
  fontKey().writeInteger(Value::Size, 10);
  TDialogFont expected;
  expected.Size = 10;
  expectSame(load(), expected);
}

TEST_F(FontStore, FalseStyleAddsNothingTrueStyleAddsItself) {
  fontKey().writeInteger(Value::IsBold, 0);
  fontKey().writeInteger(Value::IsItalic, 1);
  TDialogFont font = load();
  EXPECT_FALSE(font.Bold);
  EXPECT_TRUE(font.Italic);
  EXPECT_FALSE(font.Underline);
  EXPECT_FALSE(font.StrikeOut);
}

TEST_F(FontStore, EveryValue) {
  RegistryKey key = fontKey();
  key.writeString(Value::Name, "Tahoma");
  key.writeInteger(Value::Size, 12);
  key.writeInteger(Value::Color, 0x00FF8000);
  key.writeInteger(Value::CharSet, 0);
  key.writeInteger(Value::IsBold, 1);
  key.writeInteger(Value::IsItalic, 2);
  key.writeInteger(Value::IsUnderlined, -1);
  key.writeInteger("FontIsStriledOut", 1);
  TDialogFont font = load();
  EXPECT_EQ(font.Name, "Tahoma");
  EXPECT_EQ(font.Size, 12);
  EXPECT_EQ(font.Color, 0x00FF8000);
  EXPECT_EQ(font.CharSet, 0);
  EXPECT_TRUE(font.Bold && font.Italic && font.Underline && font.StrikeOut);
}

TEST_F(FontStore, StrikeOutIsReadOnlyUnderItsStoredSpelling) {
  fontKey().writeInteger("FontIsStrikedOut", 1);
  fontKey().writeInteger("FontIsStrikeOut", 1);
  EXPECT_FALSE(load().StrikeOut);
}

TEST_F(FontStore, KeyIsBelowTheCurrentUserOnly) {
  registry.openKey(RegistryRoot::ClassesRoot, ".DEFAULT\\SOFTWARE\\Korvex\\Font", true)
      ->writeInteger(Value::Size, 14);
  registry.openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Korvex\\Font", true)
      ->writeInteger(Value::Size, 16);
  EXPECT_EQ(load().Size, 8);
  fontKey().writeInteger(Value::Size, 18);
  EXPECT_EQ(load().Size, 18);
}

struct WrongType {
  const char* name;
  std::function<void(RegistryKey&)> store;
};

class FontWrongTypeTest : public FontStore, public ::testing::WithParamInterface<WrongType> {};

// A value of the wrong type keeps its default and the others still apply.
TEST_P(FontWrongTypeTest, IsIgnored) {
  RegistryKey key = fontKey();
  key.writeString(Value::Name, "Tahoma");
  key.writeInteger(Value::Size, 11);
  key.writeInteger(Value::IsUnderlined, 1);
  GetParam().store(key);
  TDialogFont expected;
  expected.Name = "Tahoma";
  expected.Size = 11;
  expected.Underline = true;
  const std::string name = GetParam().name;
  if (name == Value::Name) expected.Name = "MS Sans Serif";
  if (name == Value::Size) expected.Size = 8;
  if (name == Value::IsUnderlined) expected.Underline = false;
  expectSame(load(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    DialogFont, FontWrongTypeTest,
    ::testing::Values(
        WrongType{Value::Name, [](RegistryKey& k) { k.writeInteger(Value::Name, 1); }},
        WrongType{Value::Size, [](RegistryKey& k) { k.writeString(Value::Size, "10"); }},
        WrongType{Value::Color, [](RegistryKey& k) { k.writeBinary(Value::Color, "\1"); }},
        WrongType{Value::CharSet, [](RegistryKey& k) { k.writeString(Value::CharSet, "0"); }},
        WrongType{Value::IsBold, [](RegistryKey& k) { k.writeString(Value::IsBold, "1"); }},
        WrongType{Value::IsUnderlined,
                  [](RegistryKey& k) { k.writeString(Value::IsUnderlined, "1"); }}),
    [](const ::testing::TestParamInfo<WrongType>& info) { return std::string(info.param.name); });

TEST_F(FontStore, DefaultRegistryVariantReadsMireloRegistry) {
  fontKey().writeInteger(Value::Size, 9);
  EXPECT_EQ(LoadDialogFont().Size, 9);
}

TEST(DialogFont, UnusableStoreGivesTheDefaults) {
  test::TempDirectory directory;
  // A folder where the file should be: the store cannot open.
  std::filesystem::create_directory(directory.path() / "registry.db");
  test::ScopedEnv env("MIRELO_REGISTRY", (directory.path() / "registry.db").c_str());
  expectSame(LoadDialogFont(), TDialogFont());
}

}  // namespace
}  // namespace mirelo

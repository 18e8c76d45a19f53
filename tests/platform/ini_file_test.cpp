// INI files with the profile functions' rules.
#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/exception.h"

namespace mirelo {
namespace {

class IniFileTest : public testing::Test {
 protected:
  IniFileTest() {
    char pattern[] = "/tmp/mirelo-ini-XXXXXX";
    folder_ = mkdtemp(pattern);
    path_ = folder_ + "/test.ini";
  }
  ~IniFileTest() override { std::filesystem::remove_all(folder_); }
  void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string read() {
    std::ifstream file(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string folder_, path_;
};

TEST_F(IniFileTest, ReadsByTheProfileRules) {
  write(
      "top=outside any section\r\n"
      "[Параметры]\n"
      "; Строка1=a comment\r\n"
      "  Строка1  =  value with blanks around  \r\n"
      "строка1=second of the same key\r"
      "Quoted=\"  kept  \"\r\n"
      "Single='x'\r\n"
      "Half=\"x\r\n"
      "Empty=\r\n"
      "no equals sign\r\n"
      "[параметры]\r\n"
      "Only=in the second section\r\n"
      "[ Other ]\r\n"
      "Key=other\r\n");
  IniFile ini(path_);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Параметры", "Строка1", "value with blanks around"},
      {"ПАРАМЕТРЫ", "СТРОКА1", "value with blanks around"},  // Cyrillic case-insensitive
      {"Параметры", "Quoted", "  kept  "},
      {"Параметры", "Single", "x"},
      {"Параметры", "Half", "\"x"},
      {"Параметры", "Empty", ""},
      {"Параметры", "Only", "default"},  // the first matching section only
      {"Параметры", "no equals sign", "default"},
      {"Параметры", "top", "default"},
      {"Other", "Key", "other"},
      {"Missing", "Key", "default"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), c.expected) << c.section << "/" << c.key;
  EXPECT_TRUE(ini.ValueExists("параметры", "empty"));
  EXPECT_FALSE(ini.ValueExists("Параметры", "Only"));
}

TEST_F(IniFileTest, AMissingOrUnusableFileReadsAsEmpty) {
  EXPECT_EQ(IniFile(path_).ReadString("a", "b", "d"), "d");
  EXPECT_EQ(IniFile(folder_).ReadString("a", "b", "d"), "d");
  EXPECT_EQ(IniFile("/dev/zero").ReadString("a", "b", "d"), "d")
      << "not a regular file: no endless read";
}

TEST_F(IniFileTest, WritesKeepEveryOtherLine) {
  write("; comment\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  IniFile ini(path_);
  ini.WriteString("a", "X", "changed");  // existing key keeps its spelling
  ini.WriteString("A", "z", "added");    // after the section's last entry, before the blank line
  ini.WriteString("C", "w", "new section");
  ini.UpdateFile();
  EXPECT_EQ(
      read(),
      "; comment\r\n[A]\r\nx=changed\r\nz=added\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nw=new section\r\n");
}

TEST_F(IniFileTest, ValuesReadBackExactly) {
  IniFile ini(path_);
  const char* values[] = {"plain",    "  leading", "trailing  ", "\"quoted\"",
                          "'single'", "",          "a=b;c",      "Ёлка ё"};
  for (const char* value : values) ini.WriteString("S", "k", value);
  for (const char* value : values) {
    ini.WriteString("S", "k", value);
    ini.UpdateFile();
    EXPECT_EQ(IniFile(path_).ReadString("S", "k", "?"), value);
  }
}

TEST_F(IniFileTest, RefusesWhatWouldBreakTheLines) {
  IniFile ini(path_);
  EXPECT_THROW(ini.WriteString("S", "k", "two\r\nlines"), Exception);
  EXPECT_THROW(ini.WriteString("S", "a=b", "v"), Exception);
  EXPECT_THROW(ini.WriteString("S", ";k", "v"), Exception);
  EXPECT_THROW(ini.WriteString("S", "", "v"), Exception);
  EXPECT_THROW(ini.WriteString("S]", "k", "v"), Exception);
  EXPECT_EQ(ini.Text(), "");
}

TEST_F(IniFileTest, UpdateFileReplacesTheFileOrFailsClearly) {
  IniFile ini(folder_ + "/missing/test.ini");
  ini.WriteString("S", "k", "v");
  try {
    ini.UpdateFile();
    FAIL() << "no folder, no file";
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing/test.ini"), std::string::npos) << e.what();
  }
}

}  // namespace
TEST_F(IniFileTest, SectionsAndTheirLinesInFileOrder) {
  write("; comment\r\n[Б]\r\nx=1\r\n\r\n; note\r\n  no equals  \r\n[а]\r\ny=2\r\n[б]\r\nz=3\r\n");
  IniFile file(path_);
  EXPECT_EQ(file.ReadSections(), (std::vector<std::string>{"Б", "а"})) << "a repeated name once";
  EXPECT_EQ(file.ReadSection("б"), (std::vector<std::string>{"x=1", "no equals"}));
  EXPECT_TRUE(file.ReadSection("missing").empty());
  file.Clear();
  file.WriteString("new", "k", "v");
  EXPECT_EQ(file.Text(), "[new]\r\nk=v\r\n");
}

}  // namespace mirelo

// The responder's settings file: the two not-found lines.
#include "responder/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace mirelo {
namespace {

class Settings : public testing::Test {
 protected:
  Settings() {
    char pattern[] = "/tmp/kavrin-settings-XXXXXX";
    folder_ = mkdtemp(pattern);
    path_ = folder_ + "/kavrin.ini";
  }
  ~Settings() override { std::filesystem::remove_all(folder_); }
  void write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string read() {
    std::ifstream file(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string folder_, path_;
};

TEST_F(Settings, MissingFileOrKeysReadAsNotFound) {
  EXPECT_EQ(readNotFoundLines(path_), (TNotFoundLines{"Not found", "Not found"}));
  EXPECT_FALSE(std::filesystem::exists(path_)) << "reading creates nothing";
  write("[Параметры]\r\nСтрока2=Нет в базе\r\n");
  EXPECT_EQ(readNotFoundLines(path_), (TNotFoundLines{"Not found", "Нет в базе"}));
  write("[Параметры]\r\nСтрока 1=with a blank\r\n");
  EXPECT_EQ(readNotFoundLines(path_).Line1, "Not found") << "the key has no blank before the digit";
}

TEST_F(Settings, WritesBothKeysInTheirSectionToAFileOfItsOwnersAlone) {
  writeNotFoundLines(path_, {"Товар не найден", "Спросите продавца"});
  EXPECT_EQ(std::filesystem::status(path_).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(read(), "[Параметры]\r\nСтрока1=Товар не найден\r\nСтрока2=Спросите продавца\r\n");
  EXPECT_EQ(readNotFoundLines(path_), (TNotFoundLines{"Товар не найден", "Спросите продавца"}));
}

TEST_F(Settings, KeepsTheRestOfTheFileAndBlanksAtTheEnds) {
  write("; kept\r\n[Other]\r\nx=1\r\n[ПАРАМЕТРЫ]\r\nстрока1=old\r\n");
  writeNotFoundLines(path_, {"  Нет  ", ""});
  EXPECT_EQ(read(),
            "; kept\r\n[Other]\r\nx=1\r\n[ПАРАМЕТРЫ]\r\nстрока1=\"  Нет  \"\r\nСтрока2=\r\n");
  EXPECT_EQ(readNotFoundLines(path_), (TNotFoundLines{"  Нет  ", ""}));
}

TEST_F(Settings, AFileThatCannotBeReadOrIsNoIniFileIsNotUsed) {
  struct Case {
    std::string text;
    std::string problem;  // "" when the file is used
  } cases[] = {
      {"", ""},
      {"; comment\r\n# comment\r\n\r\n[Параметры]\r\nСтрока1 = x\t y\r\n", ""},
      {"[Параметры]\r\nСтрока1=x" + std::string(1, '\0') + "y\r\n",
       "is not an INI file (line 2 holds the control byte 0x00)"},
      {"[Параметры]\r\nСтрока1=x\r\nrandom words\r\n",
       "is not an INI file (line 3 is no [section], key=value or comment)"},
  };
  for (const Case& c : cases) {
    write(c.text);
    TSettingsRead read = readSettings(path_);
    EXPECT_EQ(read.Problem, c.problem) << c.text;
    if (!c.problem.empty()) {
      EXPECT_EQ(read.Lines, TNotFoundLines{});
    }
  }
  std::filesystem::remove(path_);
  std::filesystem::create_directory(path_);
  TSettingsRead read = readSettings(path_);
  EXPECT_EQ(read.Problem, "cannot be read (not a regular file)");
  EXPECT_EQ(settingsNotice(path_, read),
            "settings file '" + path_ +
                "' cannot be read (not a regular file); using the default "
                "not-found lines \"Not found\" / \"Not found\"");
}

TEST(SettingsPath, IsTheProgramsPathWithIni) {
  EXPECT_EQ(settingsPathFor("/opt/kavrin/kavrin"), "/opt/kavrin/kavrin.ini");
  EXPECT_EQ(settingsPathFor("/opt/kavrin/Kavrin.exe"), "/opt/kavrin/Kavrin.ini");
  EXPECT_EQ(settingsPathFor("kavrin"), "kavrin.ini");
  EXPECT_NE(programPath("fallback"), "fallback");
}

}  // namespace
}  // namespace mirelo

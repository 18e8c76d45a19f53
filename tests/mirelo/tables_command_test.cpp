// "mirelo tables" against a simulated terminal: list, show, export, import and
// the table files between them.
#include <gtest/gtest.h>

#include <algorithm>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

class TablesCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    pointAtSimulator();
    sim_.clearJournal();
  }
  size_t count(uint8_t command) const {
    std::vector<uint8_t> commands = commandsReceived();
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
  }
  std::vector<termsim::TableDef> tables() const { return sim_.state().tables; }
  // The file export writes, with one line replaced (Windows-1251 text).
  std::string exportedWith(const std::string& from, const std::string& to) {
    std::string file = path("exported.ini");
    Result r = mirelo({"tables", "export", file});
    EXPECT_EQ(r.code, 0) << r.err;
    std::string text = readFile(file);
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return writeFile("changed.ini", text);
  }
};

TEST_F(TablesCommandTest, ListsTheTablesUpToTheTerminals211) {
  Result r = mirelo({"tables", "list"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            (std::vector<std::string>{
                format("%3s  %-40s  %4s  %6s", "No", "Name", "Rows", "Fields"),
                utf8(format("%3d  %-40s  %4d  %6d", 0, "Сетевые параметры", 1, 8).c_str()),
                utf8(format("%3d  %-40s  %4d  %6d", 1, "Экран", 1, 5).c_str()),
                utf8(format("%3d  %-40s  %4d  %6d", 2, "Коды товаров", 4, 10).c_str()),
                utf8(format("%3d  %-40s  %4d  %6d", 3, "Пароли", 2, 3).c_str()), "4 tables."}));
  EXPECT_EQ(count(0x2D), 5u) << "four tables and the number that answers 211";
}

TEST_F(TablesCommandTest, ShowsOneTablesFields) {
  Result r = mirelo({"tables", "show", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 7u);
  EXPECT_EQ(r.out[0], utf8("Table 1 (Экран): 1 rows, 5 fields a row"));
  EXPECT_EQ(r.out[2], utf8(format("%3d  %5d  %-30s  %-8s  %-25s  %s", 0, 0, "Яркость", "число",
                                  "0 .. 15", "8")
                               .c_str()));
  EXPECT_EQ(r.out[5], utf8(format("%3d  %5d  %-30s  %-8s  %-25s  %s", 0, 3, "Строка 1", "строка",
                                  "30 bytes", "Отсканируйте                  ")
                               .c_str()));
  r = mirelo({"tables", "show", "9"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "mirelo: the terminal has no table 9 (it has 4 tables, numbered from 0)\n");
  EXPECT_EQ(mirelo({"tables", "show"}).code, 2);
  EXPECT_EQ(mirelo({"tables", "show", "256"}).code, 2);
}

TEST_F(TablesCommandTest, ExportsEveryTableInTheTableFileFormat) {
  std::string file = path("shop.ini");
  Result r = mirelo({"tables", "export", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{
                       format("Saved 4 tables (%d fields) to %s", 8 + 5 + 40 + 6, file.c_str())});
  std::string text = readFile(file);
  EXPECT_TRUE(text.starts_with("[Таблица1]\r\nПоле01=127.0.0.1\r\nПоле02=255.0.0.0\r\n"))
      << text.substr(0, 80);
  EXPECT_NE(text.find("[Таблица2]\r\nПоле01=8\r\nПоле02=5\r\nПоле03=10\r\n"), std::string::npos);
  // Row 0's fields, then row 1's: the third table's 40 keys in one section.
  EXPECT_NE(text.find("Поле40="), std::string::npos);
  EXPECT_NE(text.find("Поле11=2\r\n"), std::string::npos) << "row 1 starts at the eleventh key";
  EXPECT_EQ(text.find("Поле41="), std::string::npos);
  EXPECT_NE(text.find("[Таблица4]"), std::string::npos);
  EXPECT_EQ(text.find("[Таблица5]"), std::string::npos);
}

TEST_F(TablesCommandTest, ImportingAnExportChangesNoByte) {
  std::vector<termsim::TableDef> before = tables();
  std::string file = path("shop.ini");
  ASSERT_EQ(mirelo({"tables", "export", file}).code, 0);
  sim_.clearJournal();
  Result r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{format("Wrote 4 tables from %s to ", file.c_str()) +
                                            utf8("№ 1 Без названия") +
                                            format(" (127.0.0.1:%u UDP)", sim_.port())});
  EXPECT_EQ(count(0xBC), 4u);
  std::vector<termsim::TableDef> after = tables();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(after[i].data, before[i].data) << "table " << i;
}

TEST_F(TablesCommandTest, ImportWritesAChangedValue) {
  std::string file = exportedWith("[Таблица2]\r\nПоле01=8\r\n", "[Таблица2]\r\nПоле01=12\r\n");
  Result r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(tables()[1].number(0, 0), 12u);
}

TEST_F(TablesCommandTest, AValueThatFailsNamesTableAndFieldAndNothingIsWritten) {
  std::vector<termsim::TableDef> before = tables();
  std::string file = exportedWith("[Таблица2]\r\nПоле01=8\r\n", "[Таблица2]\r\nПоле01=99\r\n");
  sim_.clearJournal();
  Result r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(
      r.err.starts_with(utf8("mirelo: table 1 (Экран), row 0, field 0 (Яркость), value '99'; "
                             "nothing was written: (-199) ")))
      << r.err;
  EXPECT_EQ(count(0xBC), 0u);
  EXPECT_EQ(tables()[1].data, before[1].data);

  file = exportedWith("Поле01=127.0.0.1", "Поле01=127.0.0.300");
  r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(
      r.err.starts_with(utf8("mirelo: table 0 (Сетевые параметры), row 0, field 0 (IP адрес), "
                             "value '127.0.0.300'; nothing was written: (-")))
      << r.err;
  EXPECT_EQ(count(0xBC), 0u);
}

TEST_F(TablesCommandTest, FewerOrMoreSectionsAndKeysApplyByPositionAndAreTold) {
  std::vector<termsim::TableDef> before = tables();
  // Section names do not count; the second section has one key too many.
  std::string file =
      writeFile("short.ini",
                "[Anything]\r\nA=127.0.0.1\r\n[Second]\r\nПоле01=3\r\nПоле02=7\r\nПоле03=11\r\n"
                "Поле04=a\r\nПоле05=b\r\nПоле06=extra\r\n");
  Result r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 4u);
  EXPECT_EQ(r.out[0],
            "Note: the file has 2 sections for 4 tables; the last 2 keep the terminal's values.");
  EXPECT_EQ(r.out[1], "Note: section [Anything] for " + utf8("table 0 (Сетевые параметры)") +
                          " has 1 values for 8 fields; the last 7 keep the terminal's values.");
  EXPECT_EQ(r.out[2], "Note: section [Second] for " + utf8("table 1 (Экран)") +
                          " has 6 values for 5 fields; the last 1 are ignored.");
  std::vector<termsim::TableDef> after = tables();
  EXPECT_EQ(after[0].data, before[0].data) << "its one key holds the value it had";
  EXPECT_EQ(after[1].number(0, 0), 3u);
  EXPECT_EQ(after[1].number(0, 2), 11u);
  EXPECT_EQ(after[1].text(0, 3), std::string("a") + std::string(29, '\0'));
  EXPECT_EQ(after[2].data, before[2].data);
  EXPECT_EQ(after[3].data, before[3].data);

  std::string text = readFile(file) + "[T3]\r\n[T4]\r\n[T5]\r\nПоле01=1\r\n";
  r = mirelo({"tables", "import", writeFile("long.ini", text)});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.at(0), "Note: the file has 5 sections for 4 tables; the last 1 are ignored.");
}

TEST_F(TablesCommandTest, AFileThatCannotBeUsedSendsNothing) {
  std::string missing = path("missing.ini");
  Result r = mirelo({"tables", "import", missing});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "mirelo: cannot open the table file '" + missing + "': No such file or directory\n");
  std::string nowhere = path("no/such/folder/shop.ini");
  r = mirelo({"tables", "export", nowhere});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.starts_with("mirelo: cannot write the table file '" + nowhere + "': folder '"))
      << r.err;
  r = mirelo({"tables", "export", dir().string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "mirelo: cannot write the table file '" + dir().string() + "': it is a folder\n");
  EXPECT_EQ(sim_.requests(), 0u);
  EXPECT_EQ(mirelo({"tables"}).code, 2);
  EXPECT_EQ(mirelo({"tables", "drop"}).code, 2);
  EXPECT_EQ(mirelo({"tables", "import"}).code, 2);
}

TEST_F(TablesCommandTest, AFailedWriteNamesTheTable) {
  std::string file = path("shop.ini");
  ASSERT_EQ(mirelo({"tables", "export", file}).code, 0);
  failCommand(0xBC, termsim::DeviceError::TableParameter);
  Result r = mirelo({"tables", "import", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err,
      utf8("mirelo: writing table 0 (the tables before it were written): (220) Ошибка параметра "
           "таблицы настроек.\n"));
}

}  // namespace
}  // namespace mirelo::test

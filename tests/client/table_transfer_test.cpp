// Settings tables moved between a terminal and a catalogue through the
// automation interface.
#include "client/table_transfer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "outcome.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

class TableTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.start();
    host.aim(sim.port(), ptUDP);
  }
  std::vector<std::string> tableData() {
    return sim.withState([](termsim::TerminalState& s) {
      std::vector<std::string> data;
      for (const auto& table : s.tables) data.push_back(table.data);
      return data;
    });
  }
  size_t requestsOf(uint8_t command) {
    size_t n = 0;
    for (const auto& entry : sim.journal())
      if (!entry.bytes.empty() && static_cast<uint8_t>(entry.bytes[0]) == command) ++n;
    return n;
  }

  test::ScratchRegistry registry;
  termsim::Simulator sim;
  test::Host host;
  TTables tables;
};

TEST_F(TableTransfer, TheListEndsAtTheFirst211) {
  ReadTableList(*host.object, tables);
  ASSERT_EQ(tables.Count(), 4);
  EXPECT_EQ(requestsOf(0x2D), 5u) << "four tables, then the 211 that ends the list";
  EXPECT_EQ(tables.Items(2)->Name(), "Коды товаров");
  EXPECT_EQ(tables.Items(2)->RowCount(), 4);
  EXPECT_EQ(tables.Items(2)->FieldCount(), 10);
  EXPECT_FALSE(host.get("ClientConnected").toBool()) << "disconnected afterwards";
}

TEST_F(TableTransfer, ReadingAllTablesGivesTheTerminalsValuesRowByRow) {
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  TTable& codes = *tables.Items(2);
  ASSERT_EQ(codes.Fields().Count(), 40);
  EXPECT_EQ(codes.Fields().Items(0)->Value(), "1");
  EXPECT_EQ(codes.Fields().Items(1)->Value(), "4600");
  EXPECT_EQ(codes.Fields().Items(10)->Row(), 1) << "row 0's fields first";
  EXPECT_EQ(codes.Fields().Items(11)->Value(), "4601");
  EXPECT_EQ(codes.Fields().Items(8)->Value(), "127.0.0.10");
  // A string field of 5 bytes or more reads as all its bytes, zeros included.
  EXPECT_EQ(tables.Items(0)->Fields().Items(7)->Value(),
            std::string("Vistel") + std::string(10, '\0'));
  TTable& users = *tables.Items(3);
  EXPECT_EQ(users.Fields().Items(5)->Value(), "Кассир");
}

TEST_F(TableTransfer, AReadAndWriteBackChangesNoByte) {
  auto before = tableData();
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  sim.clearJournal();
  ASSERT_EQ(host.call("Connect"), 0);
  WriteAllTables(*host.object, tables);
  EXPECT_EQ(requestsOf(0xBC), 4u);
  EXPECT_EQ(tableData(), before);
}

TEST_F(TableTransfer, AFailingValueStopsTheWriteAfterTheEarlierTables) {
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  tables.Items(0)->Fields().Items(3)->SetValue("1003");  // a change that is written
  tables.Items(1)->Fields().Items(0)->SetValue("99");    // Яркость is 0..15
  tables.Items(2)->Fields().Items(1)->SetValue("4700");  // never reached
  ASSERT_EQ(host.call("Connect"), 0);
  ResultOf result = test::outcome([&] { WriteAllTables(*host.object, tables); });
  EXPECT_EQ(result.code, -199);
  EXPECT_NE(result.text.find("15"), std::string::npos) << result.text;
  auto state = sim.state();
  EXPECT_EQ(state.tables[0].number(0, 3), 1003u);
  EXPECT_EQ(state.tables[1].number(0, 0), 8u);
  EXPECT_EQ(state.tables[2].number(0, 1), 4600u);
}

TEST_F(TableTransfer, FieldsWithoutValuesComeFromTheTerminal) {
  ReadTableList(*host.object, tables);
  ASSERT_EQ(host.call("Connect"), 0);
  ReadAllTableFields(*host.object, tables);
  EXPECT_EQ(tables.Items(3)->Fields().Count(), 6);
  EXPECT_EQ(tables.Items(3)->Fields().Items(2)->Name(), "Имя");
  EXPECT_EQ(tables.Items(3)->Fields().Items(2)->Value(), "");
}

TEST_F(TableTransfer, AFailureOfTheTerminalIsTheDriversCodeAndText) {
  termsim::Faults faults;
  faults.errorFor[0xBD] = 217;
  sim.setFaults(faults);
  ReadTableList(*host.object, tables);
  ResultOf result = test::outcome([&] { ReadAllTables(*host.object, tables); });
  EXPECT_EQ(result.code, 217);
  EXPECT_EQ(result.text, "Невозможно выполнить операцию.");
  EXPECT_FALSE(host.get("ClientConnected").toBool()) << "disconnected after the failure too";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST_F(TableTransfer, ASavedCatalogueHasOneSectionPerTableAndFieldsInRowOrder) {
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  std::string path = registry.path("tables.ini");
  tables.SaveToFile(path);
  std::string text = readFile(path);
  size_t users = text.find("[Таблица4]\r\n");
  ASSERT_NE(users, std::string::npos);
  EXPECT_EQ(text.substr(users),
            "[Таблица4]\r\nПоле01=30\r\nПоле02=3\r\nПоле03=Админ\r\n"
            "Поле04=1\r\nПоле05=1\r\nПоле06=Кассир\r\n");
  EXPECT_NE(text.find("[Таблица1]\r\nПоле01=127.0.0.1\r\n"), std::string::npos);
  EXPECT_NE(text.find("Поле08=Vistel\r\n"), std::string::npos) << "no zero bytes in the file";
  EXPECT_NE(text.find("Поле40="), std::string::npos);
  // The raw bytes of a 5-byte number cannot stand on a line as they are.
  EXPECT_NE(text.find("Поле05=#hex:0504030201\r\n"), std::string::npos);
}

TEST_F(TableTransfer, ReadSaveLoadWriteChangesNoByte) {
  auto before = tableData();
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  std::string path = registry.path("tables.ini");
  tables.SaveToFile(path);
  TTables loaded;
  ReadTableList(*host.object, loaded);
  ReadAllTables(*host.object, loaded);
  loaded.LoadFromFile(path);
  ASSERT_EQ(host.call("Connect"), 0);
  WriteAllTables(*host.object, loaded);
  EXPECT_EQ(tableData(), before);
}

TEST_F(TableTransfer, LoadingAppliesByPositionAndIgnoresWhatDoesNotFit) {
  ReadTableList(*host.object, tables);
  ReadAllTables(*host.object, tables);
  std::string path = registry.path("short.ini");
  // The names are not compared; only positions count. Only two sections.
  writeFile(path,
            "[Whatever]\r\nПоле01=127.0.0.5\r\n\r\n[Таблица9]\r\na=9\r\nb=6\r\nc=7\r\nd=Привет"
            "\r\ne=Строка 2\r\nextra=1\r\nmore=2\r\nno equals sign\r\n");
  tables.LoadFromFile(path);
  EXPECT_EQ(tables.Items(0)->Fields().Items(0)->Value(), "127.0.0.5");
  EXPECT_EQ(tables.Items(0)->Fields().Items(1)->Value(), "255.0.0.0") << "not in the file: as read";
  EXPECT_EQ(tables.Items(1)->Fields().Items(0)->Value(), "9");
  EXPECT_EQ(tables.Items(1)->Fields().Items(4)->Value(), "Строка 2");
  EXPECT_EQ(tables.Items(1)->Fields().Count(), 5) << "extra keys are ignored";
  EXPECT_EQ(tables.Items(3)->Fields().Items(2)->Value(), std::string("Админ\0", 6))
      << "no section: as read";
  TTables empty;
  EXPECT_NO_THROW(empty.LoadFromFile(registry.path("missing.ini")));
}

}  // namespace
}  // namespace mirelo

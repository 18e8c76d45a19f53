// The table dialogs against the simulated terminal's tables.
#include <QKeyEvent>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "driver/dialogs/fm_tables.h"
#include "tests/dialogs/dialog_fixture.h"

namespace mirelo::test {
namespace {

class TablesTest : public DialogTest {
 protected:
  TablesTest() {
    // A table of 2 rows of 3 fields.
    terminal.withState([](termsim::TerminalState& state) {
      termsim::TableDef small;
      small.name = "Small";
      small.rows = 2;
      for (const char* name : {"A", "B", "C"})
        small.fields.push_back({name, termsim::FieldType::Number, 1, 0, 255});
      small.data.assign(small.dataSize(), '\x07');
      state.tables = {small};
    });
    tables = std::make_unique<TfmTables>(nullptr, *object.get());
    tables->ReadList();
  }
  std::unique_ptr<TfmTables> tables;
};

TEST_F(TablesTest, ATableShowsItsFieldsAndOnlyTheValuesCanBeSelected) {
  ASSERT_EQ(tables->ListView->topLevelItemCount(), 1);
  TfmTable table(tables.get(), *object.get(), *tables->Tables().Items(0));
  table.Read();
  ASSERT_EQ(table.Grid->rowCount(), 6);
  for (int row = 0; row < 6; ++row)
    EXPECT_EQ(table.Grid->item(row, 0)->text(), QString::number(row + 1));
  table.Grid->setCurrentCell(3, 2);
  table.Grid->setCurrentCell(1, 1);
  EXPECT_EQ(table.Grid->currentColumn(), 2);
  EXPECT_EQ(table.Grid->currentRow(), 3);
  EXPECT_EQ(table.Panels[1]->text(), q(u"Мин.: 0"));

  // 300 in 0..255: the range text, the grid on that row, nothing written.
  table.Grid->item(4, 2)->setText(QStringLiteral("300"));
  table.Write();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].indexOf(QStringLiteral("255")), -1) << errors[0].toStdString();
  EXPECT_EQ(table.Grid->currentRow(), 4);
  EXPECT_EQ(sent(0xBC), 0u);
  table.Grid->item(4, 2)->setText(QStringLiteral("200"));
  table.Write();
  EXPECT_EQ(sent(0xBC), 1u);
  EXPECT_EQ(terminal.state().tables[0].number(1, 1), 200u);
}

TEST_F(TablesTest, EnterOpensATableAndATableWithoutRowsOpensEmpty) {
  std::vector<std::string> opened;
  tables->showTable = [&](TfmTables&, TTable& table) { opened.push_back(table.Name()); };
  tables->ListView->setFocus();
  QTest::keyClick(tables->ListView, Qt::Key_Return);
  EXPECT_EQ(opened, std::vector<std::string>{"Small"});

  // A table without rows: the terminal's reply to reading it is refused,
  // and nothing is indexed or written.
  terminal.withState([](termsim::TerminalState& state) {
    termsim::TableDef empty;
    empty.name = "Empty";
    empty.rows = 0;
    empty.fields.push_back({"X", termsim::FieldType::Number, 1, 0, 9});
    state.tables.push_back(empty);
  });
  tables->ReadList();
  TfmTable table(tables.get(), *object.get(), *tables->Tables().Items(1));
  table.Read();
  EXPECT_EQ(table.Grid->rowCount(), 0);
  table.Write();
  EXPECT_EQ(sent(0xBC), 0u);
}

TEST_F(TablesTest, AFailedRefreshLeavesTheListAsTheCatalogue) {
  termsim::Faults faults;
  faults.errorFor[0x2D] = 2;
  terminal.setFaults(faults);
  tables->Refresh();
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(tables->ListView->topLevelItemCount(), tables->Tables().Count());
  EXPECT_TRUE(tables->btnRefresh->isEnabled());
}

TEST_F(TablesTest, ALoadWithABadValueWritesNothingAndEveryFailureDisconnects) {
  aim(ptTCP);
  char pattern[] = "/tmp/mirelo-tables-XXXXXX";
  std::string folder = mkdtemp(pattern);
  std::ofstream(folder + "/bad.ini") << "[Table1]\nA=1\nB=2\nC=300\n";
  fileAnswer = QString::fromStdString(folder + "/bad.ini");
  tables->Load();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(sent(0xBC), 0u) << "the terminal is untouched";
  EXPECT_TRUE(QTest::qWaitFor([&] { return terminal.tcpConnections() == 0; }, 5000));

  std::ofstream(folder + "/good.ini") << "[Table1]\nA=1\nB=2\nC=3\n";
  fileAnswer = QString::fromStdString(folder + "/good.ini");
  tables->Load();
  EXPECT_EQ(errors.size(), 1u) << errors.back().toStdString();
  EXPECT_EQ(sent(0xBC), 1u);
  EXPECT_EQ(terminal.state().tables[0].number(0, 2), 3u);
  EXPECT_EQ(terminal.state().tables[0].number(1, 2), 7u) << "not in the file: kept";

  termsim::Faults faults;
  faults.errorFor[0xA8] = 2;
  terminal.setFaults(faults);
  tables->Init();
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return terminal.tcpConnections() == 0; }, 5000));
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace mirelo::test

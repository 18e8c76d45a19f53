// mirelo tables: a terminal's settings tables through the driver's table
// transfer (the automation interface, as the table dialogs use it) and table
// files in the dialogs' format, so files move between the two freely.
#include "client/table_transfer.h"
#include "driver/errors/driver_error.h"
#include "driver/tables/table_records.h"
#include "driver/tables/tables.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/ini_file.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/file_checks.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

const char* const kTablesHelp = R"HELP(Usage: mirelo tables [--device N] list
       mirelo tables [--device N] show TABLE
       mirelo tables [--device N] export FILE
       mirelo tables [--device N] import FILE

The terminal's settings tables.

  list         every table: its number, name, rows and fields
  show TABLE   the fields of table number TABLE (as 'list' numbers them)
               with their types, ranges and values
  export FILE  reads every table and saves the values in a table file
  import FILE  reads every table, lays the values of FILE over them and
               writes every table back to the terminal

A table file is an INI file in Windows-1251, the one the driver's table
dialog opens and saves: section [Таблица1] holds the first table of the
terminal, [Таблица2] the second, and so on; within a section the keys
Поле01, Поле02, ... hold the table's fields in order (row 0's fields, then
row 1's). Sections and keys match by position only: import applies the
file's first section to the terminal's first table whatever the names say.
Tables or fields the file does not reach keep the terminal's values, and
sections or keys beyond the terminal's tables are ignored; import says so.

Before import writes anything, every value is checked as the driver checks
it; a value that fails stops the import, naming the table and the field,
and nothing is written.

--device N uses logical device N instead of the current one.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), a value failed, or FILE could not be used;
2 bad usage.

Examples:
  mirelo tables list
  mirelo tables show 0
  mirelo tables export shop-17.ini
  mirelo tables import shop-17.ini
)HELP";

namespace {

// Windows-1251 text for a column or a line, as UTF-8 with control
// characters escaped; a string field's padding zeros are not shown.
std::string shown(const std::string& text) {
  return escapeText(ansiToWide(std::string_view(text).substr(0, text.find('\0'))));
}

std::string tableTitle(const TTable& table) {
  return format("table %d (", table.Number()) + shown(table.Name()) + ")";
}

void readCatalogue(DriverSession& session, TTables& tables) {
  try {
    ReadTableList(session.object(), tables);
  } catch (const std::exception& error) {
    throw failureOf(error).within("reading the list of tables");
  }
}

void readAll(DriverSession& session, TTables& tables) {
  try {
    ReadAllTables(session.object(), tables);
  } catch (const std::exception& error) {
    throw failureOf(error).within("reading the tables");
  }
}

int listTables(const CommandContext& context, DriverSession& session) {
  TTables tables;
  readCatalogue(session, tables);
  const char* const row = "%3s  %-40s  %4s  %6s";
  context.out << format(row, "No", "Name", "Rows", "Fields") << '\n';
  for (TTable* table : tables)
    context.out << format("%3d  ", table->Number()) +
                       ansiToUtf8(format("%-40s", table->Name().c_str())) +
                       format("  %4d  %6d", table->RowCount(), table->FieldCount())
                << '\n';
  context.out << format("%d tables.", tables.Count()) << '\n';
  context.out.flush();
  return 0;
}

int showTable(const CommandContext& context, DriverSession& session, int32_t number) {
  TTables tables;
  readCatalogue(session, tables);
  TTable* table = nullptr;
  for (TTable* candidate : tables)
    if (candidate->Number() == number) table = candidate;
  if (!table)
    throw std::runtime_error(
        format("the terminal has no table %d (it has %d tables, numbered from 0)", number,
               tables.Count()));
  try {
    ReadOneTable(session.object(), *table);
  } catch (const std::exception& error) {
    throw failureOf(error).within("reading " + tableTitle(*table));
  }
  context.out << format("Table %d (", table->Number()) << shown(table->Name()) << ")"
              << format(": %d rows, %d fields a row", table->RowCount(), table->FieldCount())
              << '\n';
  const char* const header = "%3s  %5s  %-30s  %-8s  %-25s  %s";
  context.out << format(header, "Row", "Field", "Name", "Type", "Range", "Value") << '\n';
  for (TField* field : table->Fields()) {
    std::string range = field->FieldType() == ftString
                            ? format("%d bytes", field->Size())
                            : field->MinValueStr() + " .. " + field->MaxValueStr();
    context.out << format("%3d  %5d  ", field->Row(), field->Number())
                << ansiToUtf8(format("%-30s  %-8s  %-25s  ", field->Name().c_str(),
                                     fieldTypeName(field->FieldType()).c_str(), range.c_str()))
                << shown(field->Value()) << '\n';
  }
  context.out.flush();
  return 0;
}

int exportTables(const CommandContext& context, DriverSession& session, const std::string& path) {
  requireWritableFile(path, "table file");
  TTables tables;
  readCatalogue(session, tables);
  readAll(session, tables);
  tables.SaveToFile(path);
  int fields = 0;
  for (TTable* table : tables) fields += table->Fields().Count();
  context.out << format("Saved %d tables (%d fields) to %s", tables.Count(), fields, path.c_str())
              << '\n';
  context.out.flush();
  return 0;
}

// What a file does not match, told before the write: position is all that
// counts, so a file from a terminal laid out differently shows here.
void reportCoverage(const CommandContext& context, TTables& tables, const std::string& path) {
  IniFile file(path);
  std::vector<std::string> sections = file.ReadSections();
  int count = tables.Count();
  if (static_cast<int>(sections.size()) < count)
    context.out << format(
                       "Note: the file has %d sections for %d tables; the last %d keep the "
                       "terminal's values.",
                       static_cast<int>(sections.size()), count,
                       count - static_cast<int>(sections.size()))
                << '\n';
  if (static_cast<int>(sections.size()) > count)
    context.out << format("Note: the file has %d sections for %d tables; the last %d are ignored.",
                          static_cast<int>(sections.size()), count,
                          static_cast<int>(sections.size()) - count)
                << '\n';
  for (int i = 0; i < count && i < static_cast<int>(sections.size()); ++i) {
    TTable& table = *tables.Items(i);
    int lines = static_cast<int>(file.ReadSection(sections[static_cast<size_t>(i)]).size());
    int fields = table.Fields().Count();
    if (lines == fields) continue;
    context.out << "Note: section [" << ansiToUtf8(sections[static_cast<size_t>(i)]) << "] for "
                << tableTitle(table) << format(" has %d values for %d fields; ", lines, fields)
                << (lines < fields
                        ? format("the last %d keep the terminal's values.", fields - lines)
                        : format("the last %d are ignored.", lines - fields))
                << '\n';
  }
}

// The values of every table, in catalogue and field-list order.
std::vector<std::vector<std::string>> valuesOf(TTables& tables) {
  std::vector<std::vector<std::string>> values;
  for (TTable* table : tables) {
    values.emplace_back();
    for (TField* field : table->Fields()) values.back().push_back(field->Value());
  }
  return values;
}

// Every value the file changed, checked as SetFieldValue checks it, before
// anything is written: a value that fails names its table and field. A value
// equal to the terminal's own is written back as the bytes it came from, so
// it needs no check (a 5- or 6-byte number's value is those bytes, no integer
// text).
void validateChanges(TTables& tables, const std::vector<std::vector<std::string>>& terminalValues) {
  for (int i = 0; i < tables.Count(); ++i) {
    TTable& table = *tables.Items(i);
    const std::vector<std::string>& before = terminalValues.at(static_cast<size_t>(i));
    for (int j = 0; j < table.Fields().Count(); ++j) {
      TField& field = *table.Fields().Items(j);
      if (field.Value() == before.at(static_cast<size_t>(j))) continue;
      TFieldRec copy = field.Rec();
      try {
        encodeFieldValue(copy);
      } catch (const std::exception& error) {
        throw failureOf(error).within(
            tableTitle(table) + format(", row %d, field %d (", field.Row(), field.Number()) +
            shown(field.Name()) + "), value '" + shown(field.Value()) + "'; nothing was written");
      }
    }
  }
}

int importTables(const CommandContext& context, DriverSession& session, const std::string& path) {
  requireReadableFile(path, "table file");
  TTables tables;
  readCatalogue(session, tables);
  readAll(session, tables);
  reportCoverage(context, tables, path);
  std::vector<std::vector<std::string>> terminalValues = valuesOf(tables);
  tables.LoadFromFile(path);
  validateChanges(tables, terminalValues);
  TerminalConnection connection(session, std::nullopt);
  try {
    WriteAllTables(session.object(), tables);
  } catch (const std::exception& error) {
    // The object's current table is the one being written.
    int32_t table = session.readInt(&IVistel4::get_TableNumber);
    throw failureOf(error).within(
        format("writing table %d (the tables before it were written)", table));
  }
  connection.close();
  context.out << format("Wrote %d tables from %s to ", tables.Count(), path.c_str())
              << connection.summary() << '\n';
  context.out.flush();
  return 0;
}

int tablesCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, kTablesHelp);
  if (line.positional().empty()) throw UsageError("missing action (list, show, export, import)");
  const std::string action = line.positional()[0];
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  if (action == "list") {
    line.requirePositional(1, 1, "");
    DriverSession session;
    session.useDevice(device);
    return listTables(context, session);
  }
  if (action == "show") {
    line.requirePositional(2, 2, "the table number");
    int32_t number = parseBounded(line.positional()[1], 0, 255, "the table number");
    DriverSession session;
    session.useDevice(device);
    return showTable(context, session, number);
  }
  if (action == "export" || action == "import") {
    line.requirePositional(2, 2, "the table file");
    const std::string& path = line.positional()[1];
    DriverSession session;
    session.useDevice(device);
    return action == "export" ? exportTables(context, session, path)
                              : importTables(context, session, path);
  }
  throw UsageError("unknown action '" + action + "' (list, show, export, import)");
}

}  // namespace

int runTablesCommand(const CommandContext& context) {
  return runGuarded(context, "tables", [&] { return tablesCommand(context); });
}

}  // namespace mirelo::shell

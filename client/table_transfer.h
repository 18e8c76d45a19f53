#pragma once
// Moving settings tables between a terminal, a catalogue (TTables) and
// table files. Every transfer goes through the driver's automation
// interface, the same members a host uses, so it exercises exactly the
// public behaviour. Each operation raises EDriverError with the driver's
// code and text when a member reports a failure.
#include "driver/tables/tables.h"
#include "mirelo/vistel.h"

namespace mirelo {

// 0 returns; any other code raises with ResultCodeDescription.
void CheckResult(IVistel4& driver, LONG code);

// Connects, lists the terminal's tables (up to the first 211), disconnects.
void ReadTableList(IVistel4& driver, TTables& tables);
// The field list of one table with values; the caller holds the connection.
void ReadTableValues(IVistel4& driver, TTable& table);
void ReadOneTable(IVistel4& driver, TTable& table);
void ReadAllTables(IVistel4& driver, TTables& tables);
// The field list of one table without values, asked of the terminal.
void ReadTableFields(IVistel4& driver, TTable& table);
void ReadAllTableFields(IVistel4& driver, TTables& tables);
// Writes every table's values; stops at the first failure (earlier tables
// are written). The caller holds the connection.
// onTable, when given, is told each table before it is written.
void WriteAllTables(IVistel4& driver, TTables& tables);

}  // namespace mirelo

#include "client/table_transfer.h"

#include "client/call_failure.h"
#include "driver/errors/driver_error.h"
#include "platform/cp1251.h"

namespace mirelo {

namespace {

constexpr LONG kNoSuchTable = 211;

LONG get(IVistel4& driver, HRESULT (IVistel4::*getter)(LONG*)) {
  LONG value = 0;
  HRESULT hr = (driver.*getter)(&value);
  checkCall(hr);
  return value;
}

std::string getText(IVistel4& driver, HRESULT (IVistel4::*getter)(BSTR*)) {
  BSTR value;
  HRESULT hr = (driver.*getter)(&value);
  checkCall(hr);
  return wideToAnsi(value);
}

void put(IVistel4& driver, HRESULT (IVistel4::*setter)(LONG), LONG value) {
  HRESULT hr = (driver.*setter)(value);
  checkCall(hr);
}

LONG call(IVistel4& driver, HRESULT (IVistel4::*method)(LONG*)) {
  return get(driver, method);
}

// Disconnects on every path once connected.
template <class Body>
void connected(IVistel4& driver, Body body) {
  CheckResult(driver, call(driver, &IVistel4::Connect));
  try {
    body();
  } catch (...) {
    call(driver, &IVistel4::Disconnect);
    throw;
  }
  call(driver, &IVistel4::Disconnect);
}

// The field list of a table, row by row; getFields asks for each field.
template <class Each>
void readFields(IVistel4& driver, TTable& table, Each each) {
  table.Fields().Clear();
  for (int row = 0; row < table.RowCount(); ++row) {
    for (int number = 0; number < table.FieldCount(); ++number) {
      put(driver, &IVistel4::put_RowNumber, row);
      put(driver, &IVistel4::put_FieldNumber, number);
      CheckResult(driver, each());
      TFieldRec rec;
      rec.Row = static_cast<uint8_t>(row);
      rec.Number = static_cast<uint8_t>(number);
      rec.Name = getText(driver, &IVistel4::get_FieldName);
      rec.FieldType = static_cast<uint8_t>(get(driver, &IVistel4::get_FieldType));
      rec.Size = static_cast<uint8_t>(get(driver, &IVistel4::get_FieldSize));
      rec.MinValue = get(driver, &IVistel4::get_MinValueOfField);
      rec.MaxValue = get(driver, &IVistel4::get_MaxValueOfField);
      rec.MinValueStr = getText(driver, &IVistel4::get_FieldMinValueStr);
      rec.MaxValueStr = getText(driver, &IVistel4::get_FieldMaxValueStr);
      new TField(&table.Fields(), rec);
    }
  }
}

}  // namespace

void CheckResult(IVistel4& driver, LONG code) {
  if (code == 0) return;
  raiseError(code, getText(driver, &IVistel4::get_ResultCodeDescription));
}

void ReadTableList(IVistel4& driver, TTables& tables) {
  connected(driver, [&] {
    tables.Clear();
    for (int number = 0; number <= 0xFF; ++number) {
      put(driver, &IVistel4::put_TableNumber, number);
      LONG code = call(driver, &IVistel4::GetTableStruct);
      if (code == kNoSuchTable) break;
      CheckResult(driver, code);
      TTableRec rec;
      rec.Number = static_cast<uint8_t>(number);
      rec.Name = getText(driver, &IVistel4::get_TableName);
      rec.RowCount = static_cast<uint16_t>(get(driver, &IVistel4::get_RowNumber));
      rec.FieldCount = static_cast<uint8_t>(get(driver, &IVistel4::get_FieldNumber));
      new TTable(&tables, rec);
    }
  });
}

void ReadTableValues(IVistel4& driver, TTable& table) {
  table.Fields().Clear();
  put(driver, &IVistel4::put_TableNumber, table.Number());
  // ReadTable lays the data over the rows and fields of the object's current
  // table; without this it would use whichever table was asked last.
  CheckResult(driver, call(driver, &IVistel4::GetTableStruct));
  CheckResult(driver, call(driver, &IVistel4::ReadTable));
  readFields(driver, table, [&] { return call(driver, &IVistel4::GetFieldParams); });
  // Values follow the structure: each field as GetFieldParams left it.
  int index = 0;
  for (int row = 0; row < table.RowCount(); ++row) {
    for (int number = 0; number < table.FieldCount(); ++number, ++index) {
      put(driver, &IVistel4::put_RowNumber, row);
      put(driver, &IVistel4::put_FieldNumber, number);
      CheckResult(driver, call(driver, &IVistel4::GetFieldParams));
      table.Fields().Items(index)->SetValue(getText(driver, &IVistel4::get_FieldValue));
    }
  }
}

void ReadOneTable(IVistel4& driver, TTable& table) {
  connected(driver, [&] { ReadTableValues(driver, table); });
}

void ReadAllTables(IVistel4& driver, TTables& tables) {
  connected(driver, [&] {
    for (TTable* table : tables) ReadTableValues(driver, *table);
  });
}

void ReadTableFields(IVistel4& driver, TTable& table) {
  put(driver, &IVistel4::put_TableNumber, table.Number());
  readFields(driver, table, [&] { return call(driver, &IVistel4::GetFieldStruct); });
}

void ReadAllTableFields(IVistel4& driver, TTables& tables) {
  for (TTable* table : tables) ReadTableFields(driver, *table);
}

void WriteAllTables(IVistel4& driver, TTables& tables) {
  for (TTable* table : tables) {
    put(driver, &IVistel4::put_TableNumber, table->Number());
    CheckResult(driver, call(driver, &IVistel4::GetTableStruct));
    CheckResult(driver, call(driver, &IVistel4::ReadTable));
    for (TField* field : table->Fields()) {
      put(driver, &IVistel4::put_RowNumber, field->Row());
      put(driver, &IVistel4::put_FieldNumber, field->Number());
      checkCall(driver.put_FieldValue(ansiToWide(field->Value())));
      CheckResult(driver, call(driver, &IVistel4::SetFieldValue));
    }
    CheckResult(driver, call(driver, &IVistel4::WriteTable));
  }
}

}  // namespace mirelo

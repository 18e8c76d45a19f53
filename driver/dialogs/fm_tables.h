#pragma once
// TfmTables and TfmTable: a terminal's settings tables. TfmTables lists the
// tables, initialises them, saves them all to a table file and loads them
// back; TfmTable shows one table's fields and reads or writes their values.
// Both work through the client's table transfer (the object's own members).
//
// Beyond the plain transfers: a load checks every value the file changes
// before anything is written, so a bad value leaves the terminal untouched;
// the connection is closed after every failure; after a failed refresh the
// list shows what the catalogue holds.
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTreeWidget>

#include "driver/dialogs/dialog_support.h"
#include "driver/tables/tables.h"
#include "forms/my_form.h"

namespace mirelo {

class TfmTables : public TMyForm {
  Q_OBJECT
 public:
  TfmTables(QWidget* parent, IVistel4& object);

  QTreeWidget* ListView;
  QPushButton* btnOpen;
  QPushButton* btnInit;
  QPushButton* btnSave;
  QPushButton* btnLoad;
  QPushButton* btnRefresh;
  QPushButton* btnClose;

  TTables& Tables() { return tables_; }
  // Reads the table list from the terminal (raises) and fills the list.
  void ReadList();
  void FillList();

  void Open();
  void Init();
  void Save();
  void Load();
  void Refresh();

  // Opens one table (replaceable for tests).
  std::function<void(TfmTables& owner, TTable& table)> showTable;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs an action with the six buttons disabled; a failure is shown.
  void busy(const std::function<void()>& action);
  // Connect, body, Disconnect, also when the body fails.
  void connected(const std::function<void()>& body);
  // A settings-table file, proposed as Таблицы.ini in the folder used last;
  // empty when the operator cancelled.
  QString chooseTableFile(QFileDialog::AcceptMode mode);

  TVistelAccess driver_;
  TTables tables_;
  QString folder_;
};

class TfmTable : public TMyForm {
  Q_OBJECT
 public:
  TfmTable(QWidget* parent, IVistel4& object, TTable& table);

  QTableWidget* Grid;
  QPushButton* btnRead;
  QPushButton* btnWrite;
  QPushButton* btnClose;
  QStatusBar* StatusBar;
  QLabel* Panels[3];

  void FillGrid();
  void Read();
  void Write();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void busy(const std::function<void()>& action);
  void selectCell(int row, int column, int previousRow);
  void adjustValueColumn();

  TVistelAccess driver_;
  TTable& table_;
};

// Reads the table list (a failure raises before anything is shown), then
// shows TfmTables modally.
void ShowTablesDialog(QWidget* owner, IVistel4& object);
// Reads the table and shows TfmTable modally (a failure raises).
void ShowTableDialog(QWidget* owner, IVistel4& object, TTable& table);

}  // namespace mirelo

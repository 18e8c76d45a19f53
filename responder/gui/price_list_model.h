#pragma once
// The grid's view of the price list: three editable columns under the
// headers "Код", "Строка 1", "Строка 2". Every edit of the grid goes through
// here to the one TPriceList, whose index follows it.
#include <QAbstractTableModel>

#include "responder/price_list.h"

namespace mirelo {

class TPriceListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TPriceListModel(TPriceList& list, QObject* parent = nullptr);

  TPriceList& list() { return list_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The list's edits, announced to the views.
  void appendRow();
  void deleteRow(int row);
  void emptyRow(int row);
  void resetRows(int emptyRows);
  void assign(TPriceList&& list);

 private:
  TPriceList& list_;
};

}  // namespace mirelo

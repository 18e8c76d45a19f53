#include "responder/gui/price_list_model.h"

#include "forms/qt_text.h"

namespace mirelo {

TPriceListModel::TPriceListModel(TPriceList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

int TPriceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.Count());
}

int TPriceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPriceColumnCount;
}

QVariant TPriceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return fromAnsi(list_.Cell(static_cast<size_t>(index.row()), index.column()));
}

bool TPriceListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  list_.SetCell(static_cast<size_t>(index.row()), index.column(), toAnsi(value.toString()));
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant TPriceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char16_t* const captions[kPriceColumnCount] = {u"Код", u"Строка 1", u"Строка 2"};
  if (section < 0 || section >= kPriceColumnCount) return {};
  return QString::fromUtf16(captions[section]);
}

Qt::ItemFlags TPriceListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void TPriceListModel::appendRow() {
  int row = rowCount();
  beginInsertRows({}, row, row);
  list_.Append();
  endInsertRows();
}

void TPriceListModel::deleteRow(int row) {
  beginRemoveRows({}, row, row);
  list_.Delete(static_cast<size_t>(row));
  endRemoveRows();
}

void TPriceListModel::emptyRow(int row) {
  list_.SetRow(static_cast<size_t>(row), {});
  emit dataChanged(index(row, 0), index(row, kPriceColumnCount - 1),
                   {Qt::DisplayRole, Qt::EditRole});
}

void TPriceListModel::resetRows(int emptyRows) {
  beginResetModel();
  list_.Reset(static_cast<size_t>(emptyRows));
  endResetModel();
}

void TPriceListModel::assign(TPriceList&& list) {
  beginResetModel();
  list_ = std::move(list);
  endResetModel();
}

}  // namespace mirelo

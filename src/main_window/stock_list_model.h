#pragma once

#include "stock_rows.h"

#include <QAbstractTableModel>

// The model behind the stock list: one row per stored record, its tag the
// record's id. Texts are turned into QStrings only when a view asks for them,
// which it does for the rows it paints.
class StockListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { LocationColumn, CodeColumn, QtyColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Replaces every row at once: views hear of it once, not once a row.
    void setRows(StockRows rows);

    void insertItem(int row, qint64 tag, const QString &location, const QString &code, const QString &qty);
    // Rewrites a row's three cells; its tag stays.
    void setItem(int row, const QString &location, const QString &code, const QString &qty);
    void removeItem(int row);

    qint64 tag(int row) const;
    QString text(int row, Column column) const;

private:
    StockRows m_rows;
};

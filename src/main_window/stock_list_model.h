#pragma once

#include "main_window/stock_rows.h"
#include "scanning/record_texts.h"

#include <QAbstractTableModel>

// The model behind the stock list: one row per stored record, each with its
// record's id, in ascending id. Texts are turned into QStrings only when a view asks for them,
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

    // Lists a record in its place among the rows, which stay in ascending id; returns its row.
    int insertRecord(qint64 id, const RecordTexts &texts);
    // Rewrites a row's three cells; its id stays.
    void setRecord(int row, const RecordTexts &texts);
    void removeRecord(int row);

    qint64 id(int row) const;
    // The row of the record with this id, or -1.
    int rowOf(qint64 id) const;
    // A row's texts, whole.
    RecordTexts texts(int row) const;

private:
    StockRows m_rows;
};

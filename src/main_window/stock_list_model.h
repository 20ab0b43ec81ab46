#pragma once

#include "main_window/stock_rows.h"
#include "scanning/record_texts.h"
#include "store/store.h"

#include <QAbstractTableModel>

#include <functional>
#include <vector>

// The model behind the stock list: one row per stored record, in ascending id,
// then, on a team station, one per count waiting to reach the server, in the order
// made, marked as waiting. Texts are turned into QStrings only when a view asks
// for them, which it does for the rows it paints.
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
    void setRows(StockRows stored, StockRows waiting);

    // Lists a record in its place, stored among the stored records, waiting after
    // them all; returns its row.
    int insertRecord(RecordKey key, const RecordTexts &texts);
    // Rewrites a row's three cells; its key stays.
    void setRecord(int row, const RecordTexts &texts);
    void removeRecord(int row);
    // A waiting count the server now has: it moves among the stored records,
    // keeping its selection.
    void countStored(qint64 key, qint64 id, const RecordTexts &texts);
    // What other stations stored, changed and deleted, in ascending id: row by row
    // when few, in one pass over the list when many, so that a bulk change costs
    // what the list's length does, not that times the changes.
    void applyChanges(const std::vector<StockChange> &changes);
    // The stored records as the server has them now, read anew: the list keeps
    // what the operator selected, the current row and the rows in view.
    void replaceStored(StockRows fresh);

    RecordKey key(int row) const;
    // The row of the record with this key, or -1.
    int rowOf(RecordKey key) const;
    // A row's texts, whole.
    RecordTexts texts(int row) const;

private:
    int storedRows() const { return static_cast<int>(m_stored.size()); }
    // The rows as a key each, and where a waiting count goes.
    const StockRows &section(int row, std::size_t &position) const;
    // Changes the stored records at once, the views told as of a new order in
    // which each row they hold on to keeps its record.
    void relayout(const std::function<void()> &change);

    StockRows m_stored;
    StockRows m_waiting;
};

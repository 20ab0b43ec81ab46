#pragma once

#include "stock_store.h"

#include <QWidget>

#include <memory>

namespace Ui {
class StockMain;
}
class StockListModel;

// What the main window remembers between scans.
struct ScanState {
    int itemID = 1;        // list position (from 1) of the next new row: the row count + 1
    QString shelfNum;      // the location pieces, as last scanned or set by hand
    QString rowNum;
    QString rackNum;
    qint64 lastID = 0;     // id of the newest record listed; 0 while the table is empty
};

// The main window: the scan boxes, the location labels and the list of every
// stored record.
class StockMain : public QWidget {
    Q_OBJECT

public:
    explicit StockMain(StockStore store, QWidget *parent = nullptr);
    ~StockMain() override;

    enum class LocationPiece { Row, Rack, Shelf };

    const ScanState &scanState() const { return m_scan; }
    const StockStore &store() const { return m_store; }
    StockListModel &listItems() { return *m_listItems; }

    // The list row (from 0) the operator selected, or -1.
    int selectedRow() const;
    // Adds the row of a newly stored record at the end of the list.
    void addItem(qint64 id, const QString &location, const QString &code, const QString &qty);
    // Removes a row whose record was deleted.
    void removeItem(int row);
    // Keeps one piece of the location and shows it in its label as the caption
    // prefix followed by the value.
    void setLocationPiece(LocationPiece piece, const QString &captionPrefix, const QString &value);

private:
    void Form_Load();
    void ListView1_DblClick();
    void Command5_Click();

    std::unique_ptr<Ui::StockMain> ui;
    StockStore m_store;
    StockListModel *m_listItems;
    ScanState m_scan;
};

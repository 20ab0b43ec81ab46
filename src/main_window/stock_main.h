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

    const ScanState &scanState() const { return m_scan; }
    const StockStore &store() const { return m_store; }
    StockListModel &listItems() { return *m_listItems; }

private:
    void Form_Load();

    std::unique_ptr<Ui::StockMain> ui;
    StockStore m_store;
    StockListModel *m_listItems;
    ScanState m_scan;
};

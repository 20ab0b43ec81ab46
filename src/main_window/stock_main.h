#pragma once

#include "stock_store.h"

#include <QWidget>

#include <memory>

namespace Ui {
class StockMain;
}
class QKeyEvent;
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

    // How a scan, a button or the item editor ended, for the sound the operator hears.
    enum class Outcome {
        CountStored,   // a count committed: a quantity scan, Add, the item editor's Save and Delete
        LocationPiece, // a row, rack or shelf label
        LocationDone,  // FINLOC
        NewLocation,   // NEWLOC
        ItemDropped,   // ERROR in the item or quantity box
        ItemCode,      // an item code, on to the quantity box
        NotALocation,  // text in the location box that is no location label
        NotAQuantity,  // text in the quantity box that is no quantity label and not ERROR
    };
    // Plays the outcome's sound.
    void hear(Outcome outcome) const;

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
    // prefix followed by the value; the location box confirms it the same way.
    void setLocationPiece(LocationPiece piece, const QString &captionPrefix, const QString &value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    // The key handlers see every key pressed in their control and act on Enter
    // only (the list on F2 too); the key always goes on to the control unchanged.
    void Text1_KeyPress(const QKeyEvent &key);
    void Text2_KeyPress(const QKeyEvent &key);
    void Text3_KeyPress(const QKeyEvent &key);
    void ListView1_KeyPress(const QKeyEvent &key);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void ListView1_DblClick();

    // Row, rack and shelf joined in this order, whatever order they were scanned in.
    QString locationText() const;
    // Stores one count with the item box's code; only once it is stored does it
    // get its list row, and the boxes are emptied for the next item.
    void storeCount(const QString &quantity);
    // Confirms a stored count or location piece to a screen reader, which
    // speaks the changed description of the focused box.
    static void announce(QWidget *box, const QString &text);

    std::unique_ptr<Ui::StockMain> ui;
    StockStore m_store;
    StockListModel *m_listItems;
    ScanState m_scan;
};

#pragma once

#include "record_texts.h"
#include "scan_rules.h"
#include "scan_sounds.h"
#include "stock_store.h"

#include <QWidget>

#include <memory>

namespace Ui {
class StockMain;
}
class QAccessibleInterface;
class QKeyEvent;
class QLineEdit;
class StockListModel;

// The main window: the scan boxes, the location labels and the list of every
// stored record. It is the only window that reaches the store, the list and the
// sounds: it hands each label to the scan rules and carries out what they decide,
// and it opens the dialogs and carries out what the operator chose in them.
class StockMain : public QWidget {
    Q_OBJECT

public:
    StockMain(StockStore store, SoundOutput playSound, QWidget *parent = nullptr);
    ~StockMain() override;

    // Lists every stored record. False when the store failed; the failure is reported.
    bool loadRecords();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Enter in a scan box: what the label means, carried out.
    void scanEntered(ScanBox box);
    void carryOut(const ScanOutcome &outcome);
    void listKeyPressed(const QKeyEvent &key);

    void addCount();
    void clearItem();
    void exitProgram();
    void showAbout();
    void chooseLocation();
    void editSelectedRecord();

    // Stores a count and, once stored, lists it; false when it could not be stored.
    bool storeCount(const RecordTexts &count);
    void setLocationCaption(LocationPiece piece, const QString &caption);
    // Runs a store operation; a failure is heard, reported, and yields nothing.
    template<typename Operation>
    auto attempt(Operation &&operation);
    void playSound(ScanSound sound) const;

    QLineEdit *box(ScanBox box) const;
    // The list row (from 0) the operator chose, or -1.
    int selectedRow() const;

    std::unique_ptr<Ui::StockMain> ui;
    StockStore m_store;
    SoundOutput m_playSound;
    StockListModel *m_records;
    ScanRules m_rules;
};

// The main window as assistive technology sees it: the program's window, not a pane.
QAccessibleInterface *accessibleStockMain(const QString &className, QObject *object);

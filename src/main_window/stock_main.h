#pragma once

#include "scanning/record_texts.h"
#include "scanning/scan_rules.h"
#include "sound/scan_sounds.h"
#include "store/store.h"

#include <QWidget>

#include <memory>

namespace Ui {
class StockMain;
}
class QAccessibleInterface;
class QKeyEvent;
class QLineEdit;
class QSocketNotifier;
class StockItem;
class StockListModel;

// The main window: the scan boxes, the location labels and the list of every
// stored record. It is the only window that reaches the store, the list and the
// sounds: it hands each label to the scan rules and carries out what they decide,
// and it opens the dialogs and carries out what the operator chose in them.
class StockMain : public QWidget {
    Q_OBJECT

public:
    // dataFolder: where the station keeps stock.mdb, which the About box names.
    StockMain(std::unique_ptr<Store> store, SoundOutput playSound, QString dataFolder, QWidget *parent = nullptr);
    ~StockMain() override;

    // Lists every stored record, and from then on what other stations change. False
    // when the store failed; the failure is reported.
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

    // Stores a count and, once stored, lists it; its list row, or nothing when it could not be stored.
    std::optional<int> storeCount(const RecordTexts &count);
    // Shows a record as it is now, in its place in the list; without texts, takes its row out.
    void showRecord(qint64 id, const std::optional<RecordTexts> &texts);
    // A record deleted elsewhere: said over parent, and its row taken out.
    void recordGone(qint64 id, QWidget *parent);
    // Shows what other stations changed, as far as the server has told.
    void followChanges();
    // A store operation may have brought news of other stations' changes that the
    // socket's watch will not see; they are shown once the handler is done.
    void followChangesLater();
    void setLocationCaption(LocationPiece piece, const QString &caption);
    // Runs a store operation; a failure is heard, reported, and yields nothing.
    template<typename Operation>
    auto attempt(Operation &&operation);
    void playSound(ScanSound sound) const;

    QLineEdit *box(ScanBox box) const;
    // The list row (from 0) the operator chose, or -1.
    int selectedRow() const;

    std::unique_ptr<Ui::StockMain> ui;
    std::unique_ptr<Store> m_store;
    // Watches the store's socket; it goes before the store that owns the socket.
    std::unique_ptr<QSocketNotifier> m_changes;
    SoundOutput m_playSound;
    QString m_dataFolder;
    StockListModel *m_records;
    ScanRules m_rules;
};

// The main window as assistive technology sees it: the program's window, not a pane.
QAccessibleInterface *accessibleStockMain(const QString &className, QObject *object);

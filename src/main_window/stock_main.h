#pragma once

#include "main_window/stock_rows.h"
#include "scanning/record_texts.h"
#include "scanning/scan_rules.h"
#include "sound/scan_sounds.h"
#include "store/store.h"

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class StockMain;
}
class QAccessibleInterface;
class QKeyEvent;
class QLineEdit;
class QSocketNotifier;
class StockListModel;

// The main window: the scan boxes, the location labels, the list of every
// stored record and the line that says where the counts go. It is the only
// window that reaches the store, the list and the sounds: it hands each label to
// the scan rules and carries out what they decide, it opens the dialogs and
// carries out what the operator chose in them, and it follows what a server's
// other stations change.
class StockMain : public QWidget, private StoreObserver {
    Q_OBJECT

public:
    // dataFolder: where the station keeps stock.mdb, which the About box names.
    StockMain(std::unique_ptr<Store> store, SoundOutput playSound, QString dataFolder, QWidget *parent = nullptr);
    ~StockMain() override;

    // Lists every stored record, and from then on follows the server, if any.
    // False when the store failed; the failure is reported.
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

    // Keeps a count and, once kept, lists it; its list row, or nothing when it could not be kept.
    std::optional<int> storeCount(const RecordTexts &count);
    // Shows a record as it is now, in its place in the list; without texts, takes its row out.
    void showRecord(RecordKey key, const std::optional<RecordTexts> &texts);
    // A record deleted elsewhere: said over parent, and its row taken out.
    void recordGone(RecordKey key, QWidget *parent);
    // An edit the server could not take: said over parent.
    void notCarriedOut(RecordResult::Outcome outcome, QWidget *parent);
    void setLocationCaption(LocationPiece piece, const QString &caption);
    // Runs a store operation; a failure is heard, reported, and yields nothing.
    template<typename Operation>
    auto attempt(Operation &&operation);
    // Runs an operation on a record and waits for its answer, the window answering
    // keys meanwhile: at once from the file, within seconds from a server.
    std::optional<RecordResult> awaitStore(const std::function<void(Store::Done)> &start);
    void playSound(ScanSound sound) const;

    // The store's socket and moments, watched by the event loop: no thread, and
    // no wait on the network.
    void watchStore();
    void followStore();
    void showLink(const std::optional<LinkStatus> &link);
    static QString outOfReach();

    // What the store tells of a server's other stations.
    void recordsChanged(const std::vector<StockChange> &changes) override;
    void countStored(std::int64_t key, const StockRecord &stored) override;
    void relistBegins() override;
    void relisted(const StockRecordView &record) override;
    void relistEnds(bool complete) override;
    void linkChanged(const LinkStatus &status) override;

    QLineEdit *box(ScanBox box) const;
    // The list row (from 0) the operator chose, or -1.
    int selectedRow() const;

    std::unique_ptr<Ui::StockMain> ui;
    std::unique_ptr<Store> m_store;
    // Watch the store's socket; they go before the store that owns it.
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    int m_watchedSocket = -1;
    QTimer m_storeMoment;
    bool m_storeFailed = false;
    bool m_editing = false;
    bool m_backToBeSaid = false; // once out of reach, until every count is on the server again
    StockRows m_relisting;
    std::optional<LinkStatus> m_link;
    SoundOutput m_playSound;
    QString m_dataFolder;
    StockListModel *m_records;
    ScanRules m_rules;
};

// The main window as assistive technology sees it: the program's window, not a pane.
QAccessibleInterface *accessibleStockMain(const QString &className, QObject *object);

#include "main_window/stock_main.h"

#include "about/about_box.h"
#include "dialogs/location_select.h"
#include "dialogs/stock_item.h"
#include "main_window/stock_list_model.h"
#include "ui_stock_main.h"
#include "widgets/announcer.h"
#include "widgets/error_reporter.h"
#include "widgets/look.h"
#include "widgets/typing_batch.h"

#include <QAccessibleWidget>
#include <QEventLoop>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QSocketNotifier>

#include <chrono>

#include <new>
#include <type_traits>

namespace {

// Scanners end a label with either Enter key; Ctrl+Enter is another key.
bool isEnter(const QKeyEvent &event)
{
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        && !(event.modifiers() & Qt::ControlModifier);
}

// The operator tells by ear whether a scan was stored, taken or refused.
std::optional<ScanSound> soundOf(ScanResult result)
{
    switch (result) {
    case ScanResult::Nothing:
        return std::nullopt;
    case ScanResult::Count:
        return ScanSound::Stored;
    case ScanResult::NotALocation:
    case ScanResult::NotAQuantity:
        return ScanSound::Refused;
    case ScanResult::LocationPiece:
    case ScanResult::LocationDone:
    case ScanResult::NewLocation:
    case ScanResult::ItemDropped:
    case ScanResult::ItemCode:
        return ScanSound::Accepted;
    }
    return std::nullopt;
}

// The number under which running out of memory is reported: SQLite's for it.
constexpr int outOfMemory = 7;

// Beyond the list's own, showing the window takes memory too, threads of Qt's
// among it, each with its stack and an arena of its own for what it allocates:
// room for one is asked for once the records are read. Finding too little left
// then is a report; finding it later, a window that never paints.
void requireRoomToShow()
{
    constexpr std::size_t roomToShow = std::size_t(72) << 20;
    freeBulk(allocateBulk(roomToShow), roomToShow);
}

// Held back while the records are read, and given back before the box that
// says memory ran out, which needs some of its own.
constexpr std::size_t roomForTheBox = std::size_t(16) << 20;
using HeldMemory = std::unique_ptr<void, void (*)(void *)>;

RecordTexts textsOf(const StockRecord &record)
{
    return {QString::fromStdString(record.location), QString::fromStdString(record.stockCode),
            QString::fromStdString(record.quantity)};
}

} // namespace

template<typename Operation>
auto StockMain::attempt(Operation &&operation)
{
    const auto failed = [this](const StoreError &error) {
        // A connection that failed stays readable: its failure is reported once.
        m_storeFailed = true;
        m_readable.reset();
        m_writable.reset();
        m_storeMoment.stop();
        // The operator, eyes on the shelf, hears that it was not taken before the box shows.
        playSound(ScanSound::Refused);
        ErrorReporter::report({error.code(), error.what()});
    };
    using Result = std::invoke_result_t<Operation>;
    if constexpr (std::is_void_v<Result>) {
        try {
            operation();
            return true;
        } catch (const StoreError &error) {
            failed(error);
            return false;
        }
    } else {
        try {
            return std::optional<Result>(operation());
        } catch (const StoreError &error) {
            failed(error);
            return std::optional<Result>();
        }
    }
}

StockMain::StockMain(std::unique_ptr<Store> store, SoundOutput playSound, QString dataFolder, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StockMain>()), m_store(std::move(store)),
      m_playSound(std::move(playSound)), m_dataFolder(std::move(dataFolder)), m_records(new StockListModel(this))
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    setWindowIcon(Look::programIcon());
    ui->titleLabel->setFont(Look::font(Look::titlePointSize));

    ui->stockList->setModel(m_records);
    QHeaderView *columns = ui->stockList->header();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->resizeSection(StockListModel::LocationColumn, Look::pixels(1000));
    columns->resizeSection(StockListModel::CodeColumn, Look::pixels(4000));
    columns->resizeSection(StockListModel::QtyColumn, Look::pixels(1000));

    for (QWidget *control : {static_cast<QWidget *>(ui->locationBox), static_cast<QWidget *>(ui->itemBox),
                             static_cast<QWidget *>(ui->quantityBox), static_cast<QWidget *>(ui->stockList)})
        control->installEventFilter(this);
    new TypingBatch({ui->locationBox, ui->itemBox, ui->quantityBox}, this);
    connect(ui->addButton, &QPushButton::clicked, this, &StockMain::addCount);
    connect(ui->clearButton, &QPushButton::clicked, this, &StockMain::clearItem);
    connect(ui->exitButton, &QPushButton::clicked, this, &StockMain::exitProgram);
    connect(ui->aboutButton, &QPushButton::clicked, this, &StockMain::showAbout);
    connect(ui->manualButton, &QPushButton::clicked, this, &StockMain::chooseLocation);
    connect(ui->stockList, &QAbstractItemView::doubleClicked, this, &StockMain::editSelectedRecord);
    m_storeMoment.setSingleShot(true);
    connect(&m_storeMoment, &QTimer::timeout, this, &StockMain::followStore);

    ui->locationBox->setFocus();
    Look::centreOnScreen(this);
}

StockMain::~StockMain() = default;

bool StockMain::loadRecords()
{
    std::uint64_t records = 0;
    try {
        const HeldMemory forTheBox(allocateBulk(roomForTheBox), [](void *held) { freeBulk(held, roomForTheBox); });
        StockRows stored;
        StockRows waiting;
        const bool loaded = attempt([&] {
            m_store->listAll(
                [&](const StockRecordView &record) {
                    (record.waiting ? waiting : stored)
                        .append(record.id, record.location, record.stockCode, record.quantity);
                },
                [&](const StockListSize &size) {
                    records = size.records;
                    stored.reserve(size.records, size.textBytes);
                });
        });
        if (!loaded)
            return false;
        requireRoomToShow();
        m_records->setRows(std::move(stored), std::move(waiting));
    } catch (const std::bad_alloc &) {
        // The rows read so far and the memory held back are given back by now.
        playSound(ScanSound::Refused);
        ErrorReporter::report({outOfMemory,
                               tr("Quillmarch ran out of memory listing the stored records (up to %1) and cannot show"
                                  " them; nothing was changed. Close other programs, or give Quillmarch more memory,"
                                  " and start again.")
                                   .arg(records)
                                   .toStdString()});
        return false;
    }
    m_store->follow(this);
    showLink(m_store->link());
    // A station that starts out of reach says so once its window has the focus.
    if (m_link && !m_link->reachable) {
        Announcer::announceOnReturn(this, outOfReach());
        m_backToBeSaid = true;
    }
    watchStore();
    return true;
}

// The key always goes on to its box or the list unchanged.
bool StockMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const QKeyEvent &key = *static_cast<QKeyEvent *>(event);
        if (watched == ui->stockList)
            listKeyPressed(key);
        else if (isEnter(key))
            for (ScanBox scanBox : {ScanBox::Location, ScanBox::Item, ScanBox::Quantity})
                if (watched == box(scanBox))
                    scanEntered(scanBox);
    }
    return QWidget::eventFilter(watched, event);
}

void StockMain::scanEntered(ScanBox scanBox)
{
    carryOut(m_rules.scan(scanBox, box(scanBox)->text(), ui->itemBox->text()));
}

void StockMain::carryOut(const ScanOutcome &outcome)
{
    std::optional<int> storedRow;
    if (outcome.count && !(storedRow = storeCount(*outcome.count)))
        return;
    if (outcome.piece)
        setLocationCaption(*outcome.piece, ScanRules::scannedCaption(*outcome.piece, m_rules.piece(*outcome.piece)));
    // The focus moves first: a screen reader takes a box emptied before it gets
    // the focus for the move, and says nothing. It then says the outcome after
    // the box the focus is in.
    if (outcome.focus)
        box(*outcome.focus)->setFocus();
    for (ScanBox scanBox : {ScanBox::Location, ScanBox::Item, ScanBox::Quantity})
        if (outcome.emptied.testFlag(scanBox))
            box(scanBox)->clear();
    Announcer::announce(
        this, outcome.count ? ScanRules::storedAnnouncement(*storedRow + 1, *outcome.count) : outcome.announcement);
    if (const std::optional<ScanSound> sound = soundOf(outcome.result))
        playSound(*sound);
    for (ScanBox scanBox : {ScanBox::Location, ScanBox::Item, ScanBox::Quantity})
        if (outcome.selected.testFlag(scanBox))
            box(scanBox)->selectAll();
}

void StockMain::listKeyPressed(const QKeyEvent &key)
{
    if (isEnter(key)) {
        ui->itemBox->setFocus();
    } else if (key.key() == Qt::Key_F2) {
        // The editor without a mouse, on the row the keys have reached.
        const QModelIndex current = ui->stockList->currentIndex();
        if (current.isValid())
            ui->stockList->selectionModel()->select(current,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        editSelectedRecord();
    }
}

// Stores the boxes as they stand, a quantity label's prefix included.
void StockMain::addCount()
{
    carryOut(m_rules.add(ui->itemBox->text(), ui->quantityBox->text()));
}

// Drops a half-entered count; the location stays.
void StockMain::clearItem()
{
    ui->itemBox->setFocus();
    ui->itemBox->clear();
    ui->quantityBox->clear();
}

// Every count was committed when it was made, so nothing is pending.
void StockMain::exitProgram()
{
    QCoreApplication::quit();
}

void StockMain::showAbout()
{
    // A fresh box each time, so every showing composes its version text anew;
    // without an owner, it is modal to the whole program.
    AboutBox about(m_dataFolder);
    about.exec();
}

void StockMain::chooseLocation()
{
    LocationSelect dialog;
    // A piece set by hand is kept as well as shown, so the records stored from
    // now on carry the location its label reads.
    connect(&dialog, &LocationSelect::pieceChosen, this, [this](LocationPiece piece, const QString &value) {
        m_rules.setPiece(piece, value);
        setLocationCaption(piece, ScanRules::manualCaption(piece, value));
        Announcer::announce(this, ScanRules::pieceAnnouncement(piece, value));
    });
    dialog.exec();
}

void StockMain::editSelectedRecord()
{
    const int row = selectedRow();
    // One editor at a time, also while the first is still being read from a server.
    if (row < 0 || m_editing)
        return;
    const QScopedValueRollback<bool> editing(m_editing, true);
    // Rows come and go under an open editor as other stations count: the record is known by its key.
    const RecordKey key = m_records->key(row);
    // Read afresh: another station may have changed the record since it was listed.
    const std::optional<RecordResult> loaded = awaitStore([&](Store::Done done) { m_store->load(key, done); });
    if (!loaded)
        return;
    if (loaded->outcome == RecordResult::Gone)
        return recordGone(key, this);
    if (loaded->outcome != RecordResult::Done)
        return notCarriedOut(loaded->outcome, this);
    StockRecord shown = loaded->record;
    StockItem editor(textsOf(shown));
    bool waiting = false;
    // A Save or Delete that was not carried out.
    const auto notDone = [&](const RecordResult &result, StockItem::Chosen chosen) {
        switch (result.outcome) {
        case RecordResult::Changed:
            // Nothing of the operator's is written over a change not seen: the editor shows it now.
            shown = result.record;
            showRecord(key, textsOf(shown));
            playSound(ScanSound::Refused);
            editor.showChangedElsewhere(textsOf(shown), chosen);
            break;
        case RecordResult::Gone:
            recordGone(key, &editor);
            editor.reject();
            break;
        default:
            notCarriedOut(result.outcome, &editor);
            editor.reject();
            break;
        }
    };
    connect(&editor, &StockItem::saveChosen, this, [&](const RecordTexts &edited) {
        if (std::exchange(waiting, true))
            return;
        const std::optional<RecordResult> saved = awaitStore([&](Store::Done done) {
            m_store->update(key, shown, edited.location.toStdString(), edited.stockCode.toStdString(),
                            edited.quantity.toStdString(), done);
        });
        waiting = false;
        if (!saved)
            return;
        if (saved->outcome != RecordResult::Done)
            return notDone(*saved, StockItem::Chosen::Save);
        showRecord(key, edited);
        playSound(ScanSound::Stored);
        editor.accept();
        Announcer::announceOnReturn(this, QStringLiteral("Saved row %1, ").arg(m_records->rowOf(key) + 1)
                                              + ScanRules::spokenRecord(edited));
    });
    connect(&editor, &StockItem::deleteChosen, this, [&] {
        if (std::exchange(waiting, true))
            return;
        const std::optional<RecordResult> deleted =
            awaitStore([&](Store::Done done) { m_store->remove(key, shown, done); });
        waiting = false;
        if (!deleted)
            return;
        if (deleted->outcome != RecordResult::Done)
            return notDone(*deleted, StockItem::Chosen::Delete);
        // Its row as the list has it now, found before it goes.
        const int deletedRow = m_records->rowOf(key);
        showRecord(key, std::nullopt);
        playSound(ScanSound::Stored);
        editor.accept();
        Announcer::announceOnReturn(
            this, QStringLiteral("Deleted row %1, ").arg(deletedRow + 1) + ScanRules::spokenRecord(textsOf(shown)));
    });
    editor.exec();
}

std::optional<int> StockMain::storeCount(const RecordTexts &count)
{
    const std::optional<RecordKey> key = attempt([&] {
        return m_store->append(count.location.toStdString(), count.stockCode.toStdString(),
                               count.quantity.toStdString());
    });
    if (!key)
        return std::nullopt;
    const int row = m_records->insertRecord(*key, count);
    // The operator sees each count arrive, however long the list; other stations' lists stay put.
    ui->stockList->scrollTo(m_records->index(row, StockListModel::LocationColumn));
    // A count waiting on the station goes to the server next.
    watchStore();
    return row;
}

void StockMain::showRecord(RecordKey key, const std::optional<RecordTexts> &texts)
{
    const int row = m_records->rowOf(key);
    if (!texts) {
        if (row >= 0)
            m_records->removeRecord(row);
    } else if (row >= 0) {
        m_records->setRecord(row, *texts);
    } else {
        m_records->insertRecord(key, *texts);
    }
}

void StockMain::recordGone(RecordKey key, QWidget *parent)
{
    playSound(ScanSound::Refused);
    QMessageBox::information(parent, QStringLiteral("Quillmarch"),
                             tr("This record was deleted at another station or by another program. It is taken"
                                " out of the list."));
    showRecord(key, std::nullopt);
}

void StockMain::notCarriedOut(RecordResult::Outcome outcome, QWidget *parent)
{
    playSound(ScanSound::Refused);
    QString text;
    switch (outcome) {
    case RecordResult::Unreachable:
        text = tr("The server is out of reach, so the records kept there cannot be opened or changed now; nothing"
                  " was changed. Counts still waiting on this station can be changed now, the others once the"
                  " server is back.");
        break;
    case RecordResult::Unconfirmed:
        text = tr("The server did not answer in time, so whether it took the change is not known. The list shows"
                  " the record as the server holds it once the server answers again.");
        break;
    default:
        text = tr("This count is on its way to the server, which has not confirmed it yet; nothing was changed."
                  " It can be changed once the server has it.");
        break;
    }
    QMessageBox::information(parent, QStringLiteral("Quillmarch"), text);
}

std::optional<RecordResult> StockMain::awaitStore(const std::function<void(Store::Done)> &start)
{
    // Shared with the store's answer, which may come after an early end of the wait.
    struct Wait {
        std::optional<RecordResult> result;
        QEventLoop *loop = nullptr;
    };
    const auto wait = std::make_shared<Wait>();
    const bool started = attempt([&] {
        start([wait](const RecordResult &result) {
            wait->result = result;
            if (wait->loop)
                wait->loop->quit();
        });
    });
    if (!started)
        return std::nullopt;
    if (!wait->result) {
        watchStore();
        QEventLoop loop;
        wait->loop = &loop;
        loop.exec();
        wait->loop = nullptr;
    }
    return wait->result;
}

void StockMain::watchStore()
{
    if (m_storeFailed)
        return;
    const StoreWake wake = m_store->wake();
    if (wake.socket != m_watchedSocket) {
        m_readable.reset();
        m_writable.reset();
        m_watchedSocket = wake.socket;
        if (wake.socket >= 0) {
            m_readable = std::make_unique<QSocketNotifier>(wake.socket, QSocketNotifier::Read);
            m_writable = std::make_unique<QSocketNotifier>(wake.socket, QSocketNotifier::Write);
            connect(m_readable.get(), &QSocketNotifier::activated, this, &StockMain::followStore);
            connect(m_writable.get(), &QSocketNotifier::activated, this, &StockMain::followStore);
        }
    }
    if (m_writable)
        m_writable->setEnabled(wake.write);
    if (!wake.at) {
        m_storeMoment.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake.at - std::chrono::steady_clock::now());
    m_storeMoment.start(int(std::max<qint64>(0, wait.count())));
}

void StockMain::followStore()
{
    if (!m_storeFailed && attempt([&] { m_store->advance(); }))
        watchStore();
}

void StockMain::recordsChanged(const std::vector<StockChange> &changes)
{
    m_records->applyChanges(changes);
}

void StockMain::countStored(std::int64_t key, const StockRecord &stored)
{
    m_records->countStored(key, stored.id, textsOf(stored));
}

void StockMain::relistBegins()
{
    m_relisting = StockRows();
}

void StockMain::relisted(const StockRecordView &record)
{
    m_relisting.append(record.id, record.location, record.stockCode, record.quantity);
}

void StockMain::relistEnds(bool complete)
{
    StockRows fresh = std::exchange(m_relisting, StockRows());
    if (complete)
        m_records->replaceStored(std::move(fresh));
}

void StockMain::linkChanged(const LinkStatus &status)
{
    const bool wasReachable = !m_link || m_link->reachable;
    showLink(status);
    // Said once when the server goes out of reach, and once when every count is on it again.
    if (wasReachable && !status.reachable)
        Announcer::announce(this, outOfReach());
    if (!status.reachable) {
        m_backToBeSaid = true;
    } else if (m_backToBeSaid && status.waiting == 0) {
        Announcer::announce(this, tr("Server back, every count is on it"));
        m_backToBeSaid = false;
    }
}

QString StockMain::outOfReach()
{
    return tr("Server out of reach, counting on into this station");
}

void StockMain::showLink(const std::optional<LinkStatus> &link)
{
    m_link = link;
    const auto counts = [](std::int64_t waiting) {
        return waiting == 1 ? tr("1 count") : tr("%1 counts").arg(waiting);
    };
    QString state;
    if (link && !link->reachable)
        state = tr("Server out of reach – %1 waiting").arg(counts(link->waiting));
    else if (link && link->waiting > 0)
        state = tr("Sending %1 to the server").arg(counts(link->waiting));
    else if (link)
        state = tr("Every count is on the server");
    const QString place = tr("Counting into %1").arg(QString::fromStdString(m_store->place()));
    ui->storeLabel->setText(state.isEmpty() ? place : place + QLatin1Char('\n') + state);
    ui->storeLabel->setToolTip(link && !link->reachable ? QString::fromStdString(link->reason) : QString());
}

void StockMain::setLocationCaption(LocationPiece piece, const QString &caption)
{
    switch (piece) {
    case LocationPiece::Row:
        ui->rowLabel->setText(caption);
        break;
    case LocationPiece::Rack:
        ui->rackLabel->setText(caption);
        break;
    case LocationPiece::Shelf:
        ui->shelfLabel->setText(caption);
        break;
    }
}

void StockMain::playSound(ScanSound sound) const
{
    if (m_playSound)
        m_playSound(sound);
}

QLineEdit *StockMain::box(ScanBox scanBox) const
{
    switch (scanBox) {
    case ScanBox::Location:
        return ui->locationBox;
    case ScanBox::Item:
        return ui->itemBox;
    case ScanBox::Quantity:
        return ui->quantityBox;
    }
    return nullptr;
}

int StockMain::selectedRow() const
{
    const QModelIndexList rows = ui->stockList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QAccessibleInterface *accessibleStockMain(const QString &className, QObject *object)
{
    if (className == QLatin1String("StockMain") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

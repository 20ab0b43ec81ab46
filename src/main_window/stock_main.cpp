#include "stock_main.h"

#include "error_reporter.h"
#include "frm_about.h"
#include "location_select.h"
#include "look.h"
#include "scan_sounds.h"
#include "stock_item.h"
#include "stock_list_model.h"
#include "ui_stock_main.h"

#include <QAccessibleWidget>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

namespace {

// Scanners end a label with either Enter key; Ctrl+Enter is another key.
bool isEnter(const QKeyEvent &event)
{
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        && !(event.modifiers() & Qt::ControlModifier);
}

// The main window is the program's window to assistive technology, not a pane.
QAccessibleInterface *mainWindowAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("StockMain") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

using Outcome = StockMain::Outcome;

// The sound of each outcome: the operator tells by ear whether a scan was
// stored, taken or refused.
constexpr std::pair<Outcome, ScanSound> outcomeSounds[] = {
    {Outcome::CountStored, ScanSound::Stored},
    {Outcome::LocationPiece, ScanSound::Accepted},
    {Outcome::LocationDone, ScanSound::Accepted},
    {Outcome::NewLocation, ScanSound::Accepted},
    {Outcome::ItemDropped, ScanSound::Accepted},
    {Outcome::ItemCode, ScanSound::Accepted},
    {Outcome::NotALocation, ScanSound::Refused},
    {Outcome::NotAQuantity, ScanSound::Refused},
};

} // namespace

StockMain::StockMain(StockStore store, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StockMain>()), m_store(std::move(store)),
      m_listItems(new StockListModel(this))
{
    static const bool accessibleWindow = (QAccessible::installFactory(&mainWindowAccessible), true);
    Q_UNUSED(accessibleWindow);
    ui->setupUi(this);
    Look::applyToWindow(this);
    setWindowIcon(Look::programIcon());
    ui->Label1->setFont(Look::font(Look::titlePointSize));

    ui->ListView1->setModel(m_listItems);
    QHeaderView *columns = ui->ListView1->header();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->resizeSection(StockListModel::LocationColumn, Look::pixels(1000));
    columns->resizeSection(StockListModel::CodeColumn, Look::pixels(4000));
    columns->resizeSection(StockListModel::QtyColumn, Look::pixels(1000));

    for (QWidget *control : {static_cast<QWidget *>(ui->Text1), static_cast<QWidget *>(ui->Text2),
                             static_cast<QWidget *>(ui->Text3), static_cast<QWidget *>(ui->ListView1)})
        control->installEventFilter(this);
    connect(ui->Command1, &QPushButton::clicked, this, &StockMain::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &StockMain::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &StockMain::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &StockMain::Command4_Click);
    connect(ui->Command5, &QPushButton::clicked, this, &StockMain::Command5_Click);
    connect(ui->ListView1, &QAbstractItemView::doubleClicked, this, &StockMain::ListView1_DblClick);

    Form_Load();
    ui->Text1->setFocus();
    Look::centreOnScreen(this);
}

StockMain::~StockMain() = default;

void StockMain::Form_Load()
{
    StockRows rows;
    ErrorReporter::attempt([&] {
        m_store.ListAll(
            [&](const StockRecordView &record) {
                rows.append(record.id, record.location, record.stockCode, record.quantity);
                m_scan.lastID = record.id;
            },
            [&](const StockListSize &size) { rows.reserve(size.records, size.textBytes); });
    });
    m_listItems->setRows(std::move(rows));
    m_scan.itemID = m_listItems->rowCount() + 1;
}

bool StockMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const QKeyEvent &key = *static_cast<QKeyEvent *>(event);
        if (watched == ui->Text1)
            Text1_KeyPress(key);
        else if (watched == ui->Text2)
            Text2_KeyPress(key);
        else if (watched == ui->Text3)
            Text3_KeyPress(key);
        else if (watched == ui->ListView1)
            ListView1_KeyPress(key);
    }
    return QWidget::eventFilter(watched, event);
}

// An Enter in an empty box is no scan, and is not heard.
void StockMain::Text1_KeyPress(const QKeyEvent &key)
{
    if (!isEnter(key))
        return;
    const QString scan = ui->Text1->text();
    if (scan.startsWith(QLatin1String("ROW:"))) {
        setLocationPiece(LocationPiece::Row, QStringLiteral("Row:"), scan.mid(4));
        hear(Outcome::LocationPiece);
    } else if (scan.startsWith(QLatin1String("SHELF:"))) {
        setLocationPiece(LocationPiece::Shelf, QStringLiteral("Shelf: "), scan.mid(6));
        hear(Outcome::LocationPiece);
    } else if (scan.startsWith(QLatin1String("RACK:"))) {
        setLocationPiece(LocationPiece::Rack, QStringLiteral("Rack: "), scan.mid(5));
        hear(Outcome::LocationPiece);
    } else if (scan.startsWith(QLatin1String("FINLOC"))) {
        ui->Text2->setFocus();
        hear(Outcome::LocationDone);
    } else if (!scan.isEmpty()) {
        hear(Outcome::NotALocation);
    }
    ui->Text1->clear();
}

void StockMain::Text2_KeyPress(const QKeyEvent &key)
{
    if (!isEnter(key))
        return;
    const QString scan = ui->Text2->text();
    if (scan.startsWith(QLatin1String("NEWLOC"))) {
        ui->Text1->setFocus();
        ui->Text2->clear();
        hear(Outcome::NewLocation);
    } else if (scan.startsWith(QLatin1String("ERROR"))) {
        Command2_Click(); // the item is dropped, as Clear drops it
        hear(Outcome::ItemDropped);
    } else {
        // The text stays: it is the code the next quantity scan stores.
        ui->Text3->setFocus();
        if (!scan.isEmpty())
            hear(Outcome::ItemCode);
    }
}

void StockMain::Text3_KeyPress(const QKeyEvent &key)
{
    if (!isEnter(key))
        return;
    const QString scan = ui->Text3->text();
    if (scan.startsWith(QLatin1String("QTY:"))) {
        storeCount(scan.mid(4));
    } else if (scan.startsWith(QLatin1String("ERROR"))) {
        Command2_Click(); // the item is dropped, as Clear drops it
        hear(Outcome::ItemDropped);
    } else if (!scan.isEmpty()) {
        // The text stays in the box for the operator to correct.
        hear(Outcome::NotAQuantity);
    }
}

void StockMain::ListView1_KeyPress(const QKeyEvent &key)
{
    if (isEnter(key))
        ui->Text2->setFocus();
    else if (key.key() == Qt::Key_F2)
        ListView1_DblClick(); // the editor without a mouse
}

// Add: stores the boxes as they stand, a "QTY:" prefix included.
void StockMain::Command1_Click()
{
    storeCount(ui->Text3->text());
}

// Clear: drops a half-entered count; the location stays.
void StockMain::Command2_Click()
{
    ui->Text2->clear();
    ui->Text3->clear();
    ui->Text2->setFocus();
}

// Exit: every count was committed when it was scanned, so nothing is pending.
void StockMain::Command3_Click()
{
    QCoreApplication::quit();
}

void StockMain::Command4_Click()
{
    // A fresh box each time, so every showing composes its version text anew;
    // without an owner, it is modal to the whole program.
    frmAbout about;
    about.exec();
}

void StockMain::ListView1_DblClick()
{
    // A fresh dialog each time, without an owner window: every opening reads the
    // record anew. With no row selected there is none to read.
    StockItem dialog(*this);
    if (dialog.Form_Load())
        dialog.exec();
}

void StockMain::Command5_Click()
{
    LocationSelect dialog(*this);
    dialog.exec();
}

QString StockMain::locationText() const
{
    return m_scan.rowNum + m_scan.rackNum + m_scan.shelfNum;
}

void StockMain::storeCount(const QString &quantity)
{
    const QString location = locationText();
    const QString code = ui->Text2->text();
    const std::optional<std::int64_t> id = ErrorReporter::attempt(
        [&] { return m_store.Append(location.toStdString(), code.toStdString(), quantity.toStdString()); });
    if (!id)
        return;
    addItem(*id, location, code, quantity);
    Command2_Click();
    announce(ui->Text2, tr("Stored row %1: %2, %3, %4").arg(m_listItems->rowCount()).arg(location, code, quantity));
    hear(Outcome::CountStored);
}

void StockMain::hear(Outcome outcome) const
{
    for (const auto &[heard, sound] : outcomeSounds)
        if (heard == outcome)
            ScanSounds::play(sound);
}

void StockMain::announce(QWidget *box, const QString &text)
{
    box->setAccessibleDescription(text);
}

int StockMain::selectedRow() const
{
    const QModelIndexList rows = ui->ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void StockMain::addItem(qint64 id, const QString &location, const QString &code, const QString &qty)
{
    m_listItems->insertItem(m_listItems->rowCount(), id, location, code, qty);
    // The operator sees each count arrive, however long the list.
    ui->ListView1->scrollToBottom();
    m_scan.lastID = id;
    m_scan.itemID = m_listItems->rowCount() + 1;
}

void StockMain::removeItem(int row)
{
    m_listItems->removeItem(row);
    m_scan.itemID = m_listItems->rowCount() + 1;
}

void StockMain::setLocationPiece(LocationPiece piece, const QString &captionPrefix, const QString &value)
{
    switch (piece) {
    case LocationPiece::Row:
        m_scan.rowNum = value;
        ui->Row->setText(captionPrefix + value);
        break;
    case LocationPiece::Rack:
        m_scan.rackNum = value;
        ui->Rack->setText(captionPrefix + value);
        break;
    case LocationPiece::Shelf:
        m_scan.shelfNum = value;
        ui->Shelf->setText(captionPrefix + value);
        break;
    }
    announce(ui->Text1, captionPrefix + value);
}

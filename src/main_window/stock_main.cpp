#include "stock_main.h"

#include "error_reporter.h"
#include "location_select.h"
#include "look.h"
#include "stock_item.h"
#include "stock_list_model.h"
#include "ui_stock_main.h"

#include <QHeaderView>
#include <QItemSelectionModel>

StockMain::StockMain(StockStore store, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StockMain>()), m_store(std::move(store)),
      m_listItems(new StockListModel(this))
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    setWindowIcon(Look::programIcon());
    ui->Label1->setFont(Look::font(Look::titlePointSize));

    ui->ListView1->setModel(m_listItems);
    ui->ListView1->header()->setSectionsMovable(false);
    ui->ListView1->setColumnWidth(StockListModel::LocationColumn, Look::pixels(1000));
    ui->ListView1->setColumnWidth(StockListModel::CodeColumn, Look::pixels(4000));
    ui->ListView1->setColumnWidth(StockListModel::QtyColumn, Look::pixels(1000));

    connect(ui->ListView1, &QTreeView::doubleClicked, this, &StockMain::ListView1_DblClick);
    connect(ui->Command5, &QPushButton::clicked, this, &StockMain::Command5_Click);

    Form_Load();
    ui->Text1->setFocus();
    Look::centreOnScreen(this);
}

StockMain::~StockMain() = default;

void StockMain::Form_Load()
{
    StockRows rows;
    ErrorReporter::attempt([&] {
        m_store.ListAll([&](const StockRecordView &record) {
            rows.append(record.id, record.location, record.stockCode, record.quantity);
            m_scan.lastID = record.id;
        });
    });
    m_listItems->setRows(std::move(rows));
    m_scan.itemID = m_listItems->rowCount() + 1;
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

int StockMain::selectedRow() const
{
    const QModelIndexList rows = ui->ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void StockMain::addItem(qint64 id, const QString &location, const QString &code, const QString &qty)
{
    m_listItems->insertItem(m_listItems->rowCount(), id, location, code, qty);
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
}

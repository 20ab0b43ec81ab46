#include "stock_main.h"

#include "error_reporter.h"
#include "look.h"
#include "stock_list_model.h"
#include "ui_stock_main.h"

#include <QHeaderView>

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

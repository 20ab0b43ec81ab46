#include "stock_item.h"

#include "error_reporter.h"
#include "look.h"
#include "stock_list_model.h"
#include "stock_main.h"
#include "ui_stock_item.h"

#include <QKeyEvent>

namespace {

constexpr qreal boxPointSize = 14.25;
constexpr qreal captionPointSize = 9.75;

} // namespace

StockItem::StockItem(StockMain &main) : ui(std::make_unique<Ui::StockItem>()), m_main(main)
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    ui->Label1->setFont(Look::font(Look::titlePointSize));
    for (QWidget *caption : {ui->Label2, ui->Label3, ui->Label4})
        caption->setFont(Look::font(captionPointSize));
    for (QWidget *box : {ui->Text1, ui->Text2, ui->Text3})
        box->setFont(Look::font(boxPointSize));
    ui->UpDown1->setBuddy(ui->Text3);

    connect(ui->Command1, &QPushButton::clicked, this, &StockItem::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &StockItem::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &StockItem::Command3_Click);

    ui->Text1->setFocus();
    Look::centreOnScreen(this);
}

StockItem::~StockItem() = default;

bool StockItem::Form_Load()
{
    const int row = m_main.selectedRow();
    if (row < 0)
        return false;
    const qint64 id = m_main.listItems().tag(row);
    const auto record = ErrorReporter::attempt([&] { return m_main.store().LoadById(id); });
    if (!record)
        return false;
    ui->Text1->setText(QString::fromStdString(record->location));
    ui->Text2->setText(QString::fromStdString(record->stockCode));
    ui->Text3->setText(QString::fromStdString(record->quantity));
    itemID = record->id;
    return true;
}

void StockItem::keyPressEvent(QKeyEvent *event)
{
    // No button answers Esc (nor Enter: none is a default button), so a stray key
    // cannot throw away or store the operator's edits.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void StockItem::Command1_Click()
{
    reject();
}

void StockItem::Command2_Click()
{
    const QString location = ui->Text1->text();
    const QString code = ui->Text2->text();
    const QString qty = ui->Text3->text();
    const bool stored = ErrorReporter::attempt([&] {
        m_main.store().UpdateById(itemID, location.toStdString(), code.toStdString(), qty.toStdString());
    });
    if (!stored)
        return;
    m_main.listItems().setItem(m_main.selectedRow(), location, code, qty);
    m_main.hear(StockMain::Outcome::CountStored);
    accept();
}

void StockItem::Command3_Click()
{
    const int row = m_main.selectedRow();
    const qint64 id = m_main.listItems().tag(row);
    if (!ErrorReporter::attempt([&] { m_main.store().DeleteById(id); }))
        return;
    m_main.removeItem(row);
    m_main.hear(StockMain::Outcome::CountStored);
    accept();
}

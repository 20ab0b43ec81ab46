#include "stock_item.h"

#include "look.h"
#include "ui_stock_item.h"

#include <QKeyEvent>
#include <QMessageBox>

namespace {

constexpr qreal boxPointSize = 14.25;
constexpr qreal captionPointSize = 9.75;

} // namespace

StockItem::StockItem(const RecordTexts &record, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::StockItem>())
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    ui->titleLabel->setFont(Look::font(Look::titlePointSize));
    for (QWidget *caption : {ui->locationCaption, ui->stockCodeCaption, ui->quantityCaption})
        caption->setFont(Look::font(captionPointSize));
    for (QWidget *box : {ui->locationBox, ui->stockCodeBox, ui->quantityBox})
        box->setFont(Look::font(boxPointSize));
    ui->quantitySpinner->setBuddy(ui->quantityBox);

    showTexts(record);

    connect(ui->closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->saveButton, &QPushButton::clicked, this, [this] { emit saveChosen(edited()); });
    connect(ui->deleteButton, &QPushButton::clicked, this, &StockItem::deleteChosen);

    ui->locationBox->setFocus();
    Look::centreOnScreen(this);
}

StockItem::~StockItem() = default;

void StockItem::showChangedElsewhere(const RecordTexts &current)
{
    QMessageBox::information(this, QStringLiteral("Quillmarch"),
                             tr("This record was changed at another station or by another program while it was"
                                " open here, so your changes were not saved. The editor now shows the record as it"
                                " is; change it again and Save."));
    showTexts(current);
}

void StockItem::showTexts(const RecordTexts &record)
{
    ui->locationBox->setText(record.location);
    ui->stockCodeBox->setText(record.stockCode);
    ui->quantityBox->setText(record.quantity);
}

RecordTexts StockItem::edited() const
{
    return {ui->locationBox->text(), ui->stockCodeBox->text(), ui->quantityBox->text()};
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

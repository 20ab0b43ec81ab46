#include "dialogs/stock_item.h"

#include "ui_stock_item.h"
#include "widgets/look.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

namespace {

constexpr qreal boxPointSize = 14.25;
constexpr qreal captionPointSize = 9.75;

// A box lays its whole text out again at every change, which stays quick up to
// this length, a line box's own default limit. A longer text (megabytes that
// another program stored) is shown by its start and kept as it is.
constexpr qsizetype editableLength = 32767;
constexpr qsizetype shownLength = 300;

void showText(QLineEdit *box, const QString &text)
{
    const bool editable = text.size() <= editableLength;
    box->setReadOnly(!editable);
    box->setToolTip({});
    if (editable) {
        box->setText(text);
        return;
    }
    box->setText(text.left(shownLength) + QChar(0x2026));
    box->setCursorPosition(0);
    box->setToolTip(
        StockItem::tr("%1 characters, too long to edit here; Save keeps them as they are.").arg(text.size()));
}

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

void StockItem::showChangedElsewhere(const RecordTexts &current, Chosen chosen)
{
    QMessageBox::information(this, QStringLiteral("Quillmarch"),
                             chosen == Chosen::Save
                                 ? tr("This record was changed at another station or by another program while it"
                                      " was open here, so your changes were not saved. The editor now shows the"
                                      " record as it is; change it again and Save.")
                                 : tr("This record was changed at another station or by another program while it"
                                      " was open here, so it was not deleted. The editor now shows the record as"
                                      " it is; Delete it again if it is still to go."));
    showTexts(current);
}

void StockItem::showTexts(const RecordTexts &record)
{
    m_record = record;
    showText(ui->locationBox, record.location);
    showText(ui->stockCodeBox, record.stockCode);
    showText(ui->quantityBox, record.quantity);
    // A quantity shown by its start is kept as it is: the up-down must not change it.
    ui->quantitySpinner->setEnabled(!ui->quantityBox->isReadOnly());
}

RecordTexts StockItem::edited() const
{
    const auto textOf = [](const QLineEdit *box, const QString &stored) {
        return box->isReadOnly() ? stored : box->text();
    };
    return {textOf(ui->locationBox, m_record.location), textOf(ui->stockCodeBox, m_record.stockCode),
            textOf(ui->quantityBox, m_record.quantity)};
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

#include "dialogs/location_select.h"

#include "ui_location_select.h"
#include "widgets/look.h"

LocationSelect::LocationSelect(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::LocationSelect>())
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    ui->titleLabel->setFont(Look::font(Look::titlePointSize));
    for (QWidget *option : {ui->rowOption, ui->rackOption, ui->shelfOption}) {
        option->setFont(Look::font(Look::textPointSize, true));
        // Buttons fill with the button colour; option buttons are white like the window.
        option->setBackgroundRole(QPalette::Window);
        option->setAutoFillBackground(true);
    }

    connect(ui->closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->setButton, &QPushButton::clicked, this, &LocationSelect::setPiece);

    ui->rowOption->setFocus();
}

LocationSelect::~LocationSelect() = default;

void LocationSelect::showEvent(QShowEvent *event)
{
    // Unlike the other windows this one opens where the window system places it;
    // QDialog's own show handling would centre it.
    QWidget::showEvent(event);
}

void LocationSelect::setPiece()
{
    const QString value = ui->valueBox->text();
    if (ui->rowOption->isChecked())
        emit pieceChosen(LocationPiece::Row, value);
    else if (ui->rackOption->isChecked())
        emit pieceChosen(LocationPiece::Rack, value);
    else if (ui->shelfOption->isChecked())
        emit pieceChosen(LocationPiece::Shelf, value);
}

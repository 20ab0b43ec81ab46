#include "location_select.h"

#include "look.h"
#include "stock_main.h"
#include "ui_location_select.h"

LocationSelect::LocationSelect(StockMain &main) : ui(std::make_unique<Ui::LocationSelect>()), m_main(main)
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    ui->Label1->setFont(Look::font(Look::titlePointSize));
    for (QWidget *option : {ui->Option1, ui->Option2, ui->Option3}) {
        option->setFont(Look::font(Look::textPointSize, true));
        // Buttons fill with the button colour; option buttons are white like the window.
        option->setBackgroundRole(QPalette::Window);
        option->setAutoFillBackground(true);
    }

    connect(ui->Command1, &QPushButton::clicked, this, &LocationSelect::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &LocationSelect::Command2_Click);

    ui->Option1->setFocus();
}

LocationSelect::~LocationSelect() = default;

void LocationSelect::showEvent(QShowEvent *event)
{
    // Unlike the other windows this one opens where the window system places it;
    // QDialog's own show handling would centre it.
    QWidget::showEvent(event);
}

void LocationSelect::Command1_Click()
{
    reject();
}

void LocationSelect::Command2_Click()
{
    // The piece is kept as well as shown, so the records stored from now on
    // carry the location the label reads.
    const QString value = ui->Text1->text();
    if (ui->Option1->isChecked())
        m_main.setLocationPiece(StockMain::LocationPiece::Row, QStringLiteral("Row: "), value);
    else if (ui->Option2->isChecked())
        m_main.setLocationPiece(StockMain::LocationPiece::Rack, QStringLiteral("Rack: "), value);
    else if (ui->Option3->isChecked())
        m_main.setLocationPiece(StockMain::LocationPiece::Shelf, QStringLiteral("Shelf: "), value);
}

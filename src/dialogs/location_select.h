#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class LocationSelect;
}
class StockMain;

// Sets one piece of the main window's location (row, rack or shelf) by hand.
class LocationSelect : public QDialog {
    Q_OBJECT

public:
    explicit LocationSelect(StockMain &main);
    ~LocationSelect() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Command1_Click();
    void Command2_Click();

    std::unique_ptr<Ui::LocationSelect> ui;
    StockMain &m_main;
};

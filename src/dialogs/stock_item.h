#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class StockItem;
}
class StockMain;

// The item editor: shows the record behind the main window's selected list row
// and overwrites or deletes it, in the table and in the list.
class StockItem : public QDialog {
    Q_OBJECT

public:
    explicit StockItem(StockMain &main);
    ~StockItem() override;

    // Reads the selected row's record afresh from the table into the boxes.
    // False when there is nothing to show: no row is selected, or the record
    // could not be read (already reported); the dialog is then not to be shown.
    bool Form_Load();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    std::unique_ptr<Ui::StockItem> ui;
    StockMain &m_main;
    qint64 itemID = 0; // id of the record on show, as the table gave it at load
};

#include "look.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QLineEdit>
#include <QTest>

class TestStockMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void formLoad_listsEveryRecordInIdOrderWithItsTag();
    void focusOrder_passesTheListBetweenTheLocationAndItemBoxes();
};

void TestStockMain::formLoad_listsEveryRecordInIdOrderWithItsTag()
{
    StockFolder folder;
    folder.createWith({{7, "A12", "CODE-7", "3"}, {2, "", "", ""}, {40, "Größe", "数量", "QTY:9"}});
    StockMain window{StockStore(folder.path())};

    QCOMPARE(listedRows(window), (std::vector<TableRow>{{2, "", "", ""}, {7, "A12", "CODE-7", "3"},
                                                        {40, "Größe", "数量", "QTY:9"}}));
    QCOMPARE(window.scanState().itemID, 4);
    QCOMPARE(window.scanState().lastID, 40);
}

void TestStockMain::focusOrder_passesTheListBetweenTheLocationAndItemBoxes()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};

    // Labels never take the focus.
    QCOMPARE(focusChain(control<QLineEdit>(window, "Text1")),
             QStringList({"Text1", "ListView1", "Text2", "Text3", "Command1", "Command2", "Command3", "Command4",
                          "Command5"}));
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

#include "look.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

class TestStockMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void formLoad_listsEveryRecordInIdOrderWithItsTag();
    void focusOrder_passesTheListBetweenTheLocationAndItemBoxes();
    void accessible_theProgramsWindowWithItsBoxesLabelled();
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

void TestStockMain::accessible_theProgramsWindowWithItsBoxesLabelled()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(&window);
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), QStringLiteral("Quillmarch::Main"));

    QStringList labels;
    for (const char *name : {"Text1", "Text2", "Text3"}) {
        const auto relations = QAccessible::queryAccessibleInterface(control<QLineEdit>(window, name))
                                   ->relations(QAccessible::Label);
        labels << (relations.size() == 1 ? relations.first().first->text(QAccessible::Name) : QString());
    }
    QCOMPARE(labels, QStringList({"Location Scan", "Item Scan", "QTY Scan"}));
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

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

    void formLoad_listsEveryRecordInIdOrderWithItsTag_data();
    void formLoad_listsEveryRecordInIdOrderWithItsTag();
    void focusOrder_passesTheListBetweenTheLocationAndItemBoxes();
    void accessible_theProgramsWindowWithItsBoxesLabelled();
};

void TestStockMain::formLoad_listsEveryRecordInIdOrderWithItsTag_data()
{
    QTest::addColumn<std::vector<TableRow>>("stored");
    QTest::addColumn<std::vector<TableRow>>("listed");
    QTest::newRow("ids far apart") << std::vector<TableRow>{{7, "A12", "CODE-7", "3"}, {2, "", "", ""},
                                                            {40, "Größe", "数量", "QTY:9"}}
                                   << std::vector<TableRow>{{2, "", "", ""}, {7, "A12", "CODE-7", "3"},
                                                            {40, "Größe", "数量", "QTY:9"}};
    // Another tool may have stored one: the list must not ask for room for every id between.
    QTest::newRow("an absurd id") << std::vector<TableRow>{{4611686018427387904, "FAR", "C", "1"}, {1, "A", "B", "2"}}
                                  << std::vector<TableRow>{{1, "A", "B", "2"}, {4611686018427387904, "FAR", "C", "1"}};
}

void TestStockMain::formLoad_listsEveryRecordInIdOrderWithItsTag()
{
    QFETCH(std::vector<TableRow>, stored);
    QFETCH(std::vector<TableRow>, listed);
    StockFolder folder;
    folder.createWith(stored);
    StockMain window{StockStore(folder.path())};

    QCOMPARE(listedRows(window), listed);
    QCOMPARE(window.scanState().itemID, int(listed.size()) + 1);
    QCOMPARE(window.scanState().lastID, listed.back().id);
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

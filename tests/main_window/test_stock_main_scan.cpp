#include "look.h"
#include "stock_fixture.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <filesystem>

namespace {

// The main window over a temporary stock.mdb, shown and active, with the
// focus where a scanner would type.
class ScanWindow {
public:
    explicit ScanWindow(const std::vector<TableRow> &rows = {}, int busyTimeoutMs = StockStore::defaultBusyTimeoutMs)
    {
        if (!rows.empty())
            folder.createWith(rows);
        window = std::make_unique<StockMain>(StockStore(folder.path(), busyTimeoutMs));
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the main window did not become active");
    }

    // Types a label into the box that has the focus and ends it with Enter, as the scanner does.
    void scan(const QString &label, Qt::Key enter = Qt::Key_Return) const
    {
        QWidget *focus = QApplication::focusWidget();
        typeText(focus, label);
        QTest::keyClick(focus, enter);
    }

    QLineEdit *box(const char *name) const { return control<QLineEdit>(*window, name); }
    QString caption(const char *label) const { return control<QLabel>(*window, label)->text(); }
    QString focusName() const { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : ""; }
    // The item box, the quantity box and the control that has the focus.
    QStringList itemBoxesAndFocus() const { return {box("Text2")->text(), box("Text3")->text(), focusName()}; }
    const ScanState &state() const { return window->scanState(); }
    StockListModel &list() const { return window->listItems(); }
    void click(const char *button) const { QTest::mouseClick(control<QPushButton>(*window, button), Qt::LeftButton); }

    StockFolder folder;
    std::unique_ptr<StockMain> window;
};

} // namespace

class TestStockMainScan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void locationScan_setsPiecesAndCaptions();
    void locationScan_ignoresWhatIsNotALabel_data();
    void locationScan_ignoresWhatIsNotALabel();
    void locationScan_finlocMovesToTheItemBox();
    void keysOtherThanEnter_onlyChangeTheBox();

    void itemScan_controlLabelsAndCodes();
    void quantityScan_storesTheRecordThenListsIt();
    void quantityScan_labelsOtherThanQty();
    void quantityScan_beforeAnyLocationStoresAnEmptyLocation();
    void location_joinsRowRackShelfWhateverTheScanOrder();

    void add_storesTheBoxesAsTheyStandAtTheEnd();
    void add_afterAQuantityScanGoesAtTheEnd();
    void add_afterDeletesTagsTheIdTheStoreGave();
    void clear_dropsTheItemAndKeepsTheLocation();
    void exit_endsTheEventLoop();
    void listEnter_movesToTheItemBox();

    void scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus();
    void anyText_isStoredAndListedExactly();
    void failedCommit_isReportedAndListsNothing();
};

void TestStockMainScan::locationScan_setsPiecesAndCaptions()
{
    ScanWindow main;
    main.scan("ROW:A1");
    main.scan("SHELF:B");
    main.scan("RACK:7");
    QCOMPARE(main.caption("Row"), QString("Row:A1"));
    QCOMPARE(main.caption("Shelf"), QString("Shelf: B"));
    QCOMPARE(main.caption("Rack"), QString("Rack: 7"));
    QCOMPARE(main.state().rowNum, QString("A1"));
    QCOMPARE(main.state().shelfNum, QString("B"));
    QCOMPARE(main.state().rackNum, QString("7"));
    QCOMPARE(main.box("Text1")->text(), QString());
    QCOMPARE(main.focusName(), QString("Text1"));

    // A later scan of the same kind replaces its piece; values are never trimmed.
    main.scan("ROW:");
    QCOMPARE(main.caption("Row"), QString("Row:"));
    QCOMPARE(main.state().rowNum, QString());
    main.scan("SHELF: 4 ");
    QCOMPARE(main.caption("Shelf"), QString("Shelf:  4 "));
    QCOMPARE(main.state().shelfNum, QString(" 4 "));
    QVERIFY(main.folder.rows().empty());
}

void TestStockMainScan::locationScan_ignoresWhatIsNotALabel_data()
{
    QTest::addColumn<QString>("label");
    QTest::newRow("lower case") << "row:A1";
    QTest::newRow("leading blank") << " ROW:A1";
    QTest::newRow("empty") << "";
    QTest::newRow("item code") << "CODE-1";
    QTest::newRow("short") << "ROW";
}

void TestStockMainScan::locationScan_ignoresWhatIsNotALabel()
{
    QFETCH(QString, label);
    ScanWindow main;
    main.scan("ROW:A1");
    main.scan(label);
    QCOMPARE(main.caption("Row"), QString("Row:A1"));
    QCOMPARE(main.caption("Rack"), QString());
    QCOMPARE(main.caption("Shelf"), QString());
    QCOMPARE(main.state().rowNum, QString("A1"));
    QCOMPARE(main.box("Text1")->text(), QString());
    QCOMPARE(main.focusName(), QString("Text1"));
}

void TestStockMainScan::locationScan_finlocMovesToTheItemBox()
{
    for (const QString &label : {QString("FINLOC"), QString("FINLOCATION")}) {
        ScanWindow main;
        main.scan(label);
        QCOMPARE(main.focusName(), QString("Text2"));
        QCOMPARE(main.box("Text1")->text(), QString());
    }
}

void TestStockMainScan::keysOtherThanEnter_onlyChangeTheBox()
{
    ScanWindow main;
    QTest::keyClicks(main.box("Text1"), "ROW:A1");
    QTest::keyClick(main.box("Text1"), Qt::Key_Tab);
    QTest::keyClicks(main.box("Text3"), "QTY:5");
    QCOMPARE(main.box("Text1")->text(), QString("ROW:A1"));
    QCOMPARE(main.box("Text3")->text(), QString("QTY:5"));
    QCOMPARE(main.caption("Row"), QString());
    QCOMPARE(main.list().rowCount(), 0);
    QVERIFY(main.folder.rows().empty());
}

void TestStockMainScan::itemScan_controlLabelsAndCodes()
{
    ScanWindow main;
    main.scan("ROW:A1");
    main.scan("FINLOC");

    main.scan("CODE-1");
    QCOMPARE(main.focusName(), QString("Text3"));
    QCOMPARE(main.box("Text2")->text(), QString("CODE-1"));

    QTest::keyClicks(main.box("Text3"), "QTY:9");
    main.box("Text2")->setFocus();
    main.box("Text2")->setText("ERRORS");
    main.scan("");
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));

    main.scan("NEWLOC-7");
    QCOMPARE(main.focusName(), QString("Text1"));
    QCOMPARE(main.box("Text2")->text(), QString());
    QCOMPARE(main.caption("Row"), QString("Row:A1"));
    QCOMPARE(main.state().rowNum, QString("A1"));

    // An empty item box is an empty code.
    main.scan("FINLOC");
    main.scan("");
    QCOMPARE(main.focusName(), QString("Text3"));
    main.scan("QTY:5");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "A1", "", "5"}}));
}

void TestStockMainScan::quantityScan_storesTheRecordThenListsIt()
{
    ScanWindow main({{1, "X", "OLD-1", "1"}, {2, "X", "OLD-2", "2"}});
    main.scan("ROW:12");
    main.scan("RACK:3");
    main.scan("SHELF:B");
    main.scan("FINLOC");
    main.scan("CODE-12");
    main.scan("QTY:12");

    QCOMPARE(main.folder.rows().back(), (TableRow{3, "123B", "CODE-12", "12"}));
    QCOMPARE(main.list().rowCount(), 3);
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().lastID, 3);
    QCOMPARE(main.state().itemID, 4);
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));

    // The next item at the same shelf; the keypad's Enter ends a scan too.
    main.scan("CODE-13", Qt::Key_Enter);
    main.scan("QTY:", Qt::Key_Enter);
    QCOMPARE(main.folder.rows().back(), (TableRow{4, "123B", "CODE-13", ""}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().itemID, 5);
}

void TestStockMainScan::quantityScan_labelsOtherThanQty()
{
    ScanWindow main;
    main.scan("FINLOC");
    main.scan("CODE-1");

    main.scan("5");
    QCOMPARE(main.box("Text3")->text(), QString("5"));
    QCOMPARE(main.box("Text2")->text(), QString("CODE-1"));
    QCOMPARE(main.focusName(), QString("Text3"));

    main.box("Text3")->clear();
    main.scan("ERROR");
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
    QVERIFY(main.folder.rows().empty());
    QCOMPARE(main.list().rowCount(), 0);
}

void TestStockMainScan::quantityScan_beforeAnyLocationStoresAnEmptyLocation()
{
    ScanWindow main;
    main.box("Text2")->setFocus();
    main.scan("CODE-1");
    main.scan("QTY:1");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().itemID, 2);
}

void TestStockMainScan::location_joinsRowRackShelfWhateverTheScanOrder()
{
    ScanWindow main;
    main.scan("SHELF:2");
    main.scan("FINLOC");
    main.scan("C1");
    main.scan("QTY:1");
    main.scan("NEWLOC");
    main.scan("SHELF:2");
    main.scan("ROW:A");
    main.scan("RACK:03");
    main.scan("FINLOC");
    main.scan("C2");
    main.scan("QTY:2");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "2", "C1", "1"}, {2, "A032", "C2", "2"}}));
}

void TestStockMainScan::add_storesTheBoxesAsTheyStandAtTheEnd()
{
    ScanWindow main({{1, "A", "X", "1"}, {2, "B", "Y", "2"}});
    main.click("Command1");
    QCOMPARE(main.folder.rows().back(), (TableRow{3, "", "", ""}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().itemID, 4);

    main.box("Text1")->setFocus();
    main.scan("ROW:12");
    main.scan("RACK:3");
    main.box("Text2")->setText("CODE-7");
    main.box("Text3")->setText("QTY:7");
    main.click("Command1");
    main.box("Text2")->setText("CODE-8");
    main.click("Command1");

    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}, {2, "B", "Y", "2"}, {3, "", "", ""},
                                                        {4, "123", "CODE-7", "QTY:7"}, {5, "123", "CODE-8", ""}}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().itemID, 6);
    QCOMPARE(main.state().lastID, 5);
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
    QCOMPARE(main.caption("Row"), QString("Row:12"));
}

void TestStockMainScan::add_afterAQuantityScanGoesAtTheEnd()
{
    ScanWindow main;
    main.scan("FINLOC");
    main.scan("SCANNED");
    main.scan("QTY:1");
    main.box("Text2")->setText("ADDED-1");
    main.click("Command1");
    main.box("Text2")->setText("ADDED-2");
    main.click("Command1");

    QCOMPARE(listedRows(*main.window),
             (std::vector<TableRow>{{1, "", "SCANNED", "1"}, {2, "", "ADDED-1", ""}, {3, "", "ADDED-2", ""}}));
    QCOMPARE(main.folder.rows(), listedRows(*main.window));
    QCOMPARE(main.state().itemID, 4);
}

void TestStockMainScan::add_afterDeletesTagsTheIdTheStoreGave()
{
    ScanWindow main({{1, "A", "X", "1"}, {2, "B", "Y", "2"}, {3, "C", "Z", "3"}});
    // The newest record goes, in the table and in the list.
    main.window->store().DeleteById(3);
    main.window->removeItem(2);
    main.window->store().DeleteById(1);
    main.window->removeItem(0);

    main.box("Text2")->setText("NEW");
    main.click("Command1");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{2, "B", "Y", "2"}, {4, "", "NEW", ""}}));
    QCOMPARE(main.list().rowCount(), 2);
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.state().itemID, 3);
}

void TestStockMainScan::clear_dropsTheItemAndKeepsTheLocation()
{
    ScanWindow main({{1, "A", "X", "1"}});
    main.scan("ROW:A1");
    QTest::keyClicks(main.box("Text1"), "RACK:");
    main.box("Text2")->setText("CODE");
    main.box("Text3")->setText("QTY:4");
    main.click("Command2");

    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
    QCOMPARE(main.box("Text1")->text(), QString("RACK:"));
    QCOMPARE(main.caption("Row"), QString("Row:A1"));
    QCOMPARE(main.state().rowNum, QString("A1"));
    QCOMPARE(main.list().rowCount(), 1);
    QCOMPARE(main.folder.rows().size(), std::size_t(1));
}

void TestStockMainScan::exit_endsTheEventLoop()
{
    ScanWindow main;
    QTimer::singleShot(0, [&] { main.click("Command3"); });
    // Should Exit fail to end the loop, this ends it with another status.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(2); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

void TestStockMainScan::listEnter_movesToTheItemBox()
{
    ScanWindow main({{1, "A", "X", "1"}, {2, "B", "Y", "2"}});
    auto *list = control<StockListView>(*main.window, "ListView1");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(main.focusName(), QString("ListView1"));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(main.focusName(), QString("Text2"));
}

void TestStockMainScan::scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus()
{
    ScanWindow main;
    // The scanner's keys all wait in the window's queue before the first
    // handler runs, as they do while a handler is committing a record.
    const QStringList labels = {"ROW:A", "RACK:03", "SHELF:2", "FINLOC", "CODE-1", "QTY:5", "CODE-2",
                                "QTY:17", "NEWLOC", "ROW:B", "FINLOC", "CODE-3", "QTY:1"};
    QWindow *window = main.window->windowHandle();
    for (const QString &label : labels) {
        for (QChar c : label)
            QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, c));
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r"));
    }
    QTRY_COMPARE(main.list().rowCount(), 3);

    const std::vector<TableRow> stored = {{1, "A032", "CODE-1", "5"}, {2, "A032", "CODE-2", "17"},
                                          {3, "B032", "CODE-3", "1"}};
    QCOMPARE(main.folder.rows(), stored);
    QCOMPARE(listedRows(*main.window), stored);
    QCOMPARE(main.box("Text1")->text(), QString());
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
}

void TestStockMainScan::anyText_isStoredAndListedExactly()
{
    ScanWindow main;
    const QStringList codes = {"Größe", "数量", "🙂📦", "it's \"quoted\"", "back\\slash",
                               "1'; DROP TABLE Stock; --", "  blanks  "};
    main.scan("ROW:Reihe-ä");
    main.scan("FINLOC");
    for (const QString &code : codes) {
        main.scan(code);
        main.scan("QTY:" + code);
    }
    // A very long scan is kept whole: the boxes have no length limit.
    const QString longCode(100000, 'L');
    main.box("Text2")->setText(longCode);
    QTest::keyClick(main.box("Text2"), Qt::Key_Return);
    main.box("Text3")->setText("QTY:" + longCode);
    QTest::keyClick(main.box("Text3"), Qt::Key_Return);

    std::vector<TableRow> expected;
    for (const QString &code : codes + QStringList{longCode})
        expected.push_back({std::int64_t(expected.size() + 1), "Reihe-ä", code.toStdString(), code.toStdString()});
    QCOMPARE(main.folder.rows(), expected);
    QCOMPARE(listedRows(*main.window), expected);
}

void TestStockMainScan::failedCommit_isReportedAndListsNothing()
{
    ScanWindow main({{1, "A", "X", "1"}}, 50);
    main.scan("FINLOC");
    main.scan("CODE-2");
    ReportedErrors errors;
    {
        DatabaseLock lock(main.folder.databasePath());
        main.scan("QTY:2");
    }
    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, SQLITE_BUSY);
    QCOMPARE(main.list().rowCount(), 1);
    QCOMPARE(main.state().itemID, 2);
    QCOMPARE(main.state().lastID, 1);
    QCOMPARE(main.box("Text2")->text(), QString("CODE-2"));
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));

    // The file gone while the program runs: no fresh database is made in its place.
    std::filesystem::remove(main.folder.databasePath());
    main.click("Command1");
    QCOMPARE(errors.reports.size(), std::size_t(2));
    QCOMPARE(errors.reports[1].code, SQLITE_CANTOPEN);
    QVERIFY(toQString(errors.reports[1].text).contains(toQString(main.folder.databasePath())));
    QVERIFY(!std::filesystem::exists(main.folder.databasePath()));
    QCOMPARE(main.list().rowCount(), 1);
    QCOMPARE(main.state().itemID, 2);
}

QTEST_MAIN(TestStockMainScan)
#include "test_stock_main_scan.moc"

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

#include <sqlite3.h>

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
    // The Row, Rack and Shelf labels' captions.
    QStringList captions() const
    {
        return {control<QLabel>(*window, "Row")->text(), control<QLabel>(*window, "Rack")->text(),
                control<QLabel>(*window, "Shelf")->text()};
    }
    QString focusName() const { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : ""; }
    // The item box, the quantity box and the control that has the focus.
    QStringList itemBoxesAndFocus() const { return {box("Text2")->text(), box("Text3")->text(), focusName()}; }
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
    void keysOtherThanEnter_onlyChangeTheBox_andClearKeepsTheLocationBox();

    void itemScan_controlLabelsAndCodes();
    void location_joinsRowRackShelfWhateverTheScanOrder();

    void add_storesTheBoxesAsTheyStandWithTheIdTheStoreGave();
    void listEnter_movesToTheItemBox();

    void scan_isHeardAsStoredAcceptedOrRefused_data();
    void scan_isHeardAsStoredAcceptedOrRefused();
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
    QCOMPARE(main.captions(), QStringList({"Row:A1", "Rack: 7", "Shelf: B"}));
    // The box confirms each piece to a screen reader as its label shows it.
    QCOMPARE(main.box("Text1")->accessibleDescription(), QString("Rack: 7"));
    QCOMPARE(main.box("Text1")->text(), QString());
    QCOMPARE(main.focusName(), QString("Text1"));

    // A later scan of the same kind replaces its piece; values are never trimmed.
    main.scan("ROW:");
    main.scan("SHELF: 4 ");
    QCOMPARE(main.captions(), QStringList({"Row:", "Rack: 7", "Shelf:  4 "}));

    // Any label that starts with FINLOC ends the location.
    main.scan("FINLOCATION");
    QCOMPARE(main.focusName(), QString("Text2"));
    QCOMPARE(main.box("Text1")->text(), QString());
    main.scan("C");
    main.scan("QTY:1");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "7 4 ", "C", "1"}}));
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
    QCOMPARE(main.captions(), QStringList({"Row:A1", "", ""}));
    QCOMPARE(main.box("Text1")->text(), QString());
    QCOMPARE(main.focusName(), QString("Text1"));
}

void TestStockMainScan::keysOtherThanEnter_onlyChangeTheBox_andClearKeepsTheLocationBox()
{
    ScanWindow main;
    QTest::keyClicks(main.box("Text1"), "ROW:A1");
    // Ctrl+Enter is no scanner's Enter.
    QTest::keyClick(main.box("Text1"), Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(main.box("Text1"), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QTest::keyClick(main.box("Text1"), Qt::Key_Tab);
    QTest::keyClicks(main.box("Text3"), "QTY:5");
    QCOMPARE(main.box("Text1")->text(), QString("ROW:A1"));
    QCOMPARE(main.box("Text3")->text(), QString("QTY:5"));
    QCOMPARE(main.captions(), QStringList({"", "", ""}));
    QCOMPARE(main.list().rowCount(), 0);
    QVERIFY(main.folder.rows().empty());

    // Clear drops only the item: a location label half typed stays.
    main.click("Command2");
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
    QCOMPARE(main.box("Text1")->text(), QString("ROW:A1"));
}

void TestStockMainScan::itemScan_controlLabelsAndCodes()
{
    ScanWindow main;
    main.scan("ROW:A1");
    main.scan("FINLOC");

    main.scan("CODE-1");
    QCOMPARE(main.focusName(), QString("Text3"));
    QCOMPARE(main.box("Text2")->text(), QString("CODE-1"));
    // Anything but a quantity label stays in its box for the operator to correct.
    main.scan("5");
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"CODE-1", "5", "Text3"}));

    // ERROR and NEWLOC are known by their start.
    main.box("Text2")->setFocus();
    main.box("Text2")->setText("ERRORS");
    main.scan("");
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));

    main.scan("NEWLOC-7");
    QCOMPARE(main.focusName(), QString("Text1"));
    QCOMPARE(main.box("Text2")->text(), QString());

    // An empty item box is an empty code.
    main.scan("FINLOC");
    main.scan("");
    QCOMPARE(main.focusName(), QString("Text3"));
    main.scan("QTY:5");
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "A1", "", "5"}}));
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

void TestStockMainScan::add_storesTheBoxesAsTheyStandWithTheIdTheStoreGave()
{
    ScanWindow main({{1, "A", "X", "1"}, {2, "B", "Y", "2"}, {3, "C", "Z", "3"}});
    // The newest record goes, in the table and in the list: the store's next id is 4.
    main.window->store().DeleteById(3);
    main.window->removeItem(2);
    main.window->store().DeleteById(1);
    main.window->removeItem(0);
    HeardSounds sounds;

    main.click("Command1");
    main.box("Text1")->setFocus();
    main.scan("ROW:12");
    main.scan("RACK:3");
    // Scans between the Adds, ended by the keypad's Enter, with an empty quantity.
    main.scan("FINLOC", Qt::Key_Enter);
    main.scan("SCANNED", Qt::Key_Enter);
    main.scan("QTY:", Qt::Key_Enter);
    main.box("Text2")->setText("CODE-7");
    main.box("Text3")->setText("QTY:7");
    main.click("Command1");

    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{2, "B", "Y", "2"}, {4, "", "", ""},
                                                        {5, "123", "SCANNED", ""}, {6, "123", "CODE-7", "QTY:7"}}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.itemBoxesAndFocus(), QStringList({"", "", "Text2"}));
    QCOMPARE(sounds.sounds, QStringList({"stored", "accepted", "accepted", "accepted", "accepted", "stored",
                                         "stored"}));
    // The focused item box tells a screen reader what was stored.
    QCOMPARE(main.box("Text2")->accessibleDescription(), QString("Stored row 4: 123, CODE-7, QTY:7"));
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

void TestStockMainScan::scan_isHeardAsStoredAcceptedOrRefused_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("heard");
    const QStringList inItemBox = {"FINLOC"};
    const QStringList inQtyBox = {"FINLOC", "CODE-1"};
    const QStringList accepted = {"accepted"};
    const QStringList refused = {"refused"};
    QTest::newRow("row") << QStringList() << "ROW:A1" << accepted;
    QTest::newRow("rack") << QStringList() << "RACK:3" << accepted;
    QTest::newRow("shelf") << QStringList() << "SHELF:2" << accepted;
    QTest::newRow("FINLOC") << QStringList() << "FINLOC" << accepted;
    QTest::newRow("code in the location box") << QStringList() << "CODE-1" << refused;
    QTest::newRow("quantity in the location box") << QStringList() << "QTY:5" << refused;
    QTest::newRow("empty location box") << QStringList() << "" << QStringList();
    QTest::newRow("NEWLOC") << inItemBox << "NEWLOC" << accepted;
    QTest::newRow("ERROR in the item box") << inItemBox << "ERROR" << accepted;
    QTest::newRow("item code") << inItemBox << "CODE-1" << accepted;
    QTest::newRow("empty item box") << inItemBox << "" << QStringList();
    QTest::newRow("quantity") << inQtyBox << "QTY:5" << QStringList({"stored"});
    QTest::newRow("ERROR in the quantity box") << inQtyBox << "ERROR" << accepted;
    QTest::newRow("number without QTY:") << inQtyBox << "5" << refused;
    QTest::newRow("NEWLOC in the quantity box") << inQtyBox << "NEWLOC" << refused;
    QTest::newRow("empty quantity box") << inQtyBox << "" << QStringList();
}

void TestStockMainScan::scan_isHeardAsStoredAcceptedOrRefused()
{
    QFETCH(QStringList, before);
    QFETCH(QString, label);
    QFETCH(QStringList, heard);
    ScanWindow main;
    for (const QString &scan : before)
        main.scan(scan);
    HeardSounds sounds;
    main.scan(label);
    QCOMPARE(sounds.sounds, heard);
}

void TestStockMainScan::scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus()
{
    ScanWindow main;
    HeardSounds sounds;
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
    // Each scan heard, in the order scanned.
    QCOMPARE(sounds.sounds, QStringList({"accepted", "accepted", "accepted", "accepted", "accepted", "stored",
                                         "accepted", "stored", "accepted", "accepted", "accepted", "accepted",
                                         "stored"}));

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
    HeardSounds sounds;
    {
        DatabaseLock lock(main.folder.databasePath());
        main.scan("QTY:2");
    }
    QCOMPARE(sounds.sounds, QStringList({"refused"}));
    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, SQLITE_BUSY);
    QCOMPARE(main.folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));
    QCOMPARE(listedRows(*main.window), main.folder.rows());
    QCOMPARE(main.box("Text2")->text(), QString("CODE-2"));
}

QTEST_MAIN(TestStockMainScan)
#include "test_stock_main_scan.moc"

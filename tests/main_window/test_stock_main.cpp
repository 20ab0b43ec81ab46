#include "look.h"
#include "stock_fixture.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

using Rows = std::vector<TableRow>;

namespace {

// The main window over a temporary stock.mdb, shown and active, the focus where a scanner types.
struct ScanWindow {
    explicit ScanWindow(const Rows &rows = {}, int busyTimeoutMs = StockStore::defaultBusyTimeoutMs)
    {
        if (!rows.empty())
            folder.createWith(rows);
        window = std::make_unique<StockMain>(StockStore(folder.path(), busyTimeoutMs));
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the main window did not become active");
    }

    // Types a label into the box with the focus and ends it with Enter, as the scanner does.
    void scan(const QString &label) const
    {
        QWidget *focus = QApplication::focusWidget();
        typeText(focus, label);
        QTest::keyClick(focus, Qt::Key_Return);
    }
    QLineEdit *box(const char *name) const { return control<QLineEdit>(*window, name); }
    // The location captions, the three boxes, the focus and what the boxes tell a screen reader.
    QStringList state() const
    {
        QStringList state;
        for (const char *label : {"Row", "Rack", "Shelf"})
            state << control<QLabel>(*window, label)->text();
        for (const char *name : {"Text1", "Text2", "Text3"})
            state << box(name)->text();
        return state << QApplication::focusWidget()->objectName() << box("Text1")->accessibleDescription()
                     << box("Text2")->accessibleDescription();
    }
    void click(const char *button) const { QTest::mouseClick(control<QPushButton>(*window, button), Qt::LeftButton); }

    StockFolder folder;
    std::unique_ptr<StockMain> window;
};

} // namespace

class TestStockMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }
    void scans_data();
    void scans();
    void load_tabOrder_keys_add_clear();
    void scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus();
    void failedCommit_isReportedAndListsNothing();
};

void TestStockMain::scans_data()
{
    QTest::addColumn<QStringList>("scans");
    QTest::addColumn<QStringList>("state"); // as ScanWindow::state
    QTest::addColumn<Rows>("stored");
    QTest::addColumn<QStringList>("heard");
    const QString a = "accepted", r = "refused", s = "stored";
    QTest::newRow("pieces replaced, never trimmed")
        << QStringList{"ROW:A1", "SHELF:B", "RACK:7", "ROW:", "SHELF: 4 "}
        << QStringList{"Row:", "Rack: 7", "Shelf:  4 ", "", "", "", "Text1", "Shelf:  4 ", ""} << Rows{}
        << QStringList{a, a, a, a, a};
    QTest::newRow("not a location label")
        << QStringList{"ROW:A1", "row:B", " ROW:C", "", "CODE-1", "ROW", "QTY:5", "NEWLOC"}
        << QStringList{"Row:A1", "", "", "", "", "", "Text1", "Row:A1", ""} << Rows{}
        << QStringList{a, r, r, r, r, r, r};
    QTest::newRow("location joined row, rack, shelf")
        << QStringList{"SHELF:2", "FINLOC", "C1", "QTY:1", "NEWLOC", "SHELF:2", "ROW:A", "RACK:03", "FINLOCATION",
                       "C2", "QTY:2"}
        << QStringList{"Row:A", "Rack: 03", "Shelf: 2", "", "", "", "Text2", "Rack: 03", "Stored row 2: A032, C2, 2"}
        << Rows{{1, "2", "C1", "1"}, {2, "A032", "C2", "2"}} << QStringList{a, a, a, s, a, a, a, a, a, a, s};
    QTest::newRow("item and quantity boxes")
        << QStringList{"ROW:A1", "FINLOC", "CODE-1", "ERROR", "ERRORS", "NEWLOC-7", "FINLOC", "", "QTY:5", "CODE-2",
                       "5"}
        << QStringList{"Row:A1", "", "", "", "CODE-2", "5", "Text3", "Row:A1", "Stored row 1: A1, , 5"}
        << Rows{{1, "A1", "", "5"}} << QStringList{a, a, a, a, a, a, a, s, a, r};
    QTest::newRow("any text, exactly")
        << QStringList{"ROW:Reihe-ä", "FINLOC", "Größe", "QTY:数量", "🙂'; DROP TABLE Stock; --", "QTY:  \"x\\ "}
        << QStringList{"Row:Reihe-ä", "", "", "", "", "", "Text2", "Row:Reihe-ä",
                       "Stored row 2: Reihe-ä, 🙂'; DROP TABLE Stock; --,   \"x\\ "}
        << Rows{{1, "Reihe-ä", "Größe", "数量"}, {2, "Reihe-ä", "🙂'; DROP TABLE Stock; --", "  \"x\\ "}}
        << QStringList{a, a, a, s, a, s};
}

void TestStockMain::scans()
{
    QFETCH(QStringList, scans);
    ScanWindow main;
    HeardSounds sounds;
    for (const QString &label : scans)
        main.scan(label);
    QTEST(main.state(), "state");
    QTEST(main.folder.rows(), "stored");
    QTEST(listedRows(*main.window), "stored");
    QTEST(sounds.sounds, "heard");
}

void TestStockMain::load_tabOrder_keys_add_clear()
{
    ScanWindow main({{7, "A12", "CODE-7", "3"}, {2, "", "", ""}, {40, "Größe", "数量", "QTY:9"}});
    Rows rows{{2, "", "", ""}, {7, "A12", "CODE-7", "3"}, {40, "Größe", "数量", "QTY:9"}};
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(main.window->scanState().itemID, 4);
    QCOMPARE(main.window->scanState().lastID, 40);
    QCOMPARE(tabStops(), QStringList({"Text1", "ListView1", "Text2", "Text3", "Command1", "Command2", "Command3",
                                      "Command4", "Command5"}));
    QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(main.window.get());
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), QString("Quillmarch::Main"));
    QStringList labels;
    for (const char *name : {"Text1", "Text2", "Text3"})
        for (const auto &[label, relation] :
             QAccessible::queryAccessibleInterface(main.box(name))->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
    QCOMPARE(labels, QStringList({"Location Scan", "Item Scan", "QTY Scan"}));

    // Ctrl+Enter is no scanner's Enter; the keypad's Enter is.
    QTest::keyClicks(main.box("Text1"), "ROW:A1");
    QTest::keyClick(main.box("Text1"), Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(main.box("Text1"), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QCOMPARE(main.state()[0], QString());
    QTest::keyClick(main.box("Text1"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(main.state()[0], QString("Row:A1"));

    // Add stores the boxes as they stand, its tag the id the store gave; Clear keeps the location box.
    main.box("Text1")->setText("RACK:");
    main.box("Text2")->setText("CODE-1");
    main.box("Text3")->setText("QTY:7");
    main.click("Command1");
    rows.push_back({41, "A1", "CODE-1", "QTY:7"});
    QCOMPARE(main.folder.rows(), rows);
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(main.window->scanState().itemID, 5);
    main.box("Text2")->setText("X");
    main.box("Text3")->setText("Y");
    main.click("Command2");
    QCOMPARE(main.state().mid(3, 4), QStringList({"RACK:", "", "", "Text2"}));

    // Enter in the list goes on to the item box.
    auto *list = control<StockListView>(*main.window, "ListView1");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), main.box("Text2"));
}

void TestStockMain::scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus()
{
    ScanWindow main;
    // Every key waits in the queue before the first handler runs, as while a record is committed.
    for (const QString &label : QStringList{"ROW:A", "FINLOC", "CODE-1", "QTY:5", "NEWLOC", "ROW:B", "FINLOC", "C3", "QTY:1"}) {
        for (QChar c : label + '\r')
            QCoreApplication::postEvent(main.window->windowHandle(),
                                        new QKeyEvent(QEvent::KeyPress, c == '\r' ? Qt::Key_Return : Qt::Key_unknown,
                                                      Qt::NoModifier, c));
    }
    QTRY_COMPARE(main.folder.rows(), (Rows{{1, "A", "CODE-1", "5"}, {2, "B", "C3", "1"}}));
    QCOMPARE(main.state().mid(3, 4), QStringList({"", "", "", "Text2"}));
}

void TestStockMain::failedCommit_isReportedAndListsNothing()
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
    QCOMPARE(listedRows(*main.window), (Rows{{1, "A", "X", "1"}}));
    QCOMPARE(main.state().mid(4, 3), QStringList({"CODE-2", "QTY:2", "Text3"}));
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

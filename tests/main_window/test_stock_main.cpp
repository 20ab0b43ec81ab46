#include "look.h"
#include "stock_fixture.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <sqlite3.h>

using Rows = std::vector<TableRow>;

namespace {

// The main window over a temporary stock.mdb, shown and active, the focus where a scanner types.
struct ScanWindow {
    explicit ScanWindow(const Rows &rows = {}, int busyTimeoutMs = StockStore::defaultBusyTimeoutMs)
    {
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


// The list as the main window sets it up, shown, over rows "L<n>", "C<n>", "1".
struct ShownList {
    explicit ShownList(int rows)
    {
        StockRows loaded;
        for (int row = 0; row < rows; ++row)
            loaded.append(row + 1, "L" + std::to_string(row), "C" + std::to_string(row), "1");
        model.setRows(std::move(loaded));
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
        view.resize(400, 300);
        view.show();
        if (!QTest::qWaitForWindowActive(&view))
            qFatal("the list did not become active");
    }
    QModelIndex at(int row, int column = 0) const { return model.index(row, column); }
    QRect rect(int row, int column = 0) const { return view.visualRect(at(row, column)); }
    int bottom() const { return view.viewport()->height() - 1; }

    StockListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
    StockListView view;
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
    void list_geometryMouseAndKeys();
    void accessible_tableOfCellsUnderTheTitles();
};

void TestStockMain::scans_data()
{
    QTest::addColumn<QStringList>("scans");
    QTest::addColumn<QStringList>("state"); // as ScanWindow::state
    QTest::addColumn<Rows>("stored");
    QTest::addColumn<QStringList>("heard");
    const QString a = "accepted", r = "refused", s = "stored";
    // Long enough for a longer length mark in the list's rows.
    const QString longCode = "Größe" + QString(200, 'g');
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
        << QStringList{"ROW:Reihe-ä", "FINLOC", longCode, "QTY:数量", "🙂'; DROP TABLE Stock; --", "QTY:  \"x\\ "}
        << QStringList{"Row:Reihe-ä", "", "", "", "", "", "Text2", "Row:Reihe-ä",
                       "Stored row 2: Reihe-ä, 🙂'; DROP TABLE Stock; --,   \"x\\ "}
        << Rows{{1, "Reihe-ä", longCode.toStdString(), "数量"}, {2, "Reihe-ä", "🙂'; DROP TABLE Stock; --", "  \"x\\ "}}
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
    ScanWindow main({{7, "A12", "CODE-7", "3"}, {2, "", "", ""}, {40, "Größe", "数量", "QTY:9"}}, 50);
    Rows rows{{2, "", "", ""}, {7, "A12", "CODE-7", "3"}, {40, "Größe", "数量", "QTY:9"}};
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(main.window->scanState().itemID, 4);
    QCOMPARE(main.window->scanState().lastID, 40);
    QCOMPARE(tabStops(), QStringList({"Text1", "ListView1", "Text2", "Text3", "Command1", "Command2", "Command3",
                                      "Command4", "Command5"}));
    QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(main.window.get());
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), QString("Quillmarch::Main"));

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
    QCOMPARE(main.window->scanState().itemID, 5);
    main.box("Text2")->setText("X");
    main.box("Text3")->setText("Y");
    main.click("Command2");
    QCOMPARE(main.state().mid(3, 4), QStringList({"RACK:", "", "", "Text2"}));

    // A count the store cannot commit is reported, refused and not listed; the boxes stay.
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
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(main.state().mid(4, 3), QStringList({"CODE-2", "QTY:2", "Text3"}));

    // Enter in the list goes on to the item box.
    auto *list = control<StockListView>(*main.window, "ListView1");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), main.box("Text2"));
}

void TestStockMain::scannerSpeed_queuedKeysReachTheBoxThatGetsTheFocus()
{
    ScanWindow main;
    // Every key waits in the queue before the first handler runs, as while a record is committed.
    for (QChar c : QString("ROW:A\rFINLOC\rCODE-1\rQTY:5\rNEWLOC\rROW:B\rFINLOC\rC3\rQTY:1\r"))
        QCoreApplication::postEvent(main.window->windowHandle(),
                                    new QKeyEvent(QEvent::KeyPress, c == '\r' ? Qt::Key_Return : Qt::Key_unknown,
                                                  Qt::NoModifier, c));
    QTRY_COMPARE(main.folder.rows(), (Rows{{1, "A", "CODE-1", "5"}, {2, "B", "C3", "1"}}));
    QCOMPARE(main.state().mid(3, 4), QStringList({"", "", "", "Text2"}));
}

void TestStockMain::list_geometryMouseAndKeys()
{
    ShownList list(100000);
    QHeaderView *header = list.view.header();
    const int height = list.view.rowHeight();
    QCOMPARE(list.rect(0, 1), QRect(header->sectionPosition(1), 0, header->sectionSize(1), height));
    list.view.scrollTo(list.at(50000), QAbstractItemView::PositionAtCenter);
    QCOMPARE(list.rect(50000).top(), (list.bottom() + 1 - height) / 2);
    QCOMPARE(list.view.indexAt(list.rect(50000, 2).topLeft()), list.at(50000, 2));
    QCOMPARE(list.view.indexAt(list.rect(50000, 2).bottomRight()), list.at(50000, 2));
    list.view.scrollTo(list.at(10));
    QCOMPARE(list.rect(10).top(), 0);

    // The last row whole at the bottom as rows come; the scroll range follows rows going.
    list.model.insertItem(100000, 100001, "L", "NEW", "1");
    list.view.scrollToBottom();
    QCOMPARE(list.view.indexAt(QPoint(1, list.bottom())), list.at(100000));
    QVERIFY(!list.view.indexAt(QPoint(1, list.bottom() + 1)).isValid());
    QVERIFY(!list.view.indexAt(QPoint(header->length() + 1, 0)).isValid());
    QCOMPARE(list.view.verticalScrollBar()->maximum(), 100001 * height - list.bottom() - 1);
    list.model.removeItem(500);
    QTRY_COMPARE(list.view.verticalScrollBar()->maximum(), 100000 * height - list.bottom() - 1);

    // Sideways the header and the rows move together.
    list.view.resize(150, 300);
    QTRY_COMPARE(list.view.horizontalScrollBar()->maximum(), header->length() - list.view.viewport()->width());
    list.view.horizontalScrollBar()->setValue(50);
    QCOMPARE(header->offset(), 50);
    QCOMPARE(list.rect(10, 1).left(), header->sectionPosition(1) - 50);
    QCOMPARE(list.view.indexAt(QPoint(header->sectionPosition(1) - 50, 0)).column(), 1);
    list.view.resize(400, 300);
    list.view.scrollToTop();

    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rect(2, 1).center());
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(2)}));
    // The selected row is painted selected from edge to edge, the others not.
    const QImage shot = list.view.viewport()->grab().toImage();
    const auto selectedAt = [&](int x, int y) { return qGray(shot.pixel(x, y)) < 200; }; // the highlight, not white
    for (int column = 0; column < 3; ++column) {
        const QRect cell = list.rect(2, column);
        QVERIFY(selectedAt(cell.right() - 3, cell.top() + 3) && selectedAt(cell.right() - 3, cell.bottom() - 3));
        QVERIFY(!selectedAt(cell.right() - 3, cell.bottom() + 3));
    }
    QList<int> rows;
    // A code scanned into the list searches nothing.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Left, Qt::Key_L, Qt::Key_PageDown, Qt::Key_PageUp,
                        Qt::Key_End, Qt::Key_Down, Qt::Key_Home, Qt::Key_Up}) {
        QTest::keyClick(&list.view, key);
        rows << list.view.currentIndex().row();
    }
    const int page = list.view.viewport()->height() / list.view.rowHeight();
    QCOMPARE(rows, QList<int>({3, 2, 2, 2, 2 + page, 2, 100000 - 1, 100000 - 1, 0, 0}));
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(0)}));
}

void TestStockMain::accessible_tableOfCellsUnderTheTitles()
{
    ShownList list(5);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list.view);
    QAccessibleTableInterface *table = iface->tableInterface();
    const auto name = [](QAccessibleInterface *cell) { return cell ? cell->text(QAccessible::Name) : "(none)"; };
    QVERIFY(iface->role() == QAccessible::Table && table);
    QCOMPARE(QList<int>({table->rowCount(), table->columnCount(), iface->childCount()}), QList<int>({5, 3, 18}));
    QCOMPARE(name(iface->child(0)) + name(iface->child(1)) + name(iface->child(2)), QString("LocationCodeQTY"));
    QCOMPARE(iface->child(2)->role(), QAccessible::ColumnHeader);

    // A cell is one object however it is reached, and knows its place and title.
    QAccessibleInterface *cell = table->cellAt(1, 1);
    QCOMPARE(name(cell) + name(table->cellAt(4, 2)) + name(table->cellAt(3, 0)), QStringLiteral("C11L3"));
    QCOMPARE(cell->role(), QAccessible::Cell);
    QCOMPARE(iface->child(2 * 3 + 1), cell);
    QCOMPARE(iface->indexOfChild(cell), 2 * 3 + 1);
    QCOMPARE(iface->indexOfChild(iface->child(2)), 2);
    QCOMPARE(cell->parent(), iface);
    QAccessibleTableCellInterface *place = cell->tableCellInterface();
    QCOMPARE(QPoint(place->rowIndex(), place->columnIndex()), QPoint(1, 1));
    QCOMPARE(name(place->columnHeaderCells().value(0)), QStringLiteral("Code"));
    QCOMPARE(cell->rect(), QRect(list.view.viewport()->mapToGlobal(list.rect(1, 1).topLeft()), list.rect(1, 1).size()));
    QCOMPARE(iface->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);

    // Out of range: a cell to ask, at no place, selected in nothing; no child.
    for (const auto &[row, column] : {std::pair(5, 0), std::pair(-1, 0), std::pair(0, 3), std::pair(0, -1)}) {
        QAccessibleInterface *none = table->cellAt(row, column);
        QVERIFY(none && none->tableCellInterface() && !none->tableCellInterface()->isSelected());
        QCOMPARE(name(none) + QString::number(none->tableCellInterface()->rowIndex()), QString("-1"));
    }
    QVERIFY(!iface->child(iface->childCount()) && !iface->child(-1) && !table->isRowSelected(5));

    // The row clicked is selected, and the focused cell follows the keys.
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rect(3, 1).center());
    QCOMPARE(table->selectedRows(), QList<int>({3}));
    QCOMPARE(table->selectedCellCount(), 3);
    QVERIFY(table->isRowSelected(3) && !table->isRowSelected(2) && !place->isSelected());
    QVERIFY(table->cellAt(3, 2)->tableCellInterface()->isSelected());
    QCOMPARE(iface->focusChild(), table->cellAt(3, 1));
    QVERIFY(iface->focusChild()->state().focused);
    QTest::keyClick(&list.view, Qt::Key_Up);
    QCOMPARE(iface->focusChild(), table->cellAt(2, 1));

    // Kept cells keep their ids as rows come and go above them; a removed row's go.
    const auto idOf = [&](int row, int column) { return QAccessible::uniqueId(table->cellAt(row, column)); };
    const QAccessible::Id fourth = idOf(3, 1);
    const QAccessible::Id last = idOf(4, 0);
    // A huge cell shows its first 300 characters and an ellipsis; the row keeps it whole.
    list.model.insertItem(0, 100, QString("数").repeated(301), "C-NEW", "1");
    QCOMPARE(QList<QAccessible::Id>({idOf(4, 1), idOf(5, 0)}), QList<QAccessible::Id>({fourth, last}));
    QCOMPARE(name(table->cellAt(4, 1)) + name(table->cellAt(0, 1)), QStringLiteral("C3C-NEW"));
    QCOMPARE(name(table->cellAt(0, 0)), QString("数").repeated(300) + QChar(0x2026));
    QCOMPARE(list.model.text(0, StockListModel::LocationColumn), QString("数").repeated(301));
    list.model.removeItem(5);
    QCOMPARE(QAccessible::accessibleInterface(last), nullptr);
    list.model.removeItem(0);
    QCOMPARE(idOf(3, 1), fourth);
    QCOMPARE(table->cellAt(3, 1)->tableCellInterface()->rowIndex(), 3);
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

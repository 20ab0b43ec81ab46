#include "frm_about.h"
#include "location_select.h"
#include "look.h"
#include "stock_fixture.h"
#include "stock_item.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <limits>

#include <sqlite3.h>

using Rows = std::vector<TableRow>;

namespace {

QLineEdit *box(QWidget &window, int number)
{
    return control<QLineEdit>(window, qPrintable("Text" + QString::number(number)));
}

void click(QWidget &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

// The main window over a temporary stock.mdb, shown and active, the focus where a scanner types.
struct ScanWindow {
    explicit ScanWindow(const Rows &rows = {})
        : window((folder.createWith(rows), std::make_unique<StockMain>(StockStore(folder.path(), 0))))
    {
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the main window did not become active");
    }

    // Types a label into the box with the focus and ends it with Enter, as the scanner does.
    void scan(const QString &label) const
    {
        typeText(QApplication::focusWidget(), label);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    // The location captions, the three boxes, the focus and what the boxes tell a screen reader.
    QStringList state() const
    {
        QStringList state;
        for (const char *name : {"Row", "Rack", "Shelf", "Text1", "Text2", "Text3"})
            state << control<QWidget>(*window, name)->property("text").toString();
        return state << QApplication::focusWidget()->objectName() << box(*window, 1)->accessibleDescription()
                     << box(*window, 2)->accessibleDescription();
    }
    // A double-click as the mouse makes it: a click, then the second press.
    void doubleClick(int row, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) const
    {
        const QPoint centre = view.visualRect(window->listItems().index(row, 0)).center();
        QTest::mouseClick(view.viewport(), button, modifiers, centre);
        QTest::mouseDClick(view.viewport(), button, modifiers, centre);
    }
    // Opens a list row's editor and runs interact in it; returns whether one opened.
    bool editRow(int row, const std::function<void(StockItem &)> &interact) const
    {
        return whileModal<StockItem>([&] { doubleClick(row); }, interact);
    }

    StockFolder folder;
    ReportedErrors errors; // an unexpected report fails a check instead of waiting in a message box
    std::unique_ptr<StockMain> window;
    StockListView &view = *control<StockListView>(*window, "ListView1");
};


// Rows "L<n>", "C<n>", "1" with ids from 1.
Rows numbered(int count)
{
    Rows rows;
    for (int row = 0; row < count; ++row)
        rows.push_back({row + 1, "L" + std::to_string(row), "C" + std::to_string(row), "1"});
    return rows;
}

// The main window's list, its model checked throughout.
struct ShownList : ScanWindow {
    explicit ShownList(int rows) : ScanWindow(numbered(rows)) {}
    QModelIndex at(int row, int column = 0) const { return model.index(row, column); }
    QRect rect(int row, int column = 0) const { return view.visualRect(at(row, column)); }
    int bottom() const { return view.viewport()->height() - 1; }

    StockListModel &model = window->listItems();
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

// Ids that are not list positions, so a row is found by its tag only.
const Rows threeRows = {{3, "A1", "CODE-1", "5"}, {5, "B2", "CODE-2", "7"}, {9, "C3", "CODE-3", "9"}};

QStringList boxTexts(StockItem &dialog)
{
    return {box(dialog, 1)->text(), box(dialog, 2)->text(), box(dialog, 3)->text()};
}

void retype(StockItem &dialog, const QStringList &texts)
{
    for (int i = 0; i < 3; ++i) {
        box(dialog, i + 1)->clear();
        typeText(box(dialog, i + 1), texts[i]);
    }
}

const auto opensNothing = [](StockItem &) { QFAIL("the item editor opened"); };

} // namespace

// Stands in for the browser: records every address the program asks to open.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

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
    void itemEditor_opensTheSelectedRecordAsStoredNow();
    void itemEditor_saveAndDelete_data();
    void itemEditor_saveAndDelete();
    void locationSelect_setsEachPieceUntilClosed();
    void about_opensAFreshCentredModalBox_readAndLinked();
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
    QTest::newRow("pieces replaced, never trimmed; not a location label")
        << QStringList{"SHELF:B", "RACK:7", "ROW:A1", "SHELF: 4 ", "ROW:", "row:B", " ROW:C", "", "CODE-1", "ROW",
                       "QTY:5", "NEWLOC"}
        << QStringList{"Row:", "Rack: 7", "Shelf:  4 ", "", "", "", "Text1", "Row:", ""} << Rows{}
        << QStringList{a, a, a, a, a, r, r, r, r, r, r};
    QTest::newRow("location joined row, rack, shelf")
        << QStringList{"SHELF:2", "FINLOC", "C1", "QTY:1", "NEWLOC", "SHELF:2", "ROW:A", "RACK:03", "FINLOCATION",
                       "C2", "QTY:2"}
        << QStringList{"Row:A", "Rack: 03", "Shelf: 2", "", "", "", "Text2", "Rack: 03", "Stored row 2: A032, C2, 2"}
        << Rows{{1, "2", "C1", "1"}, {2, "A032", "C2", "2"}} << QStringList{a, a, a, s, a, a, a, a, a, a, s};
    QTest::newRow("item and quantity boxes")
        << QStringList{"ROW:A1", "FINLOC", "CODE-1", "ERROR", "ERRORS", "NEWLOC-7", "FINLOC", "", "QTY:5", "CODE-2",
                       "5 QTY:5"}
        << QStringList{"Row:A1", "", "", "", "CODE-2", "5 QTY:5", "Text3", "Row:A1", "Stored row 1: A1, , 5"}
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
    // Ids as another tool may leave them: far apart, the lowest there is, one so high that
    // room for every id between would not fit; a cell of megabytes.
    constexpr qint64 lowest = std::numeric_limits<qint64>::min(), far = qint64(1) << 62;
    const std::string megabytes(3 << 20, 'm');
    ScanWindow main({{7, "A12", megabytes, "3"}, {lowest, "", "", ""}, {far, "Größe", "数量", "QTY:9"}});
    Rows rows{{lowest, "", "", ""}, {7, "A12", megabytes, "3"}, {far, "Größe", "数量", "QTY:9"}}; // in id order
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(QList<qint64>({main.window->scanState().itemID, main.window->scanState().lastID}), QList<qint64>({4, far}));
    QCOMPARE(tabStops(), QStringList({"Text1", "ListView1", "Text2", "Text3", "Command1", "Command2", "Command3",
                                      "Command4", "Command5"}));
    QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(main.window.get());
    QCOMPARE(frame->text(QAccessible::Name) + QString::number(frame->role()), "Quillmarch::Main" + QString::number(QAccessible::Window));

    // Ctrl+Enter is no scanner's Enter; the keypad's Enter is.
    QTest::keyClicks(box(*main.window, 1), "ROW:A1");
    QTest::keyClick(box(*main.window, 1), Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(box(*main.window, 1), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    const QString before = main.state()[0];
    QTest::keyClick(box(*main.window, 1), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(before + "|" + main.state()[0], QString("|Row:A1"));

    // Add stores the boxes as they stand, its tag the id the store gave.
    box(*main.window, 1)->setText("RACK:");
    box(*main.window, 2)->setText("CODE-1");
    box(*main.window, 3)->setText("QTY:7");
    click(*main.window, "Command1");
    rows.push_back({far + 1, "A1", "CODE-1", "QTY:7"});
    QCOMPARE(main.folder.rows(), rows);

    // A count the store cannot commit is reported, refused and not listed; the boxes stay
    // until Clear empties the item's, but not the location box.
    main.scan("CODE-2");
    HeardSounds sounds;
    {
        DatabaseLock lock(main.folder.databasePath());
        main.scan("QTY:2");
    }
    QCOMPARE(sounds.sounds, QStringList({"refused"}));
    QCOMPARE(main.errors.reports.size() == 1 ? main.errors.reports[0].code : -1, SQLITE_BUSY);
    QCOMPARE(listedRows(*main.window), rows);
    QCOMPARE(main.state().mid(4, 3), QStringList({"CODE-2", "QTY:2", "Text3"}));
    click(*main.window, "Command2");
    QCOMPARE(main.state().mid(3, 4), QStringList({"RACK:", "", "", "Text2"}));

    // Enter in the list goes on to the item box.
    control<StockListView>(*main.window, "ListView1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), box(*main.window, 2));
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
    ShownList list(20000);
    QHeaderView *header = list.view.header();
    const int height = list.view.rowHeight();
    QCOMPARE(list.rect(0, 1), QRect(header->sectionPosition(1), 0, header->sectionSize(1), height));
    list.view.scrollTo(list.at(5000), QAbstractItemView::PositionAtCenter);
    QCOMPARE(list.rect(5000).top(), (list.bottom() + 1 - height) / 2);
    QVERIFY(list.view.indexAt(list.rect(5000, 2).topLeft()) == list.at(5000, 2)
            && list.view.indexAt(list.rect(5000, 2).bottomRight()) == list.at(5000, 2));
    list.view.scrollTo(list.at(9000));
    QCOMPARE(list.rect(9000).bottom(), list.bottom());

    // The last row whole at the bottom as rows come; the scroll range follows rows going.
    list.model.insertItem(20000, 20001, "L", "NEW", "1");
    list.view.scrollToBottom();
    QCOMPARE(list.view.indexAt(QPoint(1, list.bottom())), list.at(20000));
    QVERIFY(!list.view.indexAt(QPoint(1, list.bottom() + 1)).isValid()
            && !list.view.indexAt(QPoint(header->length() + 1, 0)).isValid());
    QCOMPARE(list.view.verticalScrollBar()->maximum(), 20001 * height - list.bottom() - 1);
    list.model.removeItem(500);
    QTRY_COMPARE(list.view.verticalScrollBar()->maximum(), 20000 * height - list.bottom() - 1);

    // Sideways the header and the rows move together.
    const QSize size = list.view.size();
    list.view.resize(150, 300);
    QTRY_COMPARE(list.view.horizontalScrollBar()->maximum(), header->length() - list.view.viewport()->width());
    list.view.horizontalScrollBar()->setValue(50);
    QCOMPARE(QPoint(header->offset(), list.rect(10, 1).left()), QPoint(50, header->sectionPosition(1) - 50));
    QCOMPARE(list.view.indexAt(QPoint(header->sectionPosition(1) - 50, 0)).column(), 1);
    list.view.resize(size);
    list.view.scrollToTop();

    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rect(2, 0).center());
    // The selected row is painted selected from edge to edge, the others not.
    const QImage shot = list.view.viewport()->grab().toImage();
    const auto selectedAt = [&](int x, int y) { return qBlue(shot.pixel(x, y)) - qRed(shot.pixel(x, y)) > 100; };
    for (int column = 0; column < 3; ++column) {
        const QRect cell = list.rect(2, column);
        QVERIFY(selectedAt(cell.right() - 3, cell.top() + 3) && selectedAt(cell.right() - 3, cell.bottom() - 3)
                && !selectedAt(cell.right() - 3, cell.bottom() + 3));
    }
    QList<int> rows;
    // A code scanned into the list searches nothing.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Left, Qt::Key_L, Qt::Key_1, Qt::Key_PageDown,
                        Qt::Key_PageUp, Qt::Key_End, Qt::Key_Down, Qt::Key_Home, Qt::Key_Up}) {
        QTest::keyClick(&list.view, key);
        rows << list.view.currentIndex().row();
    }
    QCOMPARE(rows, QList<int>({3, 2, 2, 2, 2, 2 + (list.bottom() + 1) / height, 2, 19999, 19999, 0, 0}));
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(0)}));
}

void TestStockMain::accessible_tableOfCellsUnderTheTitles()
{
    ShownList list(5);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list.view);
    QAccessibleTableInterface *table = iface->tableInterface();
    const auto name = [](QAccessibleInterface *cell) { return cell ? cell->text(QAccessible::Name) : "(none)"; };
    QVERIFY(iface->role() == QAccessible::Table && table && iface->child(2)->role() == QAccessible::ColumnHeader);
    QCOMPARE(QList<int>({table->rowCount(), table->columnCount(), iface->childCount()}), QList<int>({5, 3, 18}));
    QCOMPARE(name(iface->child(0)) + name(iface->child(1)) + name(iface->child(2)), QString("LocationCodeQTY"));

    // A cell is one object however it is reached, and knows its place and title.
    QAccessibleInterface *cell = table->cellAt(1, 1);
    QCOMPARE(name(cell) + name(table->cellAt(4, 2)) + name(table->cellAt(3, 0)), QStringLiteral("C11L3"));
    QVERIFY(cell->role() == QAccessible::Cell && iface->child(2 * 3 + 1) == cell && cell->parent() == iface
            && iface->indexOfChild(cell) == 2 * 3 + 1);
    QAccessibleTableCellInterface *place = cell->tableCellInterface();
    QCOMPARE(QPoint(place->rowIndex(), place->columnIndex()), QPoint(1, 1));
    QCOMPARE(name(place->columnHeaderCells().value(0)), QStringLiteral("Code"));
    QCOMPARE(cell->rect(), QRect(list.view.viewport()->mapToGlobal(list.rect(1, 1).topLeft()), list.rect(1, 1).size()));
    QCOMPARE(iface->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);

    // Out of range: a cell to ask, at no place, selected in nothing; no child.
    for (QAccessibleInterface *none : {table->cellAt(5, 0), table->cellAt(-1, 0), table->cellAt(0, 3)})
        QVERIFY(none && none->tableCellInterface()->rowIndex() == -1 && !none->tableCellInterface()->isSelected()
                && name(none).isEmpty());
    QVERIFY(!iface->child(iface->childCount()) && !iface->child(-1) && !table->isRowSelected(5));

    // The row clicked is selected, and the focused cell follows the keys.
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rect(3, 1).center());
    QCOMPARE(table->selectedRows() << table->selectedCellCount(), QList<int>({3, 3}));
    QVERIFY(table->isRowSelected(3) && !table->isRowSelected(2) && !place->isSelected());
    QVERIFY(table->cellAt(3, 2)->tableCellInterface()->isSelected() && iface->focusChild()->state().focused);
    QCOMPARE(iface->focusChild(), table->cellAt(3, 1));
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
    QCOMPARE(name(table->cellAt(0, 0)) + list.model.text(0, StockListModel::LocationColumn),
             QString("数").repeated(300) + QChar(0x2026) + QString("数").repeated(301));
    list.model.removeItem(5);
    QCOMPARE(QAccessible::accessibleInterface(last), nullptr);
    list.model.removeItem(0);
    QVERIFY(idOf(3, 1) == fourth && table->cellAt(3, 1)->tableCellInterface()->rowIndex() == 3);
}

void TestStockMain::itemEditor_opensTheSelectedRecordAsStoredNow()
{
    ScanWindow counting(threeRows);
    counting.folder.execute("UPDATE Stock SET Location = 'B2 moved', Quantity = '70' WHERE id = 5");
    const QStringList tabOrder = {"Text1", "Text2", "Text3", "UpDown1", "Command1", "Command2", "Command3"};
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        QCOMPARE(boxTexts(dialog) << dialog.windowTitle(),
                 QStringList({"B2 moved", "CODE-2", "70", "Quillmarch::StockItem::Edit"}));
        QTRY_COMPARE(QApplication::focusWidget(), box(dialog, 1));
        QCOMPARE(tabStops(), tabOrder);
        // No button is the default nor answers Esc, and closing the frame writes nothing.
        retype(dialog, {"X", "Y", "Z"});
        for (const QString &name : tabOrder) {
            auto *widget = control<QWidget>(dialog, qPrintable(name));
            widget->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(widget, key);
            QVERIFY2(dialog.isVisible(), qPrintable(name));
        }
        // The up-down steps the quantity box within its range.
        auto *upDown = control<QWidget>(dialog, "UpDown1");
        QAccessibleInterface *spinner = QAccessible::queryAccessibleInterface(upDown);
        // u and d: the arrows; U and D: the Up and Down keys; + and -: a screen reader's increase and decrease
        const QStringList steps[] = {{"999", "uu", "1000"}, {"0", "d", "0"}, {"12abc", "u", "1"}, {"", "d", "0"},
                                     {"1500", "d", "999"}, {"5", "UUD", "6"}, {"5", "++-+", "7"}};
        for (const QStringList &step : steps) {
            box(dialog, 3)->setText(step[0]);
            for (QChar press : step[1]) {
                if (press == 'u' || press == 'd')
                    QTest::mouseClick(upDown, Qt::LeftButton, {},
                                      QPoint(upDown->width() / 2, press == 'u' ? 3 : upDown->height() - 3));
                else if (press == '+' || press == '-')
                    spinner->actionInterface()->doAction(press == '+' ? QAccessibleActionInterface::increaseAction()
                                                                      : QAccessibleActionInterface::decreaseAction());
                else
                    QTest::keyClick(upDown, press == 'U' ? Qt::Key_Up : Qt::Key_Down);
            }
            QCOMPARE(box(dialog, 3)->text() + "|" + spinner->valueInterface()->currentValue().toString(),
                     step[2] + "|" + step[2]);
        }
        dialog.windowHandle()->close();
    }));
    // The list keeps what it showed: only Save rewrites a row.
    QCOMPARE(listedRows(*counting.window), threeRows);

    // F2 in the list opens the selected row as a double-click does.
    QTest::keyClick(&counting.view, Qt::Key_Down);
    QVERIFY(whileModal<StockItem>([&] { QTest::keyClick(&counting.view, Qt::Key_F2); }, [](StockItem &dialog) {
        QCOMPARE(boxTexts(dialog), QStringList({"C3", "CODE-3", "9"}));
    }));

    // Only the left button's double-click opens a row; with Ctrl it unselects the row.
    QVERIFY(!whileModal<StockItem>([&] { counting.doubleClick(1, Qt::RightButton); }, opensNothing));
    QCOMPARE(counting.window->selectedRow(), 1);
    QVERIFY(!whileModal<StockItem>([&] { counting.doubleClick(1, Qt::LeftButton, Qt::ControlModifier); },
                                   opensNothing));
    QCOMPARE(counting.window->selectedRow(), -1);
    QVERIFY(!whileModal<StockItem>([&] { QTest::keyClick(&counting.view, Qt::Key_F2); }, opensNothing));

    // A record deleted elsewhere is reported.
    counting.folder.execute("DELETE FROM Stock WHERE id = 5");
    QVERIFY(!counting.editRow(1, opensNothing));
    QCOMPARE(counting.errors.reports.size() == 1 ? counting.errors.reports[0].code : -1, SQLITE_NOTFOUND);
}

void TestStockMain::itemEditor_saveAndDelete_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("meanwhile"); // another program deletes the record or locks the table
    QTest::addColumn<Rows>("table");
    QTest::addColumn<int>("error");
    const Rows left = {threeRows[0], threeRows[2]};
    QTest::newRow("save") << "Command2" << "" << Rows{threeRows[0], {5, " b2 Top ", "数量 ", ""}, threeRows[2]} << 0;
    QTest::newRow("save, record gone") << "Command2" << "delete" << left << SQLITE_NOTFOUND;
    QTest::newRow("save, locked") << "Command2" << "lock" << threeRows << SQLITE_BUSY;
    QTest::newRow("delete") << "Command3" << "" << left << 0;
    QTest::newRow("delete, record gone") << "Command3" << "delete" << left << 0;
    QTest::newRow("delete, locked") << "Command3" << "lock" << threeRows << SQLITE_BUSY;
}

void TestStockMain::itemEditor_saveAndDelete()
{
    QFETCH(QString, button);
    QFETCH(QString, meanwhile);
    QFETCH(int, error);
    ScanWindow counting(threeRows);
    HeardSounds sounds;
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        retype(dialog, {" b2 Top ", "数量 ", ""});
        if (meanwhile == "delete")
            counting.folder.execute("DELETE FROM Stock WHERE id = 5");
        std::optional<DatabaseLock> lock;
        if (meanwhile == "lock")
            lock.emplace(counting.folder.databasePath());
        click(dialog, qPrintable(button));
        // A failure leaves the editor as it was, the operator's texts with it.
        QCOMPARE(dialog.isVisible(), error != 0);
        QCOMPARE(boxTexts(dialog), QStringList({" b2 Top ", "数量 ", ""}));
    }));
    QTEST(counting.folder.rows(), "table");
    const Rows listed = error ? threeRows : counting.folder.rows();
    QCOMPARE(listedRows(*counting.window), listed);
    QCOMPARE(counting.window->scanState().itemID, int(listed.size()) + 1);
    const auto &reports = counting.errors.reports;
    QCOMPARE(reports.size() == 1 ? reports[0].code : int(reports.size()), error);
    QCOMPARE(sounds.sounds, QStringList({error ? "refused" : "stored"}));
}

void TestStockMain::locationSelect_setsEachPieceUntilClosed()
{
    ScanWindow main;
    const auto caption = [&](const char *label) { return control<QLabel>(*main.window, label)->text(); };
    for (const QString closer : {"Close", "Esc"}) {
        QVERIFY(whileModal<LocationSelect>([&] { click(*main.window, "Command5"); }, [&](LocationSelect &dialog) {
            const auto choose = [&](const char *option) {
                QTest::mouseClick(control<QRadioButton>(dialog, option), Qt::LeftButton, {}, QPoint(8, 8));
                return control<QRadioButton>(dialog, option);
            };
            // Every opening starts afresh.
            QVERIFY(control<QRadioButton>(dialog, "Option1")->isChecked() && box(dialog, 1)->text().isEmpty());
            QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>(dialog, "Option1"));
            if (closer == "Close") {
                QVERIFY(dialog.windowTitle() == "Quillmarch::Location Select"
                        && dialog.windowModality() == Qt::ApplicationModal);
                // Placed by the window system (the top left corner here), not centred.
                QCOMPARE(dialog.frameGeometry().topLeft(), dialog.screen()->availableGeometry().topLeft());
                // Tab stops at the chosen option only.
                QCOMPARE(tabStops(), QStringList({"Option1", "Text1", "Command1", "Command2"}));
                QTest::keyClicks(box(dialog, 1), " 12 ");
                QTest::keyClick(box(dialog, 1), Qt::Key_Return);
                choose("Option2");
                box(dialog, 1)->clear();
                click(dialog, "Command2");
                const QString emptied = caption("Rack");
                // Enter on Close sets too, the dialog staying open.
                box(dialog, 1)->setText("C");
                QTest::keyClick(control<QPushButton>(dialog, "Command1"), Qt::Key_Return);
                QCOMPARE(emptied + "|" + caption("Rack") + caption("Shelf"), QString("Rack: |Rack: C"));
            }
            // Enter on an option sets too.
            box(dialog, 1)->setText(closer);
            QTest::keyClick(choose("Option3"), Qt::Key_Return);
            QVERIFY(dialog.isVisible());
            if (closer == "Close")
                click(dialog, "Command1");
            else
                QTest::keyClick(box(dialog, 1), Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
        }));
        QCOMPARE(caption("Shelf"), "Shelf: " + closer);
    }
    const ScanState &scan = main.window->scanState();
    QCOMPARE(QStringList({caption("Row"), caption("Rack"), scan.rowNum, scan.rackNum, scan.shelfNum}),
             QStringList({"Row:  12 ", "Rack: C", " 12 ", "C", "Esc"}));
}

const QString version = "Version: 1.0 Beta - Build 1";

void TestStockMain::about_opensAFreshCentredModalBox_readAndLinked()
{
    ScanWindow counting;
    // The first box is left changed, closed by Esc from the notice; the next shows afresh, and
    // the notice leaves Enter to OK.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QVERIFY(whileModal<frmAbout>([&] { click(*counting.window, "Command4"); }, [&](frmAbout &about) {
            QVERIFY(QTest::qWaitForWindowActive(&about));
            QVERIFY(about.windowTitle() == "About Quillmarch" && about.windowModality() == Qt::ApplicationModal);
            QCOMPARE(about.frameGeometry().center(), about.screen()->availableGeometry().center());
            QCOMPARE(QApplication::focusWidget(), control<QPushButton>(about, "cmdOK"));
            QCOMPARE(control<QLabel>(about, "lblVersion")->text(), version);
            if (key == Qt::Key_Escape) {
                // The texts, the icon and the controls are read; none of the decorations.
                QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(&about);
                QStringList read;
                for (int i = 0; i < reader->childCount(); ++i)
                    read << reader->child(i)->text(QAccessible::Name);
                QCOMPARE(read, QStringList({version, "Copyright © 2026 Example Software", "https://quillmarch.example/",
                                            "Quillmarch Pages", "  Example Software", "Quillmarch icon",
                                            control<QLabel>(about, "Label2")->text(), "Quillmarch", "OK",
                                            "Copyright warning"}));

                // Each link opens its own tag (changed here to tell them apart) under a pointing hand whose
                // fingertip is the hot spot; a click anywhere else opens nothing.
                OpenedUrls browser;
                QList<QUrl> expected;
                for (const char *name : {"lblProduct", "lblURL", "lblCopyright"}) {
                    QLabel *link = control<QLabel>(about, name);
                    QCOMPARE(link->property("Tag").toString(), QString("https://quillmarch.example/"));
                    link->setProperty("Tag", QString("https://quillmarch.example/") + name);
                    expected << QUrl(link->property("Tag").toString());
                    QTest::mouseClick(link, Qt::LeftButton);
                    QTest::mousePress(link, Qt::LeftButton);
                    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-4, -4));
                    QCOMPARE(link->cursor().hotSpot(), QPoint(6, 4));
                }
                for (const char *name : {"lblVersion", "lblTitle", "Label2", "imgIcon", "lblInfo_1", "lblDescription"})
                    QTest::mouseClick(control<QWidget>(about, name), Qt::LeftButton);
                QVERIFY(browser.urls == expected && about.isVisible());
            }
            control<QLabel>(about, "lblVersion")->setText("changed");
            control<QPlainTextEdit>(about, "txtSpecialCopyright")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(about.isVisible() ? -1 : about.result(), key == Qt::Key_Return ? 1 : 0);
        }));
    }
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

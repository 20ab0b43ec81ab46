#include "look.h"
#include "stock_list_model.h"
#include "stock_list_view.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include <set>

namespace {

// A long list that remembers which rows anyone asked about.
class CountingModel : public QAbstractTableModel {
public:
    explicit CountingModel(int rows) : m_rows(rows) {}

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        askedRows.insert(index.row());
        return role == Qt::DisplayRole ? QVariant(QString::number(index.row())) : QVariant();
    }

    mutable std::set<int> askedRows;

private:
    int m_rows;
};

QString name(QAccessibleInterface *cell)
{
    return cell ? cell->text(QAccessible::Name) : QStringLiteral("(none)");
}

StockRows numberedRows(int count)
{
    StockRows rows;
    for (int row = 0; row < count; ++row)
        rows.append(row + 1, "L" + std::to_string(row), "C" + std::to_string(row), "1");
    return rows;
}

// The view as the main window sets it up, shown.
struct ShownList {
    explicit ShownList(int rows)
    {
        model.setRows(numberedRows(rows));
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setEditTriggers(QAbstractItemView::NoEditTriggers);
        view.resize(400, 300);
        view.show();
        if (!QTest::qWaitForWindowActive(&view))
            qFatal("the list did not become active");
    }

    QModelIndex at(int row, int column = 0) const { return model.index(row, column); }
    int lastRow() const { return model.rowCount() - 1; }
    bool fullyShown(int row) const { return view.viewport()->rect().contains(view.visualRect(at(row))); }

    StockListModel model;
    StockListView view;
};

} // namespace

class TestStockListView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void indexAtAndVisualRect_agreeWhereverTheListIsScrolled();
    void scrollToBottom_showsTheLastRowWholeAsRowsComeAndGo();
    void click_selectsTheWholeRow_keysMoveTheCurrentRow();
    void paintAndTyping_askTheModelOnlyForTheRowsOnScreen();
    void accessible_aTableOfCellsUnderTheColumnTitles();
    void accessible_oddQuestionsGetNoCell_rowsAddedAndRemovedKeepTheirCells();
};

void TestStockListView::indexAtAndVisualRect_agreeWhereverTheListIsScrolled()
{
    ShownList list(1000);
    const int height = list.view.rowHeight();
    QCOMPARE(list.view.visualRect(list.at(0, 1)),
             QRect(list.view.header()->sectionPosition(1), 0, list.view.header()->sectionSize(1), height));

    for (int row : {0, 499, list.lastRow()}) {
        list.view.scrollTo(list.at(row), QAbstractItemView::PositionAtCenter);
        const int shown = list.view.viewport()->height() / height;
        const int top = list.view.indexAt(QPoint(1, 0)).row();
        for (int onScreen : {top, top + shown / 2, top + shown - 1}) {
            const QRect cell = list.view.visualRect(list.at(onScreen, 2));
            QCOMPARE(cell.height(), height);
            QCOMPARE(list.view.indexAt(cell.topLeft()), list.at(onScreen, 2));
            QCOMPARE(list.view.indexAt(cell.bottomRight()), list.at(onScreen, 2));
        }
    }
    // Below the last row and right of the last column there is none.
    QVERIFY(!list.view.indexAt(QPoint(1, list.view.visualRect(list.at(list.lastRow())).bottom() + 1)).isValid());
    QVERIFY(!list.view.indexAt(QPoint(list.view.header()->length() + 1, 0)).isValid());

    list.view.scrollTo(list.at(300), QAbstractItemView::PositionAtTop);
    QCOMPARE(list.view.visualRect(list.at(300)).top(), 0);
    list.view.scrollTo(list.at(300), QAbstractItemView::PositionAtBottom);
    QCOMPARE(list.view.visualRect(list.at(300)).bottom(), list.view.viewport()->height() - 1);
    list.view.scrollTo(list.at(10));
    QCOMPARE(list.view.visualRect(list.at(10)).top(), 0);
    list.view.scrollTo(list.at(11));
    QCOMPARE(list.view.visualRect(list.at(10)).top(), 0);

    // Sideways the header and the rows move together.
    list.view.resize(150, 300);
    QTRY_VERIFY(list.view.horizontalScrollBar()->maximum() > 0);
    QCOMPARE(list.view.horizontalScrollBar()->maximum(), list.view.header()->length() - list.view.viewport()->width());
    list.view.horizontalScrollBar()->setValue(50);
    QCOMPARE(list.view.header()->offset(), 50);
    const QRect cell = list.view.visualRect(list.at(10, 1));
    QCOMPARE(cell.left(), list.view.header()->sectionPosition(1) - 50);
    QCOMPARE(list.view.indexAt(cell.topLeft()), list.at(10, 1));
}

void TestStockListView::scrollToBottom_showsTheLastRowWholeAsRowsComeAndGo()
{
    ShownList list(100000);
    QVERIFY(!list.fullyShown(list.lastRow()));
    list.view.scrollToBottom();
    QCOMPARE(list.view.visualRect(list.at(list.lastRow())).bottom(), list.view.viewport()->height() - 1);
    for (int added = 1; added <= 3; ++added) {
        list.model.insertItem(list.model.rowCount(), 100000 + added, "L", "NEW", "1");
        list.view.scrollToBottom();
        QVERIFY(list.fullyShown(list.lastRow()));
        QCOMPARE(list.view.indexAt(QPoint(1, list.view.viewport()->height() - 1)), list.at(list.lastRow()));
    }
    const int before = list.view.verticalScrollBar()->maximum();
    QCOMPARE(before, list.model.rowCount() * list.view.rowHeight() - list.view.viewport()->height());
    list.model.removeItem(500);
    QTRY_COMPARE(list.view.verticalScrollBar()->maximum(), before - list.view.rowHeight());
}

void TestStockListView::click_selectsTheWholeRow_keysMoveTheCurrentRow()
{
    ShownList list(1000);
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.view.visualRect(list.at(2, 1)).center());
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(2)}));

    const auto currentRowAfter = [&](Qt::Key key) {
        QTest::keyClick(&list.view, key);
        return list.view.currentIndex().row();
    };
    QCOMPARE(currentRowAfter(Qt::Key_Down), 3);
    QCOMPARE(currentRowAfter(Qt::Key_Up), 2);
    QCOMPARE(currentRowAfter(Qt::Key_Left), 2);
    QCOMPARE(currentRowAfter(Qt::Key_PageDown), 2 + list.view.viewport()->height() / list.view.rowHeight());
    QCOMPARE(currentRowAfter(Qt::Key_End), list.lastRow());
    QVERIFY(list.fullyShown(list.lastRow()));
    QCOMPARE(currentRowAfter(Qt::Key_Down), list.lastRow());
    QCOMPARE(currentRowAfter(Qt::Key_Home), 0);
    QVERIFY(list.fullyShown(0));
    QCOMPARE(currentRowAfter(Qt::Key_Up), 0);
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(0)}));
}

void TestStockListView::paintAndTyping_askTheModelOnlyForTheRowsOnScreen()
{
    CountingModel model(1000000);
    StockListView view;
    view.setModel(&model);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.setCurrentIndex(model.index(600000, 0));
    view.scrollTo(model.index(600000, 0), QAbstractItemView::PositionAtTop);

    model.askedRows.clear();
    view.viewport()->repaint();
    QVERIFY(!model.askedRows.empty());
    QCOMPARE(*model.askedRows.begin(), 600000);
    const int lastShown = 600000 + (view.viewport()->height() - 1) / view.rowHeight();
    QCOMPARE(*model.askedRows.rbegin(), lastShown);

    // A code scanned into the list searches nothing and moves nothing.
    QTest::keyClicks(&view, QStringLiteral("PX-100"));
    QCOMPARE(view.currentIndex(), model.index(600000, 0));
    QCOMPARE(*model.askedRows.begin(), 600000);
    QCOMPARE(*model.askedRows.rbegin(), lastShown);

    // A screen reader reading the last cell asks about that row alone.
    model.askedRows.clear();
    QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(&view)->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 1000000);
    QCOMPARE(name(table->cellAt(999999, 2)), QStringLiteral("999999"));
    QCOMPARE(model.askedRows, std::set<int>({999999}));
}

void TestStockListView::accessible_aTableOfCellsUnderTheColumnTitles()
{
    ShownList list(5);
    list.view.setAccessibleName(QStringLiteral("Stock list"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list.view);
    QCOMPARE(iface->role(), QAccessible::Table);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Stock list"));
    QAccessibleTableInterface *table = iface->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 5);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(iface->childCount(), 6 * 3);
    QStringList titles;
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(iface->child(column)->role(), QAccessible::ColumnHeader);
        titles << name(iface->child(column));
    }
    QCOMPARE(titles, QStringList({"Location", "Code", "QTY"}));

    // A cell is one object however it is reached, and knows its place and title.
    QAccessibleInterface *cell = table->cellAt(1, 1);
    QCOMPARE(name(cell), QStringLiteral("C1"));
    QCOMPARE(cell->role(), QAccessible::Cell);
    QCOMPARE(table->cellAt(1, 1), cell);
    QCOMPARE(iface->child(2 * 3 + 1), cell);
    QCOMPARE(iface->indexOfChild(cell), 2 * 3 + 1);
    QCOMPARE(cell->parent(), iface);
    QAccessibleTableCellInterface *place = cell->tableCellInterface();
    QCOMPARE(place->rowIndex(), 1);
    QCOMPARE(place->columnIndex(), 1);
    QCOMPARE(name(place->columnHeaderCells().value(0)), QStringLiteral("Code"));
    QCOMPARE(iface->childAt(list.view.viewport()->mapToGlobal(list.view.visualRect(list.at(1, 1)).center()).x(),
                            list.view.viewport()->mapToGlobal(list.view.visualRect(list.at(1, 1)).center()).y()),
             cell);

    // The row clicked is selected and current; the keys move the focused cell.
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.view.visualRect(list.at(3, 1)).center());
    QCOMPARE(table->selectedRows(), QList<int>({3}));
    QCOMPARE(table->selectedCellCount(), 3);
    QVERIFY(table->isRowSelected(3));
    QVERIFY(table->cellAt(3, 2)->tableCellInterface()->isSelected());
    QVERIFY(!place->isSelected());
    QCOMPARE(iface->focusChild(), table->cellAt(3, 1));
    QVERIFY(iface->focusChild()->state().focused);
    QTest::keyClick(&list.view, Qt::Key_Up);
    QCOMPARE(name(iface->focusChild()), QStringLiteral("C2"));
    QCOMPARE(iface->focusChild(), table->cellAt(2, 1));
    QCOMPARE(table->selectedRows(), QList<int>({2}));
}

void TestStockListView::accessible_oddQuestionsGetNoCell_rowsAddedAndRemovedKeepTheirCells()
{
    ShownList list(5);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list.view);
    QAccessibleTableInterface *table = iface->tableInterface();
    QVERIFY(table);
    // A row one past the last, a negative one, a fourth column: a cell that is
    // there to be asked, selected in nothing, at no place.
    for (const auto &[row, column] : {std::pair(5, 0), std::pair(-1, 0), std::pair(0, 3), std::pair(0, -1)}) {
        QAccessibleInterface *none = table->cellAt(row, column);
        QVERIFY(none);
        QVERIFY(none->tableCellInterface());
        QVERIFY(!none->tableCellInterface()->isSelected());
        QCOMPARE(none->tableCellInterface()->rowIndex(), -1);
        QCOMPARE(name(none), QString());
    }
    QCOMPARE(iface->child(iface->childCount()), nullptr);
    QCOMPARE(iface->child(-1), nullptr);

    // Kept cells are told apart by their ids, which are never handed out twice.
    const auto idOf = [&](int row, int column) { return QAccessible::uniqueId(table->cellAt(row, column)); };
    const QAccessible::Id fourth = idOf(3, 1);
    const QAccessible::Id last = idOf(4, 0);
    list.model.insertItem(0, 100, "L-NEW", "C-NEW", "1");
    QCOMPARE(idOf(4, 1), fourth);
    QCOMPARE(name(table->cellAt(4, 1)), QStringLiteral("C3"));
    QCOMPARE(name(table->cellAt(0, 1)), QStringLiteral("C-NEW"));
    QCOMPARE(idOf(5, 0), last);

    list.model.removeItem(5);
    QCOMPARE(QAccessible::accessibleInterface(last), nullptr);
    list.model.removeItem(0);
    QCOMPARE(idOf(3, 1), fourth);
    QCOMPARE(table->cellAt(3, 1)->tableCellInterface()->rowIndex(), 3);
    QCOMPARE(name(table->cellAt(3, 1)), QStringLiteral("C3"));
    QCOMPARE(name(table->cellAt(4, 0)), QString());
}

QTEST_MAIN(TestStockListView)
#include "test_stock_list_view.moc"

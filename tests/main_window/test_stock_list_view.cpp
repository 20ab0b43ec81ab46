#include "look.h"
#include "stock_list_model.h"
#include "stock_list_view.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

namespace {

QString name(QAccessibleInterface *cell)
{
    return cell ? cell->text(QAccessible::Name) : QStringLiteral("(none)");
}

// The view as the main window sets it up, shown, over rows "L<n>", "C<n>", "1".
struct ShownList {
    explicit ShownList(int rows)
    {
        StockRows loaded;
        for (int row = 0; row < rows; ++row)
            loaded.append(row + 1, "L" + std::to_string(row), "C" + std::to_string(row), "1");
        model.setRows(std::move(loaded));
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.resize(400, 300);
        view.show();
        if (!QTest::qWaitForWindowActive(&view))
            qFatal("the list did not become active");
    }

    QModelIndex at(int row, int column = 0) const { return model.index(row, column); }
    int lastRow() const { return model.rowCount() - 1; }
    int bottom() const { return view.viewport()->height() - 1; }
    QStringList rowCells(int row) const
    {
        return {model.text(row, StockListModel::LocationColumn), model.text(row, StockListModel::CodeColumn),
                model.text(row, StockListModel::QtyColumn)};
    }

    StockListModel model;
    StockListView view;
};

} // namespace

class TestStockListView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }
    void model_keepsCellsAndTagsThroughEveryChange();
    void geometry_indexAtAndVisualRectAgreeWhereverScrolled();
    void mouseAndKeys_selectWholeRowsPaintedSelected();
    void accessible_tableOfCellsUnderTheTitles();
};

void TestStockListView::model_keepsCellsAndTagsThroughEveryChange()
{
    StockListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    StockRows loaded;
    // Cells of lengths about the one-, two- and three-byte length prefixes.
    loaded.append(3, std::string(127, 'a'), std::string(128, 'b'), std::string(16384, 'c'));
    model.setRows(std::move(loaded));
    model.insertItem(1, 4, "B2", "Größe", "QTY:7");
    model.insertItem(0, 9, "first", "", "");
    model.setItem(2, "B3", "数量", "🙂");
    model.removeItem(0);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.tag(0), 3);
    QCOMPARE(model.tag(1), 4);
    QCOMPARE(model.text(0, StockListModel::LocationColumn), QString(127, 'a'));
    QCOMPARE(model.text(0, StockListModel::CodeColumn), QString(128, 'b'));
    QCOMPARE(model.text(0, StockListModel::QtyColumn), QString(16384, 'c'));
    QCOMPARE(model.data(model.index(1, 0)).toString() + model.data(model.index(1, 1)).toString()
                 + model.data(model.index(1, 2)).toString(),
             QString("B3数量🙂"));
    // A huge cell shows its first 300 characters and an ellipsis; the row keeps it whole.
    model.insertItem(2, 5, QString("数").repeated(301), QString("🙂").repeated(300), "9");
    QCOMPARE(model.data(model.index(2, 0)).toString(), QString("数").repeated(300) + QChar(0x2026));
    QCOMPARE(model.data(model.index(2, 1)).toString(), QString("🙂").repeated(300));
    QCOMPARE(model.text(2, StockListModel::LocationColumn), QString("数").repeated(301));
}

void TestStockListView::geometry_indexAtAndVisualRectAgreeWhereverScrolled()
{
    ShownList list(100000);
    QHeaderView *header = list.view.header();
    const int height = list.view.rowHeight();
    QCOMPARE(list.view.visualRect(list.at(0, 1)), QRect(header->sectionPosition(1), 0, header->sectionSize(1), height));
    for (int row : {499, 50000}) {
        list.view.scrollTo(list.at(row), QAbstractItemView::PositionAtCenter);
        const QRect cell = list.view.visualRect(list.at(row, 2));
        QCOMPARE(cell.top(), (list.view.viewport()->height() - height) / 2);
        QCOMPARE(list.view.indexAt(cell.topLeft()), list.at(row, 2));
        QCOMPARE(list.view.indexAt(cell.bottomRight()), list.at(row, 2));
    }
    list.view.scrollTo(list.at(300), QAbstractItemView::PositionAtTop);
    QCOMPARE(list.view.visualRect(list.at(300)).top(), 0);
    list.view.scrollTo(list.at(300), QAbstractItemView::PositionAtBottom);
    QCOMPARE(list.view.visualRect(list.at(300)).bottom(), list.bottom());
    list.view.scrollTo(list.at(10));
    QCOMPARE(list.view.visualRect(list.at(10)).top(), 0);

    // The last row whole at the bottom as rows come; the scroll range follows rows going.
    list.view.scrollToBottom();
    QCOMPARE(list.view.visualRect(list.at(list.lastRow())).bottom(), list.bottom());
    list.model.insertItem(list.model.rowCount(), 100001, "L", "NEW", "1");
    list.view.scrollToBottom();
    QCOMPARE(list.view.indexAt(QPoint(1, list.bottom())), list.at(list.lastRow()));
    QVERIFY(!list.view.indexAt(QPoint(1, list.bottom() + 1)).isValid());
    QVERIFY(!list.view.indexAt(QPoint(header->length() + 1, 0)).isValid());
    const int before = list.view.verticalScrollBar()->maximum();
    QCOMPARE(before, list.model.rowCount() * height - list.view.viewport()->height());
    list.model.removeItem(500);
    QTRY_COMPARE(list.view.verticalScrollBar()->maximum(), before - height);

    // Sideways the header and the rows move together.
    list.view.resize(150, 300);
    QTRY_COMPARE(list.view.horizontalScrollBar()->maximum(), header->length() - list.view.viewport()->width());
    list.view.horizontalScrollBar()->setValue(50);
    QCOMPARE(header->offset(), 50);
    QCOMPARE(list.view.visualRect(list.at(10, 1)).left(), header->sectionPosition(1) - 50);
    QCOMPARE(list.view.indexAt(QPoint(header->sectionPosition(1) - 50, 0)).column(), 1);
}

void TestStockListView::mouseAndKeys_selectWholeRowsPaintedSelected()
{
    ShownList list(1000);
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.view.visualRect(list.at(2, 1)).center());
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(2)}));
    // The selected row is painted selected from edge to edge, the others not.
    const QImage shot = list.view.viewport()->grab().toImage();
    const QColor highlight = list.view.palette().color(QPalette::Highlight);
    const auto selectedAt = [&](int x, int y) {
        const QColor pixel = shot.pixelColor(x, y);
        return qAbs(pixel.red() - highlight.red()) + qAbs(pixel.green() - highlight.green())
            + qAbs(pixel.blue() - highlight.blue()) < 16;
    };
    for (int column = 0; column < 3; ++column) {
        const QRect cell = list.view.visualRect(list.at(2, column));
        QVERIFY(selectedAt(cell.right() - 3, cell.top() + 3) && selectedAt(cell.right() - 3, cell.bottom() - 3));
        QVERIFY(!selectedAt(cell.right() - 3, cell.bottom() + 3));
    }

    const auto rowAfter = [&](Qt::Key key) {
        QTest::keyClick(&list.view, key);
        return list.view.currentIndex().row();
    };
    QCOMPARE(rowAfter(Qt::Key_Down), 3);
    QCOMPARE(rowAfter(Qt::Key_Up), 2);
    QCOMPARE(rowAfter(Qt::Key_Left), 2);
    QCOMPARE(rowAfter(Qt::Key_PageDown), 2 + list.view.viewport()->height() / list.view.rowHeight());
    QCOMPARE(rowAfter(Qt::Key_PageUp), 2);
    QCOMPARE(rowAfter(Qt::Key_End), list.lastRow());
    QCOMPARE(list.view.visualRect(list.at(list.lastRow())).bottom(), list.bottom());
    QCOMPARE(rowAfter(Qt::Key_Down), list.lastRow());
    QCOMPARE(rowAfter(Qt::Key_Home), 0);
    QCOMPARE(list.view.visualRect(list.at(0)).top(), 0);
    QCOMPARE(rowAfter(Qt::Key_Up), 0);
    // A code scanned into the list searches nothing.
    QTest::keyClicks(&list.view, "L5");
    QCOMPARE(list.view.selectionModel()->selectedRows(), QModelIndexList({list.at(0)}));
}

void TestStockListView::accessible_tableOfCellsUnderTheTitles()
{
    ShownList list(5);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&list.view);
    QCOMPARE(iface->role(), QAccessible::Table);
    QAccessibleTableInterface *table = iface->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 5);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(iface->childCount(), 6 * 3);
    QStringList titles;
    for (int column = 0; column < 3; ++column)
        titles << name(iface->child(column)) + (iface->child(column)->role() == QAccessible::ColumnHeader ? "" : "?");
    QCOMPARE(titles, QStringList({"Location", "Code", "QTY"}));

    // A cell is one object however it is reached, and knows its place and title.
    QAccessibleInterface *cell = table->cellAt(1, 1);
    QCOMPARE(name(cell), QStringLiteral("C1"));
    QCOMPARE(name(table->cellAt(4, 2)) + name(table->cellAt(3, 0)), QStringLiteral("1L3"));
    QCOMPARE(cell->role(), QAccessible::Cell);
    QCOMPARE(iface->child(2 * 3 + 1), cell);
    QCOMPARE(iface->indexOfChild(cell), 2 * 3 + 1);
    QCOMPARE(iface->indexOfChild(iface->child(2)), 2);
    QCOMPARE(cell->parent(), iface);
    QAccessibleTableCellInterface *place = cell->tableCellInterface();
    QCOMPARE(QPoint(place->rowIndex(), place->columnIndex()), QPoint(1, 1));
    QCOMPARE(name(place->columnHeaderCells().value(0)), QStringLiteral("Code"));
    QCOMPARE(iface->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);
    QCOMPARE(cell->rect(), QRect(list.view.viewport()->mapToGlobal(list.view.visualRect(list.at(1, 1)).topLeft()),
                                 list.view.visualRect(list.at(1, 1)).size()));

    // Out of range: a cell to ask, at no place, selected in nothing; no child.
    for (const auto &[row, column] : {std::pair(5, 0), std::pair(-1, 0), std::pair(0, 3), std::pair(0, -1)}) {
        QAccessibleInterface *none = table->cellAt(row, column);
        QVERIFY(none && none->tableCellInterface());
        QVERIFY(!none->tableCellInterface()->isSelected());
        QCOMPARE(none->tableCellInterface()->rowIndex(), -1);
        QCOMPARE(name(none), QString());
    }
    QCOMPARE(iface->child(iface->childCount()), nullptr);
    QCOMPARE(iface->child(-1), nullptr);
    QVERIFY(!table->isRowSelected(5));

    // The row clicked is selected, and the focused cell follows the keys.
    QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.view.visualRect(list.at(3, 1)).center());
    QCOMPARE(table->selectedRows(), QList<int>({3}));
    QCOMPARE(table->selectedCellCount(), 3);
    QVERIFY(table->isRowSelected(3) && !table->isRowSelected(2));
    QVERIFY(table->cellAt(3, 2)->tableCellInterface()->isSelected());
    QVERIFY(!place->isSelected());
    QCOMPARE(iface->focusChild(), table->cellAt(3, 1));
    QVERIFY(iface->focusChild()->state().focused);
    QTest::keyClick(&list.view, Qt::Key_Up);
    QCOMPARE(iface->focusChild(), table->cellAt(2, 1));
    QVERIFY(table->selectRow(4));
    QCOMPARE(table->selectedRows(), QList<int>({4}));

    // Kept cells keep their ids as rows come and go above them; a removed row's go.
    const auto idOf = [&](int row, int column) { return QAccessible::uniqueId(table->cellAt(row, column)); };
    const QAccessible::Id fourth = idOf(3, 1);
    const QAccessible::Id last = idOf(4, 0);
    list.model.insertItem(0, 100, "L-NEW", "C-NEW", "1");
    QCOMPARE(idOf(4, 1), fourth);
    QCOMPARE(name(table->cellAt(4, 1)) + name(table->cellAt(0, 1)), QStringLiteral("C3C-NEW"));
    QCOMPARE(idOf(5, 0), last);
    list.model.removeItem(5);
    QCOMPARE(QAccessible::accessibleInterface(last), nullptr);
    list.model.removeItem(0);
    QCOMPARE(idOf(3, 1), fourth);
    QCOMPARE(table->cellAt(3, 1)->tableCellInterface()->rowIndex(), 3);
    QCOMPARE(name(table->cellAt(3, 1)), QStringLiteral("C3"));
}

QTEST_MAIN(TestStockListView)
#include "test_stock_list_view.moc"

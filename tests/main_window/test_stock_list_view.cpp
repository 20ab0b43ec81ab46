#include "look.h"
#include "stock_list_model.h"
#include "stock_list_view.h"

#include <QAbstractTableModel>
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
}

QTEST_MAIN(TestStockListView)
#include "test_stock_list_view.moc"

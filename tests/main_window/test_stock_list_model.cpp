#include "stock_list_model.h"

#include <QAbstractItemModelTester>
#include <QTest>

#include <limits>

class TestStockListModel : public QObject {
    Q_OBJECT

private slots:
    void rows_keepCellsAndTagsThroughInsertRewriteAndRemove();
    void rows_holdLongAndUnicodeCells();
    void model_showsCellsUnderItsHeadersAndPassesTheModelTester();
};

namespace {

QStringList cellsOf(const StockRows &rows, std::size_t position)
{
    QStringList cells;
    for (auto cell : {StockRows::LocationCell, StockRows::CodeCell, StockRows::QtyCell}) {
        const std::string_view text = rows.cell(position, cell);
        cells << QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    return cells;
}

} // namespace

void TestStockListModel::rows_keepCellsAndTagsThroughInsertRewriteAndRemove()
{
    StockRows rows;
    rows.append(1, "A", "X", "1");
    rows.append(2, "", "", "");
    rows.insert(1, std::numeric_limits<std::int64_t>::min(), "B", "Y", "2");
    rows.setCells(0, "A2", "X2", "12");
    rows.erase(2);

    QCOMPARE(rows.size(), std::size_t(2));
    QCOMPARE(rows.tag(0), 1);
    QCOMPARE(cellsOf(rows, 0), QStringList({"A2", "X2", "12"}));
    QCOMPARE(rows.tag(1), std::numeric_limits<std::int64_t>::min());
    QCOMPARE(cellsOf(rows, 1), QStringList({"B", "Y", "2"}));
}

void TestStockListModel::rows_holdLongAndUnicodeCells()
{
    StockRows rows;
    // Lengths around the one-, two- and three-byte length prefixes.
    const std::string lengths[] = {std::string(127, 'a'), std::string(128, 'b'), std::string(16384, 'c')};
    rows.append(1, lengths[0], lengths[1], lengths[2]);
    rows.append(2, "Größe", "数量", "🙂");
    // Past the size at which the text moves to huge pages.
    const std::string huge(3 << 20, 'h');
    rows.append(3, "", huge, "");
    QCOMPARE(rows.cell(0, StockRows::LocationCell), lengths[0]);
    QCOMPARE(rows.cell(0, StockRows::CodeCell), lengths[1]);
    QCOMPARE(rows.cell(0, StockRows::QtyCell), lengths[2]);
    QCOMPARE(cellsOf(rows, 1), QStringList({"Größe", "数量", "🙂"}));
    QCOMPARE(rows.cell(2, StockRows::CodeCell), huge);
}

void TestStockListModel::model_showsCellsUnderItsHeadersAndPassesTheModelTester()
{
    StockListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    StockRows loaded;
    loaded.append(3, "A1", "CODE", "5");
    model.setRows(std::move(loaded));
    model.insertItem(1, 4, "B2", "Größe", "QTY:7");
    model.insertItem(0, 9, "first", "", "");
    model.setItem(2, "B3", "C", "8");
    model.removeItem(0);

    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("Location"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("Code"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("QTY"));
    QCOMPARE(model.tag(0), 3);
    QCOMPARE(model.tag(1), 4);
    QCOMPARE(model.data(model.index(0, StockListModel::CodeColumn)).toString(), QString("CODE"));
    QCOMPARE(model.text(1, StockListModel::LocationColumn), QString("B3"));
    QCOMPARE(model.text(1, StockListModel::CodeColumn), QString("C"));
    QCOMPARE(model.text(1, StockListModel::QtyColumn), QString("8"));
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemNeverHasChildren);

    // A huge cell shows its first 300 characters, then an ellipsis; the row keeps it whole.
    const QString huge = QString("数").repeated(301);
    const QString full = QString("🙂").repeated(300);
    model.insertItem(2, 5, huge, full, "9");
    QCOMPARE(model.data(model.index(2, StockListModel::LocationColumn)).toString(),
             QString("数").repeated(300) + QChar(0x2026));
    QCOMPARE(model.data(model.index(2, StockListModel::CodeColumn)).toString(), full);
    QCOMPARE(model.text(2, StockListModel::LocationColumn), huge);
}

QTEST_GUILESS_MAIN(TestStockListModel)
#include "test_stock_list_model.moc"

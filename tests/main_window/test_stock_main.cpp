#include "look.h"
#include "stock_fixture.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

class TestStockMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void formLoad_onFirstStartCreatesTheDatabaseAndListsNothing();
    void formLoad_listsEveryRecordInIdOrderWithItsTag();
    void formLoad_failureIsReportedAndTheFileLeftAsItIs();

    void window_hasItsCaptionSizeFrameAndFocus();
    void window_controlsFollowTheLayout();
};

void TestStockMain::formLoad_onFirstStartCreatesTheDatabaseAndListsNothing()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};

    QCOMPARE(window.listItems().rowCount(), 0);
    QCOMPARE(window.scanState().itemID, 1);
    QCOMPARE(window.scanState().lastID, 0);
    QVERIFY(folder.rows().empty());
    for (const char *label : {"Row", "Rack", "Shelf"})
        QCOMPARE(control<QLabel>(window, label)->text(), QString());
}

void TestStockMain::formLoad_listsEveryRecordInIdOrderWithItsTag()
{
    StockFolder folder;
    folder.createWith({{7, "A12", "CODE-7", "3"}, {2, "", "", ""}, {40, "Größe", "数量", "QTY:9"}});
    StockMain window{StockStore(folder.path())};

    QCOMPARE(listedRows(window), (std::vector<TableRow>{{2, "", "", ""}, {7, "A12", "CODE-7", "3"},
                                                        {40, "Größe", "数量", "QTY:9"}}));
    QCOMPARE(window.scanState().itemID, 4);
    QCOMPARE(window.scanState().lastID, 40);
}

void TestStockMain::formLoad_failureIsReportedAndTheFileLeftAsItIs()
{
    StockFolder folder;
    const QByteArray notADatabase("\x00\x01\x00\x00Standard Jet DB and then some bytes", 40);
    folder.writeFile(notADatabase);
    ReportedErrors errors;
    StockMain window{StockStore(folder.path())};

    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, SQLITE_NOTADB);
    QVERIFY(toQString(errors.reports[0].text).contains("Microsoft Access"));
    QCOMPARE(window.listItems().rowCount(), 0);
    QCOMPARE(folder.fileBytes(), notADatabase);
}

void TestStockMain::window_hasItsCaptionSizeFrameAndFocus()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QCOMPARE(window.windowTitle(), QString("Quillmarch::Main"));
    QCOMPARE(window.size(), QSize(730, 467));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(QApplication::focusWidget(), control<QLineEdit>(window, "Text1"));
}

void TestStockMain::window_controlsFollowTheLayout()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};

    QCOMPARE(control<QLabel>(window, "Label1")->text(), QString("Quillmarch::Main"));
    QCOMPARE(control<QLabel>(window, "Label1")->font().pointSizeF(), 20.25);
    QCOMPARE(control<QLabel>(window, "Label1")->font().family(), QString("Tahoma"));
    QCOMPARE(control<QLineEdit>(window, "Text1")->geometry(), QRect(8, 88, 177, 25));
    QCOMPARE(control<QLineEdit>(window, "Text1")->font().pointSizeF(), 8.25);
    QCOMPARE(control<QPushButton>(window, "Command5")->geometry(), QRect(192, 88, 57, 25));
    QVERIFY(control<QPushButton>(window, "Command1")->font().bold());

    const QStringList captions = {"Add", "Clear", "Exit", "About", "Manual"};
    for (int i = 0; i < captions.size(); ++i)
        QCOMPARE(control<QPushButton>(window, qPrintable(QString("Command%1").arg(i + 1)))->text(), captions[i]);

    const char *boxes[] = {"Text1", "Text2", "Text3"};
    const QStringList names = {"Location Scan", "Item Scan", "QTY Scan"};
    for (int i = 0; i < 3; ++i) {
        auto *box = control<QLineEdit>(window, boxes[i]);
        QCOMPARE(box->accessibleName(), names[i]);
        QCOMPARE(box->maxLength(), std::numeric_limits<int>::max());
    }

    auto *view = control<StockListView>(window, "ListView1");
    QCOMPARE(view->geometry(), QRect(8, 176, 713, 281));
    QCOMPARE(view->header()->sectionSize(0), 67);
    QCOMPARE(view->header()->sectionSize(1), 267);
    QCOMPARE(view->header()->sectionSize(2), 67);
    QCOMPARE(view->header()->defaultAlignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(view->rowHeight(), view->fontMetrics().height() + 4);
    QCOMPARE(view->accessibleName(), QString("Stock list"));
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(view->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!view->tabKeyNavigation());

    // Focus order: labels never take the focus.
    QCOMPARE(focusChain(control<QLineEdit>(window, "Text1")),
             QStringList({"Text1", "ListView1", "Text2", "Text3", "Command1", "Command2", "Command3", "Command4",
                          "Command5"}));
}

QTEST_MAIN(TestStockMain)
#include "test_stock_main.moc"

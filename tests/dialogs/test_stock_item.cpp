#include "look.h"
#include "stock_fixture.h"
#include "stock_item.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <sqlite3.h>

#include <memory>

namespace {

const std::vector<TableRow> threeRows = {{1, "A1", "CODE-1", "5"}, {2, "B2", "CODE-2", "7"}, {3, "C3", "CODE-3", "9"}};

// The main window on screen over a table that holds the given rows.
struct Counting {
    explicit Counting(const std::vector<TableRow> &rows, int busyTimeoutMs = StockStore::defaultBusyTimeoutMs)
    {
        folder.createWith(rows);
        window = std::make_unique<StockMain>(StockStore(folder.path(), busyTimeoutMs));
        window->show();
    }

    StockListView *list() { return control<StockListView>(*window, "ListView1"); }

    // A double-click as the mouse makes it: a click, then the second press.
    void doubleClick(QPoint at, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers, at);
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, modifiers, at);
    }

    QPoint rowCentre(int row) { return list()->visualRect(window->listItems().index(row, 0)).center(); }

    // Double-clicks a list row and runs interact in the editor that opens;
    // returns whether one opened.
    bool editRow(int row, const std::function<void(StockItem &)> &interact = [](StockItem &) {})
    {
        return whileModal<StockItem>([&] { doubleClick(rowCentre(row)); }, interact);
    }

    StockFolder folder;
    std::unique_ptr<StockMain> window;
};

QLineEdit *box(StockItem &dialog, const char *name)
{
    return control<QLineEdit>(dialog, name);
}

QStringList boxTexts(StockItem &dialog)
{
    return {box(dialog, "Text1")->text(), box(dialog, "Text2")->text(), box(dialog, "Text3")->text()};
}

// Empties the three boxes and types the texts into them, a key a character.
void retype(StockItem &dialog, const QStringList &texts)
{
    const char *names[] = {"Text1", "Text2", "Text3"};
    for (int i = 0; i < 3; ++i) {
        QLineEdit *target = box(dialog, names[i]);
        target->clear();
        typeText(target, texts[i]);
    }
}

void click(StockItem &dialog, const char *button)
{
    QTest::mouseClick(control<QPushButton>(dialog, button), Qt::LeftButton);
}

} // namespace

class TestStockItem : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void open_showsTheRecordAsTheTableHoldsItNow();
    void open_withoutARowToShowOpensNothing();
    void open_recordDeletedElsewhereIsReportedAndOpensNothing();

    void save_storesTheTextsAsTypedAndRewritesTheRow_data();
    void save_storesTheTextsAsTypedAndRewritesTheRow();
    void delete_removesRecordAndRow_evenWhenTheRecordIsAlreadyGone();
    void failedSaveOrDelete_isReportedAndChangesNothing_data();
    void failedSaveOrDelete_isReportedAndChangesNothing();
    void keyboard_tabsInOrderAndEnterEscTriggerNoButton_frameCloseWritesNothing();

    void upDown_stepsTheNumberInText3WithinItsRange_data();
    void upDown_stepsTheNumberInText3WithinItsRange();
};

void TestStockItem::open_showsTheRecordAsTheTableHoldsItNow()
{
    Counting counting(threeRows);
    // A code of any length is shown whole: the boxes have no length limit.
    const QString longCode(100000, 'L');
    counting.folder.execute("UPDATE Stock SET Location = 'B2 moved', StockCode = '" + longCode.toStdString()
                            + "', Quantity = '70' WHERE id = 2");

    QStringList shown;
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) { shown = boxTexts(dialog); }));
    QCOMPARE(shown, QStringList({"B2 moved", longCode, "70"}));
    // The list keeps what it showed: only Save rewrites a row.
    QCOMPARE(listedRows(*counting.window), threeRows);

    // Without a mouse: F2 in the list opens the selected row as a double-click
    // does, and a screen reader names each box by its caption.
    QTest::keyClick(counting.list(), Qt::Key_Down);
    QStringList labels;
    QVERIFY(whileModal<StockItem>([&] { QTest::keyClick(counting.list(), Qt::Key_F2); },
                                  [&](StockItem &dialog) {
                                      shown = boxTexts(dialog);
                                      for (const char *name : {"Text1", "Text2", "Text3"})
                                          for (const auto &[label, relation] :
                                               QAccessible::queryAccessibleInterface(box(dialog, name))
                                                   ->relations(QAccessible::Label))
                                              labels << label->text(QAccessible::Name);
                                  }));
    QCOMPARE(shown, QStringList({"C3", "CODE-3", "9"}));
    QCOMPARE(labels, QStringList({"Location", "Stock Code", "Quantity"}));
}

void TestStockItem::open_withoutARowToShowOpensNothing()
{
    Counting counting(threeRows);
    // Ctrl with the double-click unselects the row it lands on; the list still
    // reports the double-click.
    QTest::mouseClick(counting.list()->viewport(), Qt::LeftButton, {}, counting.rowCentre(1));
    QSignalSpy doubleClicks(counting.list(), &StockListView::doubleClicked);
    const auto opensNothing = [](StockItem &) { QFAIL("the item editor opened"); };
    // Only the left button's double-click opens a row.
    QVERIFY(!whileModal<StockItem>(
        [&] {
            QTest::mouseClick(counting.list()->viewport(), Qt::RightButton, {}, counting.rowCentre(1));
            QTest::mouseDClick(counting.list()->viewport(), Qt::RightButton, {}, counting.rowCentre(1));
        },
        opensNothing));
    QCOMPARE(counting.window->selectedRow(), 1);
    QVERIFY(!whileModal<StockItem>([&] { counting.doubleClick(counting.rowCentre(1), Qt::ControlModifier); },
                                   opensNothing));
    QCOMPARE(doubleClicks.count(), 1);
    QCOMPARE(counting.window->selectedRow(), -1);
    QVERIFY(!whileModal<StockItem>([&] { QTest::keyClick(counting.list(), Qt::Key_F2); }, opensNothing));
}

void TestStockItem::open_recordDeletedElsewhereIsReportedAndOpensNothing()
{
    Counting counting(threeRows);
    counting.folder.execute("DELETE FROM Stock WHERE id = 2");
    ReportedErrors errors;

    QVERIFY(!counting.editRow(1, [](StockItem &) { QFAIL("the item editor opened"); }));
    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, SQLITE_NOTFOUND);
    QVERIFY2(toQString(errors.reports[0].text).contains("id 2 "), errors.reports[0].text.c_str());
    QCOMPARE(listedRows(*counting.window), threeRows);
}

void TestStockItem::save_storesTheTextsAsTypedAndRewritesTheRow_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::newRow("blanks, case, beyond ASCII, letters") << QStringList({" b2 Top ", "数量 ", "½abc"});
    QTest::newRow("all empty") << QStringList({"", "", ""});
}

void TestStockItem::save_storesTheTextsAsTypedAndRewritesTheRow()
{
    QFETCH(QStringList, typed);
    Counting counting(threeRows);
    HeardSounds sounds;

    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        retype(dialog, typed);
        click(dialog, "Command2");
        QVERIFY(!dialog.isVisible());
    }));
    QCOMPARE(sounds.sounds, QStringList({"stored"}));
    const TableRow saved{2, typed[0].toStdString(), typed[1].toStdString(), typed[2].toStdString()};
    const std::vector<TableRow> expected = {threeRows[0], saved, threeRows[2]};
    QCOMPARE(counting.folder.rows(), expected);
    QCOMPARE(listedRows(*counting.window), expected);
    QCOMPARE(counting.window->scanState().itemID, 4);

    // The row's tag still names the record: it opens again, read back from the table.
    QStringList reopened;
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) { reopened = boxTexts(dialog); }));
    QCOMPARE(reopened, typed);
}

void TestStockItem::delete_removesRecordAndRow_evenWhenTheRecordIsAlreadyGone()
{
    Counting counting(threeRows);
    ReportedErrors errors;
    HeardSounds sounds;

    QVERIFY(counting.editRow(1, [](StockItem &dialog) {
        click(dialog, "Command3");
        QVERIFY(!dialog.isVisible());
    }));
    const std::vector<TableRow> left = {threeRows[0], threeRows[2]};
    QCOMPARE(counting.folder.rows(), left);
    QCOMPARE(listedRows(*counting.window), left);
    QCOMPARE(counting.window->scanState().itemID, 3);

    // Deleted elsewhere while the editor is open: Delete still removes its row, silently.
    QVERIFY(counting.editRow(0, [&](StockItem &dialog) {
        counting.folder.execute("DELETE FROM Stock WHERE id = 1");
        click(dialog, "Command3");
    }));
    QCOMPARE(counting.folder.rows(), std::vector<TableRow>{threeRows[2]});
    QCOMPARE(listedRows(*counting.window), std::vector<TableRow>{threeRows[2]});
    QCOMPARE(counting.window->scanState().itemID, 2);
    QVERIFY(errors.reports.empty());
    QCOMPARE(sounds.sounds, QStringList({"stored", "stored"}));
}

void TestStockItem::failedSaveOrDelete_isReportedAndChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("deletedElsewhere");
    QTest::addColumn<int>("code");
    QTest::newRow("Save of a record deleted elsewhere") << "Command2" << true << SQLITE_NOTFOUND;
    QTest::newRow("Save while another program locks the table") << "Command2" << false << SQLITE_BUSY;
    QTest::newRow("Delete while another program locks the table") << "Command3" << false << SQLITE_BUSY;
}

void TestStockItem::failedSaveOrDelete_isReportedAndChangesNothing()
{
    QFETCH(QString, button);
    QFETCH(bool, deletedElsewhere);
    QFETCH(int, code);
    Counting counting(threeRows, 0);
    ReportedErrors errors;
    HeardSounds sounds;

    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        retype(dialog, {"X", "Y", "Z"});
        if (deletedElsewhere) {
            counting.folder.execute("DELETE FROM Stock WHERE id = 2");
            click(dialog, qPrintable(button));
        } else {
            DatabaseLock lock(counting.folder.databasePath());
            click(dialog, qPrintable(button));
        }
        // The editor stays as it was, the operator's texts with it.
        QVERIFY(dialog.isVisible());
        QCOMPARE(boxTexts(dialog), QStringList({"X", "Y", "Z"}));
    }));
    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, code);
    QCOMPARE(sounds.sounds, QStringList({"refused"}));
    QCOMPARE(listedRows(*counting.window), threeRows);
    QCOMPARE(counting.window->scanState().itemID, 4);
    if (!deletedElsewhere)
        QCOMPARE(counting.folder.rows(), threeRows);
}

void TestStockItem::keyboard_tabsInOrderAndEnterEscTriggerNoButton_frameCloseWritesNothing()
{
    Counting counting(threeRows);
    const QStringList tabOrder = {"Text1", "Text2", "Text3", "UpDown1", "Command1", "Command2", "Command3"};

    QVERIFY(counting.editRow(0, [&](StockItem &dialog) {
        QTRY_COMPARE(QApplication::focusWidget(), box(dialog, "Text1"));
        QCOMPARE(tabStops(), tabOrder);
        retype(dialog, {"X", "Y", "Z"});
        for (const QString &name : tabOrder) {
            auto *widget = control<QWidget>(dialog, qPrintable(name));
            widget->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(widget, key);
            QVERIFY2(dialog.isVisible(), qPrintable(name));
        }
        dialog.windowHandle()->close();
        QVERIFY(!dialog.isVisible());
    }));
    QCOMPARE(counting.folder.rows(), threeRows);
    QCOMPARE(listedRows(*counting.window), threeRows);
}

void TestStockItem::upDown_stepsTheNumberInText3WithinItsRange_data()
{
    QTest::addColumn<QString>("start");
    // u and d: the arrows; U and D: the Up and Down keys; + and -: a screen reader's increase and decrease
    QTest::addColumn<QString>("presses");
    QTest::addColumn<QString>("shown");
    QTest::newRow("up to the top") << "999" << "uu" << "1000";
    QTest::newRow("down at the bottom") << "0" << "d" << "0";
    QTest::newRow("not a number counts as 0") << "12abc" << "u" << "1";
    QTest::newRow("empty, down") << "" << "d" << "0";
    QTest::newRow("above the range") << "1500" << "d" << "999";
    QTest::newRow("keys") << "5" << "UUD" << "6";
    QTest::newRow("screen reader") << "999" << "++-+" << "1000";
}

void TestStockItem::upDown_stepsTheNumberInText3WithinItsRange()
{
    QFETCH(QString, start);
    QFETCH(QString, presses);
    QFETCH(QString, shown);
    Counting counting(threeRows);

    QVERIFY(counting.editRow(0, [&](StockItem &dialog) {
        retype(dialog, {"A1", "CODE-1", start});
        auto *upDown = control<QWidget>(dialog, "UpDown1");
        const QPoint up(upDown->width() / 2, 3);
        const QPoint down(upDown->width() / 2, upDown->height() - 3);
        for (QChar press : presses) {
            if (press == 'u' || press == 'd') {
                QTest::mouseClick(upDown, Qt::LeftButton, {}, press == 'u' ? up : down);
            } else if (press == '+' || press == '-') {
                QAccessibleInterface *spinner = QAccessible::queryAccessibleInterface(upDown);
                QCOMPARE(spinner->role(), QAccessible::SpinBox);
                QVERIFY(spinner->actionInterface());
                spinner->actionInterface()->doAction(press == '+' ? QAccessibleActionInterface::increaseAction()
                                                                  : QAccessibleActionInterface::decreaseAction());
            } else {
                upDown->setFocus();
                QTest::keyClick(upDown, press == 'U' ? Qt::Key_Up : Qt::Key_Down);
            }
        }
        QCOMPARE(box(dialog, "Text3")->text(), shown);
        QCOMPARE(QAccessible::queryAccessibleInterface(upDown)->valueInterface()->currentValue().toString(), shown);
        click(dialog, "Command2");
    }));
    QCOMPARE(counting.folder.rows()[0].quantity, shown.toStdString());
}

QTEST_MAIN(TestStockItem)
#include "test_stock_item.moc"

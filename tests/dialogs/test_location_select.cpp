#include "location_select.h"
#include "look.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

namespace {

// Opens the dialog with the main window's "Manual" button and runs interact in
// it; returns whether it opened.
bool manual(StockMain &window, const std::function<void(LocationSelect &)> &interact)
{
    return whileModal<LocationSelect>(
        [&] { QTest::mouseClick(control<QPushButton>(window, "Command5"), Qt::LeftButton); }, interact);
}

void choose(LocationSelect &dialog, const char *option)
{
    auto *button = control<QRadioButton>(dialog, option);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// Chooses an option, types the value into the emptied box and presses Enter there.
void setByEnter(LocationSelect &dialog, const char *option, const QString &value)
{
    choose(dialog, option);
    auto *box = control<QLineEdit>(dialog, "Text1");
    box->clear();
    QTest::keyClicks(box, value);
    QTest::keyClick(box, Qt::Key_Return);
}

QStringList captions(StockMain &window)
{
    return {control<QLabel>(window, "Row")->text(), control<QLabel>(window, "Rack")->text(),
            control<QLabel>(window, "Shelf")->text()};
}

QStringList pieces(const StockMain &window)
{
    const ScanState &scan = window.scanState();
    return {scan.rowNum, scan.rackNum, scan.shelfNum};
}

} // namespace

class TestLocationSelect : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void set_showsAndKeepsTheTypedPiece_data();
    void set_showsAndKeepsTheTypedPiece();
    void set_onePieceAfterAnotherLeavesTheThird();
    void closing_keepsTheLabelsAndTheNextOpeningStartsAfresh();

    void window_isModalUncentredAndTabsToTheChosenOptionOnly();
};

void TestLocationSelect::set_showsAndKeepsTheTypedPiece_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("piece"); // 0 row, 1 rack, 2 shelf
    QTest::addColumn<QString>("caption");
    QTest::newRow("row") << "Option1" << "12" << 0 << "Row: 12";
    QTest::newRow("rack, empty") << "Option2" << "" << 1 << "Rack: ";
    QTest::newRow("shelf, blanks and case kept") << "Option3" << " b Top " << 2 << "Shelf:  b Top ";
    QTest::newRow("a scanned label taken whole") << "Option1" << "ROW:5" << 0 << "Row: ROW:5";
}

void TestLocationSelect::set_showsAndKeepsTheTypedPiece()
{
    QFETCH(QString, option);
    QFETCH(QString, typed);
    QFETCH(int, piece);
    QFETCH(QString, caption);
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();

    QStringList expectedCaptions = {"", "", ""};
    expectedCaptions[piece] = caption;
    QStringList expectedPieces = {"", "", ""};
    expectedPieces[piece] = typed;
    QVERIFY(manual(window, [&](LocationSelect &dialog) {
        setByEnter(dialog, qPrintable(option), typed);
        QCOMPARE(captions(window), expectedCaptions);
        QCOMPARE(pieces(window), expectedPieces);

        // Still open with the same choice and text; Set again gives the same.
        QVERIFY(dialog.isVisible());
        QVERIFY(control<QRadioButton>(dialog, qPrintable(option))->isChecked());
        QCOMPARE(control<QLineEdit>(dialog, "Text1")->text(), typed);
        QTest::mouseClick(control<QPushButton>(dialog, "Command2"), Qt::LeftButton);
        QCOMPARE(captions(window), expectedCaptions);
        QVERIFY(dialog.isVisible());
    }));
    QCOMPARE(captions(window), expectedCaptions);
}

void TestLocationSelect::set_onePieceAfterAnotherLeavesTheThird()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    window.setLocationPiece(StockMain::LocationPiece::Row, "Row:", "A");

    QVERIFY(manual(window, [&](LocationSelect &dialog) {
        auto *option3 = control<QRadioButton>(dialog, "Option3");
        auto *close = control<QPushButton>(dialog, "Command1");
        choose(dialog, "Option2");
        QTest::keyClicks(control<QLineEdit>(dialog, "Text1"), "3");
        QTest::mouseClick(control<QPushButton>(dialog, "Command2"), Qt::LeftButton);
        QCOMPARE(captions(window), QStringList({"Row:A", "Rack: 3", ""}));

        // Enter runs Set wherever the focus is, on an option or on Close too.
        choose(dialog, "Option3");
        control<QLineEdit>(dialog, "Text1")->setText("B");
        option3->setFocus();
        QTest::keyClick(option3, Qt::Key_Return);
        QCOMPARE(captions(window), QStringList({"Row:A", "Rack: 3", "Shelf: B"}));
        control<QLineEdit>(dialog, "Text1")->setText("C");
        close->setFocus();
        QTest::keyClick(close, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QCOMPARE(captions(window), QStringList({"Row:A", "Rack: 3", "Shelf: C"}));
    }));
    QCOMPARE(pieces(window), QStringList({"A", "3", "C"}));
}

void TestLocationSelect::closing_keepsTheLabelsAndTheNextOpeningStartsAfresh()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();

    const std::function<void(LocationSelect &)> closeBy[] = {
        [](LocationSelect &dialog) { QTest::mouseClick(control<QPushButton>(dialog, "Command1"), Qt::LeftButton); },
        [](LocationSelect &dialog) { QTest::keyClick(control<QLineEdit>(dialog, "Text1"), Qt::Key_Escape); },
        [](LocationSelect &dialog) { dialog.windowHandle()->close(); },
    };
    for (const auto &close : closeBy) {
        QVERIFY(manual(window, [&](LocationSelect &dialog) {
            QVERIFY(control<QRadioButton>(dialog, "Option1")->isChecked());
            QCOMPARE(control<QLineEdit>(dialog, "Text1")->text(), QString());
            QTRY_COMPARE(QApplication::focusWidget(), control<QRadioButton>(dialog, "Option1"));
            setByEnter(dialog, "Option3", "X");
            close(dialog);
            QVERIFY(!dialog.isVisible());
        }));
        QCOMPARE(captions(window), QStringList({"", "", "Shelf: X"}));
    }
}

void TestLocationSelect::window_isModalUncentredAndTabsToTheChosenOptionOnly()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();

    QVERIFY(manual(window, [](LocationSelect &dialog) {
        QCOMPARE(dialog.parentWidget(), nullptr);
        QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
        // Placed by the window system (the test platform's top left corner), not centred.
        QVERIFY(!dialog.testAttribute(Qt::WA_Moved));
        const QPoint offCentre = dialog.frameGeometry().center() - dialog.screen()->availableGeometry().center();
        QVERIFY(offCentre.manhattanLength() > 100);

        QCOMPARE(focusChain(control<QWidget>(dialog, "Option1")),
                 QStringList({"Option1", "Option2", "Option3", "Text1", "Command1", "Command2"}));
        // Tab stops at the chosen option only; the arrow keys move between the options.
        QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>(dialog, "Option1"));
        QCOMPARE(tabStops(), QStringList({"Option1", "Text1", "Command1", "Command2"}));
    }));
}

QTEST_MAIN(TestLocationSelect)
#include "test_location_select.moc"

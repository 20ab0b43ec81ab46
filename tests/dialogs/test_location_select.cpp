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

class TestLocationSelect : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }
    void set_showsAndKeepsEachPiece_closingKeepsThem();
};

void TestLocationSelect::set_showsAndKeepsEachPiece_closingKeepsThem()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    const auto captions = [&] {
        return QStringList{control<QLabel>(window, "Row")->text(), control<QLabel>(window, "Rack")->text(),
                           control<QLabel>(window, "Shelf")->text()};
    };
    const std::function<void(LocationSelect &)> closeBy[] = {
        [](LocationSelect &dialog) { QTest::mouseClick(control<QPushButton>(dialog, "Command1"), Qt::LeftButton); },
        [](LocationSelect &dialog) { QTest::keyClick(control<QLineEdit>(dialog, "Text1"), Qt::Key_Escape); },
        [](LocationSelect &dialog) { dialog.windowHandle()->close(); },
    };
    for (int closer = 0; closer < 3; ++closer) {
        QVERIFY(whileModal<LocationSelect>(
            [&] { QTest::mouseClick(control<QPushButton>(window, "Command5"), Qt::LeftButton); },
            [&](LocationSelect &dialog) {
                auto *box = control<QLineEdit>(dialog, "Text1");
                const auto choose = [&](const char *option) {
                    auto *button = control<QRadioButton>(dialog, option);
                    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
                    box->setText(option);
                    return button;
                };
                // Every opening starts afresh.
                QVERIFY(control<QRadioButton>(dialog, "Option1")->isChecked());
                QCOMPARE(box->text(), QString());
                QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>(dialog, "Option1"));
                if (closer == 0) {
                    QCOMPARE(dialog.windowTitle(), QString("Quillmarch::Location Select"));
                    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
                    // Placed by the window system (the top left corner here), not centred.
                    QVERIFY((dialog.frameGeometry().center() - dialog.screen()->availableGeometry().center())
                                .manhattanLength() > 100);
                    // Tab stops at the chosen option only.
                    QCOMPARE(tabStops(), QStringList({"Option1", "Text1", "Command1", "Command2"}));
                    QTest::keyClicks(box, " 12 ");
                    QTest::keyClick(box, Qt::Key_Return);
                    choose("Option2")->setFocus();
                    box->clear();
                    QTest::mouseClick(control<QPushButton>(dialog, "Command2"), Qt::LeftButton);
                    QTest::keyClick(choose("Option3"), Qt::Key_Return);
                    QCOMPARE(captions(), QStringList({"Row:  12 ", "Rack: ", "Shelf: Option3"}));
                    // Enter on Close sets too, and the dialog stays with the same choice.
                    box->setText("C");
                    QTest::keyClick(control<QPushButton>(dialog, "Command1"), Qt::Key_Return);
                    QVERIFY(control<QRadioButton>(dialog, "Option3")->isChecked());
                } else {
                    choose("Option3");
                    box->setText(QString::number(closer));
                    QTest::keyClick(box, Qt::Key_Return);
                }
                QVERIFY(dialog.isVisible());
                closeBy[closer](dialog);
                QVERIFY(!dialog.isVisible());
            }));
        const ScanState &scan = window.scanState();
        QCOMPARE(QStringList({scan.rowNum, scan.rackNum, scan.shelfNum}),
                 QStringList({" 12 ", "", closer == 0 ? "C" : QString::number(closer)}));
    }
    QCOMPARE(captions(), QStringList({"Row:  12 ", "Rack: ", "Shelf: 2"}));
}

QTEST_MAIN(TestLocationSelect)
#include "test_location_select.moc"

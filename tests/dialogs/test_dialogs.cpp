#include "application/application.h"
#include "dialogs/location_select.h"
#include "dialogs/stock_item.h"
#include "support/window_driver.h"

#include <QAccessible>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>

namespace {

QLineEdit *box(const QWidget &dialog, const char *name)
{
    return control<QLineEdit>(dialog, name);
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setUpApplication(); }
    void itemEditor_showsTheRecordAndTellsTheChoice();
    void itemEditor_upDownStepsTheQuantity_data();
    void itemEditor_upDownStepsTheQuantity();
    void locationSelect_tellsEachPieceSetUntilClosed();
};

void TestDialogs::itemEditor_showsTheRecordAndTellsTheChoice()
{
    // A code of megabytes, as another program may store, shows by its start and is kept
    // whole; a text of a line box's own limit is edited as any.
    const QString longCode = "CODE-1 " + QString("x").repeated(40000), longest(32767, 'L');
    StockItem dialog({longest, longCode, "5"});
    QSignalSpy saved(&dialog, &StockItem::saveChosen);
    QSignalSpy deleted(&dialog, &StockItem::deleteChosen);
    // Shown as its owner shows it, modal to the whole program.
    QVERIFY(whileModal<StockItem>(
        [&] { dialog.exec(); },
        [&](StockItem &) {
            QCOMPARE(dialog.windowTitle(), "Quillmarch::StockItem::Edit");
            QCOMPARE(box(dialog, "locationBox")->text(), longest);
            QCOMPARE(box(dialog, "stockCodeBox")->text(), longCode.left(300) + QChar(0x2026));
            QVERIFY(box(dialog, "stockCodeBox")->toolTip().startsWith("40007 characters, too long to edit"));
            QCOMPARE(box(dialog, "quantityBox")->text(), "5");
            QCOMPARE(dialog.frameGeometry().center(), dialog.screen()->availableGeometry().center());
            QTRY_COMPARE(QApplication::focusWidget(), box(dialog, "locationBox"));
            const QStringList tabOrder = {"locationBox", "stockCodeBox", "quantityBox", "quantitySpinner",
                                          "closeButton", "saveButton",   "deleteButton"};
            QCOMPARE(tabStops(), tabOrder);
            // A screen reader names each box by its caption.
            QCOMPARE(QAccessible::queryAccessibleInterface(box(dialog, "stockCodeBox"))->text(QAccessible::Name),
                     "Stock Code");

            // No button is the default nor answers Esc: a stray key chooses nothing.
            for (const QString &name : tabOrder) {
                QWidget *widget = control(dialog, qPrintable(name));
                widget->setFocus();
                for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                    QTest::keyClick(widget, key);
                QVERIFY2(dialog.isVisible(), qPrintable(name));
            }
            QCOMPARE(saved.count(), 0);
            QCOMPARE(deleted.count(), 0);

            // Save and Delete tell the choice and leave the closing to the owner.
            box(dialog, "locationBox")->clear();
            typeText(box(dialog, "locationBox"), " b2 ");
            box(dialog, "quantityBox")->setText("");
            click(dialog, "saveButton");
            QCOMPARE(saved.count(), 1);
            QCOMPARE(saved[0][0].value<RecordTexts>(), (RecordTexts{" b2 ", longCode, ""}));
            click(dialog, "deleteButton");
            QCOMPARE(deleted.count(), 1);
            QVERIFY(dialog.isVisible());
            click(dialog, "closeButton");
            QVERIFY(!dialog.isVisible());
        }));

    // A quantity too long to edit is not stepped, not even by a screen reader.
    const StockItem tooLong({"A1", "CODE-1", longCode});
    QWidget *upDown = control(tooLong, "quantitySpinner");
    QAccessible::queryAccessibleInterface(upDown)->actionInterface()->doAction(
        QAccessibleActionInterface::increaseAction());
    QCOMPARE(box(tooLong, "quantityBox")->text(), longCode.left(300) + QChar(0x2026));
}

void TestDialogs::itemEditor_upDownStepsTheQuantity_data()
{
    QTest::addColumn<QString>("quantity");
    // How the quantity is stepped: an arrow clicked (^ v), the Up or Down key (U D), or a screen
    // reader's increase or decrease (+ -).
    QTest::addColumn<QString>("presses");
    QTest::addColumn<QString>("stepped");
    QTest::newRow("up to the top") << "999" << QString("^^") << "1000";
    QTest::newRow("down at the bottom") << "0" << QString("v") << "0";
    QTest::newRow("text that is no number counts as 0") << "12abc" << QString("^") << "1";
    // A quantity stored outside the range steps from where it stands, and stays as it is the other way.
    QTest::newRow("above the range") << "1500" << QString("^") << "1500";
    QTest::newRow("far above the range") << "3000000000" << QString("v") << "2999999999";
    QTest::newRow("below the range") << "-3" << QString("^v") << "-2";
    QTest::newRow("keys") << "5" << QString("UUD") << "6";
    QTest::newRow("screen reader") << "5" << QString("++-+") << "7";
}

void TestDialogs::itemEditor_upDownStepsTheQuantity()
{
    QFETCH(QString, quantity);
    QFETCH(QString, presses);
    StockItem dialog({"A1", "CODE-1", quantity});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QWidget *upDown = control(dialog, "quantitySpinner");
    QAccessibleInterface *spinner = QAccessible::queryAccessibleInterface(upDown);
    QCOMPARE(spinner->role(), QAccessible::SpinBox);
    for (QChar press : presses) {
        const bool up = QString("^U+").contains(press);
        if (press == '^' || press == 'v')
            QTest::mouseClick(upDown, Qt::LeftButton, {}, QPoint(upDown->width() / 2, up ? 3 : upDown->height() - 3));
        else if (press == 'U' || press == 'D')
            QTest::keyClick(upDown, up ? Qt::Key_Up : Qt::Key_Down);
        else
            spinner->actionInterface()->doAction(up ? QAccessibleActionInterface::increaseAction()
                                                    : QAccessibleActionInterface::decreaseAction());
    }
    QTEST(box(dialog, "quantityBox")->text(), "stepped");
    QTEST(spinner->valueInterface()->currentValue().toString(), "stepped");
}

void TestDialogs::locationSelect_tellsEachPieceSetUntilClosed()
{
    QList<std::pair<LocationPiece, QString>> chosen;
    LocationSelect dialog;
    connect(&dialog, &LocationSelect::pieceChosen, [&](LocationPiece piece, const QString &value) {
        chosen.append({piece, value});
    });
    const auto choose = [&](const char *option) {
        QTest::mouseClick(control<QRadioButton>(dialog, option), Qt::LeftButton, {}, QPoint(8, 8));
        return control(dialog, option);
    };
    QVERIFY(whileModal<LocationSelect>(
        [&] { dialog.exec(); },
        [&](LocationSelect &) {
            QTRY_COMPARE(QApplication::focusWidget(), control(dialog, "rowOption"));
            QCOMPARE(dialog.windowTitle(), "Quillmarch::Location Select");
            for (const auto &[option, caption] :
                 {std::pair{"rowOption", "Row"}, {"rackOption", "Rack"}, {"shelfOption", "Shelf"}})
                QCOMPARE(control<QRadioButton>(dialog, option)->text(), caption);
            // Placed by the window system (the top left corner here), not centred.
            QCOMPARE(dialog.frameGeometry().topLeft(), dialog.screen()->availableGeometry().topLeft());
            // Tab stops at the chosen option only.
            QCOMPARE(tabStops(), QStringList({"rowOption", "valueBox", "closeButton", "setButton"}));
            // Enter in the box sets, taking the text whole, the row's option chosen at first.
            QTest::keyClicks(box(dialog, "valueBox"), " 12 ");
            QTest::keyClick(box(dialog, "valueBox"), Qt::Key_Return);
            choose("rackOption");
            box(dialog, "valueBox")->clear();
            click(dialog, "setButton");
            // Enter on Close sets too, and on an option; the dialog stays open.
            box(dialog, "valueBox")->setText("C");
            QTest::keyClick(control(dialog, "closeButton"), Qt::Key_Return);
            QTest::keyClick(choose("shelfOption"), Qt::Key_Return);
            QVERIFY(dialog.isVisible());
            click(dialog, "closeButton");
            QVERIFY(!dialog.isVisible());
        }));
    const QList<std::pair<LocationPiece, QString>> expected = {{LocationPiece::Row, " 12 "},
                                                               {LocationPiece::Rack, ""},
                                                               {LocationPiece::Rack, "C"},
                                                               {LocationPiece::Shelf, "C"}};
    QCOMPARE(chosen, expected);
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"

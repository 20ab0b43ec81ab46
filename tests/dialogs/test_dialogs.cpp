#include "frm_about.h"
#include "location_select.h"
#include "look.h"
#include "stock_fixture.h"
#include "stock_item.h"
#include "stock_list_model.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAccessible>
#include <QBitmap>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <sqlite3.h>

using Rows = std::vector<TableRow>;

namespace {

// Ids that are not list positions, so a row is found by its tag only.
const Rows threeRows = {{3, "A1", "CODE-1", "5"}, {5, "B2", "CODE-2", "7"}, {9, "C3", "CODE-3", "9"}};

// The main window on screen over a table that holds the given rows.
struct Counting {
    explicit Counting(const Rows &rows = threeRows, int busyTimeoutMs = 0)
    {
        folder.createWith(rows);
        window = std::make_unique<StockMain>(StockStore(folder.path(), busyTimeoutMs));
        window->show();
    }
    StockListView *list() const { return control<StockListView>(*window, "ListView1"); }
    QPoint rowCentre(int row) const { return list()->visualRect(window->listItems().index(row, 0)).center(); }
    // A double-click as the mouse makes it: a click, then the second press.
    void doubleClick(int row, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) const
    {
        QTest::mouseClick(list()->viewport(), button, modifiers, rowCentre(row));
        QTest::mouseDClick(list()->viewport(), button, modifiers, rowCentre(row));
    }
    // Opens a list row's editor and runs interact in it; returns whether one opened.
    bool editRow(int row, const std::function<void(StockItem &)> &interact) const
    {
        return whileModal<StockItem>([&] { doubleClick(row); }, interact);
    }

    StockFolder folder;
    std::unique_ptr<StockMain> window;
};

QStringList boxTexts(StockItem &dialog)
{
    QStringList texts;
    for (const char *name : {"Text1", "Text2", "Text3"})
        texts << control<QLineEdit>(dialog, name)->text();
    return texts;
}

void retype(StockItem &dialog, const QStringList &texts)
{
    for (int i = 0; i < 3; ++i) {
        control<QLineEdit>(dialog, qPrintable("Text" + QString::number(i + 1)))->clear();
        typeText(control<QLineEdit>(dialog, qPrintable("Text" + QString::number(i + 1))), texts[i]);
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

const QString version = QString("Version: %1.%2 Beta - Build %3")
                            .arg(QUILLMARCH_VERSION_MAJOR)
                            .arg(QUILLMARCH_VERSION_MINOR)
                            .arg(QUILLMARCH_VERSION_REVISION);

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }
    void open_showsTheRecordNow_keysTriggerNoButton();
    void saveAndDelete_data();
    void saveAndDelete();
    void upDown_stepsText3WithinItsRange();
    void set_showsAndKeepsEachPiece_closingKeepsThem();
    void aboutButton_opensAFreshCentredModalBox();
    void box_readDrawnAndLinked();
};

void TestDialogs::open_showsTheRecordNow_keysTriggerNoButton()
{
    Counting counting;
    const QString longCode(100000, 'L');
    counting.folder.execute("UPDATE Stock SET Location = 'B2 moved', StockCode = '" + longCode.toStdString()
                            + "', Quantity = '70' WHERE id = 5");
    const QStringList tabOrder = {"Text1", "Text2", "Text3", "UpDown1", "Command1", "Command2", "Command3"};
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        QCOMPARE(dialog.windowTitle(), QString("Quillmarch::StockItem::Edit"));
        QCOMPARE(boxTexts(dialog), QStringList({"B2 moved", longCode, "70"}));
        QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>(dialog, "Text1"));
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
        dialog.windowHandle()->close();
        QVERIFY(!dialog.isVisible());
    }));
    // The list keeps what it showed: only Save rewrites a row.
    QCOMPARE(listedRows(*counting.window), threeRows);

    // F2 in the list opens the selected row as a double-click does.
    QTest::keyClick(counting.list(), Qt::Key_Down);
    QStringList shown;
    QVERIFY(whileModal<StockItem>([&] { QTest::keyClick(counting.list(), Qt::Key_F2); },
                                  [&](StockItem &dialog) { shown = boxTexts(dialog); }));
    QCOMPARE(shown, QStringList({"C3", "CODE-3", "9"}));

    // Only the left button's double-click opens a row; with Ctrl it unselects the row.
    QVERIFY(!whileModal<StockItem>([&] { counting.doubleClick(1, Qt::RightButton); }, opensNothing));
    QCOMPARE(counting.window->selectedRow(), 1);
    QVERIFY(!whileModal<StockItem>([&] { counting.doubleClick(1, Qt::LeftButton, Qt::ControlModifier); },
                                   opensNothing));
    QCOMPARE(counting.window->selectedRow(), -1);
    QVERIFY(!whileModal<StockItem>([&] { QTest::keyClick(counting.list(), Qt::Key_F2); }, opensNothing));

    // A record deleted elsewhere is reported.
    counting.folder.execute("DELETE FROM Stock WHERE id = 5");
    ReportedErrors errors;
    QVERIFY(!counting.editRow(1, opensNothing));
    QCOMPARE(errors.reports.size(), std::size_t(1));
    QCOMPARE(errors.reports[0].code, SQLITE_NOTFOUND);
    QVERIFY2(toQString(errors.reports[0].text).contains("id 5 "), errors.reports[0].text.c_str());
    QCOMPARE(listedRows(*counting.window), threeRows);
}

void TestDialogs::saveAndDelete_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("gone");   // the record deleted by another program while the editor is open
    QTest::addColumn<bool>("locked"); // the table locked by another program
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<Rows>("table");
    QTest::addColumn<int>("error");
    const QStringList typed = {" b2 Top ", "数量 ", ""};
    const Rows left = {threeRows[0], threeRows[2]};
    QTest::newRow("save") << "Command2" << false << false << typed
                          << Rows{threeRows[0], {5, " b2 Top ", "数量 ", ""}, threeRows[2]} << 0;
    QTest::newRow("save, record gone") << "Command2" << true << false << typed << left << SQLITE_NOTFOUND;
    QTest::newRow("save, locked") << "Command2" << false << true << typed << threeRows << SQLITE_BUSY;
    QTest::newRow("delete") << "Command3" << false << false << typed << left << 0;
    QTest::newRow("delete, record gone") << "Command3" << true << false << typed << left << 0;
    QTest::newRow("delete, locked") << "Command3" << false << true << typed << threeRows << SQLITE_BUSY;
}

void TestDialogs::saveAndDelete()
{
    QFETCH(QString, button);
    QFETCH(bool, gone);
    QFETCH(bool, locked);
    QFETCH(QStringList, typed);
    QFETCH(Rows, table);
    QFETCH(int, error);
    Counting counting;
    ReportedErrors errors;
    HeardSounds sounds;
    QVERIFY(counting.editRow(1, [&](StockItem &dialog) {
        retype(dialog, typed);
        if (gone)
            counting.folder.execute("DELETE FROM Stock WHERE id = 5");
        std::optional<DatabaseLock> lock;
        if (locked)
            lock.emplace(counting.folder.databasePath());
        QTest::mouseClick(control<QPushButton>(dialog, qPrintable(button)), Qt::LeftButton);
        // A failure leaves the editor as it was, the operator's texts with it.
        QCOMPARE(dialog.isVisible(), error != 0);
        QCOMPARE(boxTexts(dialog), typed);
    }));
    QCOMPARE(counting.folder.rows(), table);
    const Rows listed = error ? threeRows : table;
    QCOMPARE(listedRows(*counting.window), listed);
    QCOMPARE(counting.window->scanState().itemID, int(listed.size()) + 1);
    QCOMPARE(errors.reports.size(), std::size_t(error ? 1 : 0));
    QCOMPARE(errors.reports.empty() ? 0 : errors.reports[0].code, error);
    QCOMPARE(sounds.sounds, QStringList({error ? "refused" : "stored"}));
    // The second row opens again, read back from the table by its tag.
    QStringList reopened;
    if (!error)
        QVERIFY(counting.editRow(1, [&](StockItem &dialog) { reopened = boxTexts(dialog); }));
    if (!error)
        QCOMPARE(reopened, QStringList({toQString(listed[1].location), toQString(listed[1].stockCode),
                                        toQString(listed[1].quantity)}));
}

void TestDialogs::upDown_stepsText3WithinItsRange()
{
    Counting counting;
    QVERIFY(counting.editRow(0, [&](StockItem &dialog) {
        auto *upDown = control<QWidget>(dialog, "UpDown1");
        QAccessibleInterface *spinner = QAccessible::queryAccessibleInterface(upDown);
        QCOMPARE(spinner->role(), QAccessible::SpinBox);
        // u and d: the arrows; U and D: the Up and Down keys; + and -: a screen reader's increase and decrease
        const QStringList steps[] = {{"999", "uu", "1000"}, {"0", "d", "0"}, {"12abc", "u", "1"}, {"", "d", "0"},
                                     {"1500", "d", "999"}, {"5", "UUD", "6"}, {"999", "++-+", "1000"}};
        for (const QStringList &step : steps) {
            retype(dialog, {"A1", "CODE-1", step[0]});
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
            QCOMPARE(control<QLineEdit>(dialog, "Text3")->text(), step[2]);
            QCOMPARE(spinner->valueInterface()->currentValue().toString(), step[2]);
        }
        QTest::mouseClick(control<QPushButton>(dialog, "Command2"), Qt::LeftButton);
    }));
    QCOMPARE(counting.folder.rows()[0].quantity, std::string("1000"));
}

void TestDialogs::set_showsAndKeepsEachPiece_closingKeepsThem()
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

void TestDialogs::aboutButton_opensAFreshCentredModalBox()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The first box is left changed, closed by Esc from the notice; the next shows afresh, and
    // the notice leaves Enter to OK.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QVERIFY(whileModal<frmAbout>(
            [&] { QTest::mouseClick(control<QPushButton>(window, "Command4"), Qt::LeftButton); },
            [&](frmAbout &about) {
                QVERIFY(QTest::qWaitForWindowActive(&about));
                QCOMPARE(about.windowTitle(), QString("About Quillmarch"));
                QCOMPARE(about.windowModality(), Qt::ApplicationModal);
                QCOMPARE(about.frameGeometry().center(), about.screen()->availableGeometry().center());
                QCOMPARE(QApplication::focusWidget(), control<QPushButton>(about, "cmdOK"));
                QCOMPARE(control<QLabel>(about, "lblVersion")->text(), version);
                control<QLabel>(about, "lblVersion")->setText("changed");
                control<QPlainTextEdit>(about, "txtSpecialCopyright")->setFocus();
                QTest::keyClick(QApplication::focusWidget(), key);
                QCOMPARE(about.isVisible() ? -1 : about.result(), key == Qt::Key_Return ? 1 : 0);
            }));
    }
}

void TestDialogs::box_readDrawnAndLinked()
{
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    // The texts, the icon and the controls are read; none of the decorations.
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(&about);
    QStringList read;
    for (int i = 0; i < box->childCount(); ++i)
        read << box->child(i)->text(QAccessible::Name);
    QCOMPARE(read, QStringList({version, "Copyright © 2026 Example Software", "https://quillmarch.example/",
                                "Quillmarch Pages", "  Example Software", "Quillmarch icon",
                                control<QLabel>(about, "Label2")->text(), "Quillmarch", "OK", "Copyright warning"}));
    QCOMPARE(box->indexOfChild(box->child(8)), 8);

    // A square outline centred in its 97 x 73 box, a pink edge, a filled band and a line.
    const std::tuple<const char *, QPoint, QRgb> pixels[] = {
        {"shpRect_1", {11, 36}, 0}, {"shpRect_1", {12, 0}, qRgb(255, 128, 128)}, {"shpRect_1", {28, 16}, 0},
        {"shpRect_0", {9, 9}, qRgb(255, 192, 255)}, {"shpRect_0", {10, 10}, 0},
        {"shpRect_2", {0, 0}, qRgb(192, 192, 255)}, {"Line1_1", {335, 0}, qRgb(192, 192, 192)}};
    for (const auto &[name, at, colour] : pixels) {
        QWidget *shape = control<QWidget>(about, name);
        QImage image(shape->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        shape->render(&image, QPoint(), QRegion(), {});
        QCOMPARE(image.pixel(at), colour);
    }

    // Each link opens its own tag (changed here to tell them apart) under a pointing hand,
    // its fingertip at (6, 4) in a black outline; a click anywhere else opens nothing.
    OpenedUrls browser;
    QList<QUrl> expected;
    for (const char *name : {"lblProduct", "lblURL", "lblCopyright"}) {
        QLabel *link = control<QLabel>(about, name);
        QCOMPARE(link->property("Tag").toString(), QString("https://quillmarch.example/"));
        link->setProperty("Tag", QString("https://quillmarch.example/") + name);
        expected << QUrl(link->property("Tag").toString());
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(link, Qt::RightButton);
        QTest::mousePress(link, Qt::LeftButton);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-4, -4));
        const QImage picture = link->cursor().bitmap().toImage(), mask = link->cursor().mask().toImage();
        const auto set = [](const QImage &bits, int x, int y) { return bits.pixel(x, y) == QColor(Qt::color1).rgb(); };
        QCOMPARE(link->cursor().hotSpot(), QPoint(6, 4));
        QVERIFY(set(mask, 6, 4) && set(picture, 6, 4) && !set(mask, 6, 3) && set(mask, 7, 5) && !set(picture, 7, 5));
    }
    for (const char *name : {"lblVersion", "lblTitle", "Label2", "imgIcon", "lblInfo_1", "lblDescription"}) {
        QTest::mouseClick(control<QWidget>(about, name), Qt::LeftButton);
        QVERIFY(!control<QWidget>(about, name)->testAttribute(Qt::WA_SetCursor));
    }
    QCOMPARE(browser.urls, expected);
    QVERIFY(about.isVisible());
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"

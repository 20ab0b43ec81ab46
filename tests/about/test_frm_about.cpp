#include "frm_about.h"
#include "look.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QAccessible>
#include <QBitmap>
#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>

namespace {

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

const QString version = versionText(QUILLMARCH_VERSION_MAJOR, QUILLMARCH_VERSION_MINOR, QUILLMARCH_VERSION_REVISION);

} // namespace

class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }
    void aboutButton_opensAFreshCentredModalBox();
    void box_readByAScreenReader_drawnWithItsShapes();
    void linkLabels_openTheirOwnAddressUnderThePointingHand();
};

void TestFrmAbout::aboutButton_opensAFreshCentredModalBox()
{
    QCOMPARE(versionText(2, 10, 305), QString("Version: 2.10 Beta - Build 305"));
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The first box is left changed, closed by Esc from the notice; the second shows afresh
    // and the notice leaves Enter to OK.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QVERIFY(whileModal<frmAbout>(
            [&] { QTest::mouseClick(control<QPushButton>(window, "Command4"), Qt::LeftButton); },
            [&](frmAbout &about) {
                QVERIFY(QTest::qWaitForWindowActive(&about));
                QCOMPARE(about.windowTitle(), QString("About Quillmarch"));
                QCOMPARE(about.windowModality(), Qt::ApplicationModal);
                QCOMPARE(about.frameGeometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
                QCOMPARE(QApplication::focusWidget(), control<QPushButton>(about, "cmdOK"));
                QCOMPARE(control<QLabel>(about, "lblVersion")->text(), version);
                control<QLabel>(about, "lblVersion")->setText("changed");
                auto *notice = control<QPlainTextEdit>(about, "txtSpecialCopyright");
                notice->setFocus();
                QTest::keyClick(notice, key);
                QVERIFY(!about.isVisible());
                QCOMPARE(about.result(), key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
            }));
    }
}

void TestFrmAbout::box_readByAScreenReader_drawnWithItsShapes()
{
    frmAbout about;
    // The texts, the icon and the controls are read, and none of the decorations.
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(&about);
    QStringList read;
    for (int i = 0; i < box->childCount(); ++i)
        read << box->child(i)->text(QAccessible::Name);
    QCOMPARE(read, QStringList({version, "Copyright © 2026 Example Software", "https://quillmarch.example/",
                                "Quillmarch Pages", "  Example Software", "Quillmarch icon",
                                control<QLabel>(about, "Label2")->text(), "Quillmarch", "OK", "Copyright warning"}));
    QCOMPARE(box->indexOfChild(box->child(8)), 8);

    const QRgb none = qRgba(0, 0, 0, 0), rose = qRgb(255, 128, 128), pink = qRgb(255, 192, 255);
    const struct {
        const char *shape;
        QPoint at;
        QRgb colour;
    } pixels[] = {
        // A 16 pixel outline around the square centred in its 97 x 73 box.
        {"shpRect_1", {11, 36}, none}, {"shpRect_1", {12, 0}, rose}, {"shpRect_1", {27, 15}, rose},
        {"shpRect_1", {28, 16}, none}, {"shpRect_0", {9, 9}, pink}, {"shpRect_0", {10, 10}, none},
        // Filled without an outline; a line fills its strip.
        {"shpRect_2", {0, 0}, qRgb(192, 192, 255)}, {"Line1_1", {335, 0}, qRgb(192, 192, 192)},
    };
    for (const auto &pixel : pixels) {
        QWidget *shape = control<QWidget>(about, pixel.shape);
        QImage image(shape->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        shape->render(&image, QPoint(), QRegion(), {});
        QCOMPARE(image.pixel(pixel.at), pixel.colour);
    }
}

void TestFrmAbout::linkLabels_openTheirOwnAddressUnderThePointingHand()
{
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    OpenedUrls browser;
    QList<QUrl> expected;
    for (const char *name : {"lblProduct", "lblURL", "lblCopyright"}) {
        QLabel *link = control<QLabel>(about, name);
        QCOMPARE(link->property("Tag").toString(), QString("https://quillmarch.example/"));
        // Each opens its own tag, told apart here by changing them.
        link->setProperty("Tag", QString("https://quillmarch.example/") + name);
        QTest::mouseClick(link, Qt::LeftButton);
        expected << QUrl(link->property("Tag").toString());
        QTest::mouseClick(link, Qt::RightButton);
        QTest::mousePress(link, Qt::LeftButton);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-4, -4));

        // The fingertip at (6, 4), outlined in black; no pixel inverts the screen beneath.
        const QCursor cursor = link->cursor();
        QCOMPARE(cursor.hotSpot(), QPoint(6, 4));
        const QImage picture = cursor.bitmap().toImage(), mask = cursor.mask().toImage();
        QCOMPARE(picture.size(), QSize(32, 32));
        const auto set = [](const QImage &bits, int x, int y) { return bits.pixel(x, y) == QColor(Qt::color1).rgb(); };
        QVERIFY(set(mask, 6, 4) && set(picture, 6, 4) && !set(mask, 6, 3) && set(mask, 7, 5) && !set(picture, 7, 5));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                QVERIFY(!set(picture, x, y) || set(mask, x, y));
    }
    for (const char *name : {"lblVersion", "lblTitle", "Label2", "imgIcon", "lblInfo_1", "lblDescription"}) {
        QTest::mouseClick(control<QWidget>(about, name), Qt::LeftButton);
        QVERIFY(!control<QWidget>(about, name)->testAttribute(Qt::WA_SetCursor));
    }
    QCOMPARE(browser.urls, expected);
    QVERIFY(about.isVisible());
}

QTEST_MAIN(TestFrmAbout)
#include "test_frm_about.moc"

#include "frm_about.h"
#include "look.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QApplication>
#include <QBitmap>
#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QAccessible>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void versionText_composesTheThreeNumbers();

    void aboutButton_opensAFreshModalBoxEachTime();
    void box_stackingFocusOrderAndWhatAScreenReaderReads();
    void shapes_drawTheirOutlinesAndFills();

    void linkLabels_openTheirOwnAddressAndNothingElseDoes();
    void linkLabels_showThePointingHand();
};

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

// Clicks the main window's About button and hands the modal box it opens to
// `inspect`. Returns whether a box opened.
bool clickAbout(StockMain &window, const std::function<void(frmAbout &)> &inspect)
{
    return whileModal<frmAbout>(
        [&] { QTest::mouseClick(control<QPushButton>(window, "Command4"), Qt::LeftButton); }, inspect);
}

QString buildVersionText()
{
    return versionText(QUILLMARCH_VERSION_MAJOR, QUILLMARCH_VERSION_MINOR, QUILLMARCH_VERSION_REVISION);
}

// What a widget paints itself, on a transparent ground.
QImage painted(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), {});
    return image;
}

bool isSet(const QImage &bits, int x, int y)
{
    return bits.pixel(x, y) == QColor(Qt::color1).rgb();
}

const char *const linkLabels[] = {"lblProduct", "lblURL", "lblCopyright"};
const QString siteAddress = QStringLiteral("https://quillmarch.example/");

} // namespace

void TestFrmAbout::versionText_composesTheThreeNumbers()
{
    QCOMPARE(versionText(1, 0, 1), QString("Version: 1.0 Beta - Build 1"));
    QCOMPARE(versionText(2, 10, 305), QString("Version: 2.10 Beta - Build 305"));
}

void TestFrmAbout::aboutButton_opensAFreshModalBoxEachTime()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Leave the first box in another state: a changed version text and the
    // focus in the notice, from where Esc still closes it.
    bool closedByEsc = false;
    QVERIFY(clickAbout(window, [&](frmAbout &about) {
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(about.parentWidget(), nullptr);
        QCOMPARE(about.windowModality(), Qt::ApplicationModal);
        // Centred with its frame.
        QVERIFY(about.frameGeometry() != about.geometry());
        const QPoint offCentre =
            about.frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY(qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1);

        control<QLabel>(about, "lblVersion")->setText("changed");
        auto *notice = control<QPlainTextEdit>(about, "txtSpecialCopyright");
        notice->setFocus();
        QCOMPARE(QApplication::focusWidget(), notice);
        QTest::keyClick(notice, Qt::Key_Escape);
        closedByEsc = !about.isVisible();
    }));
    QVERIFY(closedByEsc);

    QString version;
    QWidget *focus = nullptr;
    bool closedByEnterInNotice = false;
    QVERIFY(clickAbout(window, [&](frmAbout &about) {
        QVERIFY(QTest::qWaitForWindowActive(&about));
        version = control<QLabel>(about, "lblVersion")->text();
        focus = QApplication::focusWidget();
        QCOMPARE(focus, control<QPushButton>(about, "cmdOK"));
        // The notice box leaves Enter to the default button.
        auto *notice = control<QPlainTextEdit>(about, "txtSpecialCopyright");
        notice->setFocus();
        QTest::keyClick(notice, Qt::Key_Return);
        closedByEnterInNotice = !about.isVisible() && about.result() == QDialog::Accepted;
    }));
    QCOMPARE(version, buildVersionText());
    QVERIFY(closedByEnterInNotice);
}

void TestFrmAbout::box_stackingFocusOrderAndWhatAScreenReaderReads()
{
    frmAbout about;

    // Where they overlap, the product name lies on the yellow band, the title on
    // the orange one, and the icon's frame is drawn over the icon.
    QStringList stacking;
    for (QObject *child : about.children())
        if (child->isWidgetType())
            stacking << child->objectName();
    QVERIFY(stacking.indexOf("lblInfo_1") > stacking.indexOf("lblDescription"));
    QVERIFY(stacking.indexOf("lblTitle") > stacking.indexOf("Label1"));
    QVERIFY(stacking.indexOf("shpRect_1") > stacking.indexOf("imgIcon"));

    // Only OK and the notice take the focus, OK first.
    QCOMPARE(focusChain(control<QPushButton>(about, "cmdOK")), QStringList({"cmdOK", "txtSpecialCopyright"}));

    // A screen reader reads the texts, the icon and the controls, every one
    // named, and none of the shapes, lines, dot rows and coloured bands.
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(&about);
    QStringList read;
    for (int i = 0; i < box->childCount(); ++i)
        read << box->child(i)->text(QAccessible::Name);
    QCOMPARE(read, QStringList({buildVersionText(), "Copyright © 2026 Example Software", siteAddress,
                                "Quillmarch Pages", "  Example Software", "Quillmarch icon",
                                control<QLabel>(about, "Label2")->text(), "Quillmarch", "OK",
                                "Copyright warning"}));
}

void TestFrmAbout::shapes_drawTheirOutlinesAndFills()
{
    frmAbout about;
    const QRgb none = qRgba(0, 0, 0, 0);
    const QRgb rose = qRgb(255, 128, 128);
    const QRgb pink = qRgb(255, 192, 255);
    const struct {
        const char *shape;
        QPoint at;
        QRgb colour;
    } pixels[] = {
        // A 16 pixel outline around the square centred in its 97 x 73 box.
        {"shpRect_1", {11, 36}, none}, {"shpRect_1", {12, 0}, rose}, {"shpRect_1", {27, 15}, rose},
        {"shpRect_1", {28, 16}, none},
        // A 10 pixel outline along the edge of its box.
        {"shpRect_0", {0, 0}, pink}, {"shpRect_0", {9, 9}, pink}, {"shpRect_0", {10, 10}, none},
        // Filled without an outline; a line fills its strip.
        {"shpRect_2", {0, 0}, qRgb(192, 192, 255)}, {"Line1_1", {335, 0}, qRgb(192, 192, 192)},
    };
    for (const auto &pixel : pixels)
        QCOMPARE(painted(control<QWidget>(about, pixel.shape)).pixel(pixel.at), pixel.colour);
}

void TestFrmAbout::linkLabels_openTheirOwnAddressAndNothingElseDoes()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    OpenedUrls browser;

    bool stayedOpen = true;
    QVERIFY(clickAbout(window, [&](frmAbout &about) {
        for (const char *name : linkLabels) {
            QLabel *link = control<QLabel>(about, name);
            QCOMPARE(link->property("Tag").toString(), siteAddress);
            // Each label opens its own tag, so change the tag to tell them apart.
            const QUrl own(siteAddress + name);
            link->setProperty("Tag", own.toString());
            browser.urls.clear();
            QTest::mouseClick(link, Qt::LeftButton);
            QCOMPARE(browser.urls, QList<QUrl>({own}));
            stayedOpen = stayedOpen && about.isVisible() && QApplication::activeModalWidget() == &about;

            browser.urls.clear();
            QTest::mouseClick(link, Qt::RightButton);
            QTest::mousePress(link, Qt::LeftButton);
            QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-4, -4));
            QCOMPARE(browser.urls, QList<QUrl>());
        }

        for (const char *name : {"lblVersion", "lblTitle", "lblInfo_1", "Label2", "imgIcon", "Label1",
                                 "lblDescription", "lblInfo_4", "lblDotLine_0", "lblDotLine_1", "shpRect_0",
                                 "shpRect_1", "shpRect_2", "Line1_0", "Line1_1"})
            QTest::mouseClick(control<QWidget>(about, name), Qt::LeftButton);
        QTest::mouseClick(control<QPlainTextEdit>(about, "txtSpecialCopyright")->viewport(), Qt::LeftButton);
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(300, 140));
        QCOMPARE(browser.urls, QList<QUrl>());
        stayedOpen = stayedOpen && about.isVisible();
    }));
    QVERIFY(stayedOpen);
}

void TestFrmAbout::linkLabels_showThePointingHand()
{
    frmAbout about;

    for (const char *name : linkLabels) {
        const QCursor cursor = control<QLabel>(about, name)->cursor();
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QCOMPARE(cursor.hotSpot(), QPoint(6, 4));
        const QImage picture = cursor.bitmap().toImage();
        const QImage mask = cursor.mask().toImage();
        QCOMPARE(picture.size(), QSize(32, 32));
        QCOMPARE(mask.size(), QSize(32, 32));
        // The hot spot is the top of the fingertip, outlined in black.
        QVERIFY(isSet(mask, 6, 4) && isSet(picture, 6, 4));
        QVERIFY(!isSet(mask, 6, 3));
        // Black and white only: no pixel inverts the screen beneath it.
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                QVERIFY(!isSet(picture, x, y) || isSet(mask, x, y));
    }
    for (const char *name : {"lblVersion", "lblTitle", "lblInfo_1", "Label2", "imgIcon"})
        QVERIFY(!control<QLabel>(about, name)->testAttribute(Qt::WA_SetCursor));
}

QTEST_MAIN(TestFrmAbout)
#include "test_frm_about.moc"

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
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Look::install(); }

    void versionText_composesTheThreeNumbers();

    void aboutButton_showsTheBoxModallyAndEnterClosesIt();
    void escCloses_andReopeningComposesTheTextAgain();
    void box_controlsFollowTheLayout();
    void shapes_drawTheirOutlinesAndFills();

    void linkLabels_openTheirOwnAddressAndTheBoxStaysOpen();
    void clicksElsewhere_openNothing();
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
// `inspect`. Returns whether a box opened; one that is still open afterwards
// is closed so that a failed check never leaves the test waiting.
bool clickAbout(StockMain &window, const std::function<void(frmAbout &)> &inspect)
{
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        if (about) {
            opened = true;
            inspect(*about);
        }
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<frmAbout *>(top); box && box->isVisible())
                box->reject();
    });
    QTest::mouseClick(control<QPushButton>(window, "Command4"), Qt::LeftButton);
    return opened;
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

void TestFrmAbout::aboutButton_showsTheBoxModallyAndEnterClosesIt()
{
    StockFolder folder;
    StockMain window{StockStore(folder.path())};
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QPointer<frmAbout> shown;
    bool closedByEnter = false;
    const bool opened = clickAbout(window, [&](frmAbout &about) {
        shown = &about;
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(about.parentWidget(), nullptr);
        QCOMPARE(about.windowModality(), Qt::ApplicationModal);
        QCOMPARE(about.windowTitle(), QString("About Quillmarch"));
        QCOMPARE(about.size(), QSize(432, 281));
        QCOMPARE(about.minimumSize(), about.maximumSize());
        const Qt::WindowFlags flags = about.windowFlags();
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!about.testAttribute(Qt::WA_SetWindowIcon));
        QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
        // Centred before its frame is known, so off by no more than the frame's width.
        const QPoint offCentre =
            about.frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
        const int frameWidth = about.geometry().x() - about.frameGeometry().x();
        QVERIFY(qAbs(offCentre.x()) <= frameWidth && qAbs(offCentre.y()) <= frameWidth);
        QCOMPARE(control<QLabel>(about, "lblVersion")->text(), buildVersionText());
        QCOMPARE(QApplication::focusWidget(), control<QPushButton>(about, "cmdOK"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        closedByEnter = !about.isVisible() && about.result() == QDialog::Accepted;
    });
    QVERIFY(opened);
    QVERIFY(closedByEnter);
    QVERIFY(shown.isNull());
}

void TestFrmAbout::escCloses_andReopeningComposesTheTextAgain()
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

void TestFrmAbout::box_controlsFollowTheLayout()
{
    frmAbout about;

    // Back to front, each with its place in pixels.
    const QList<std::pair<QString, QRect>> controls = {
        {"lblInfo_4", {88, 52, 275, 15}},
        {"lblDescription", {88, 64, 275, 45}},
        {"Label1", {88, 16, 275, 36}},
        {"shpRect_2", {368, 24, 37, 41}},
        {"lblVersion", {88, 120, 134, 15}},
        {"Line1_0", {48, 119, 370, 2}},
        {"Line1_1", {88, 115, 336, 1}},
        {"lblCopyright", {88, 240, 209, 13}},
        {"lblURL", {88, 256, 145, 13}},
        {"lblProduct", {88, 136, 85, 13}},
        {"lblTitle", {80, 16, 279, 32}},
        {"lblDotLine_0", {16, 56, 141, 49}},
        {"imgIcon", {24, 24, 48, 48}},
        {"shpRect_0", {344, 48, 49, 53}},
        {"Label2", {88, 160, 297, 33}},
        {"shpRect_1", {0, 12, 97, 73}},
        {"lblInfo_1", {104, 64, 229, 41}},
        {"lblDotLine_1", {176, 16, 253, 49}},
        {"cmdOK", {336, 248, 84, 23}},
        {"txtSpecialCopyright", {88, 192, 337, 45}},
    };
    QStringList stacking;
    for (QObject *child : about.children())
        if (child->isWidgetType())
            stacking << child->objectName();
    QStringList names;
    for (const auto &[name, geometry] : controls) {
        names << name;
        QCOMPARE(control<QWidget>(about, qPrintable(name))->geometry(), geometry);
    }
    QCOMPARE(stacking, names);

    // Only OK and the notice take the focus, OK first.
    QCOMPARE(focusChain(control<QPushButton>(about, "cmdOK")), QStringList({"cmdOK", "txtSpecialCopyright"}));

    auto *ok = control<QPushButton>(about, "cmdOK");
    QCOMPARE(ok->text(), QString("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(ok->palette().color(QPalette::Button), QColor(Qt::white));

    struct Font {
        const char *name;
        qreal pointSize;
        bool bold;
        bool underline;
    };
    for (const Font &font : {Font{"txtSpecialCopyright", 8.25, false, false}, Font{"cmdOK", 8.25, true, false},
                             Font{"lblDotLine_1", 36, false, false}, Font{"lblInfo_1", 27.75, true, false},
                             Font{"Label2", 8.25, false, false}, Font{"lblDotLine_0", 36, false, false},
                             Font{"lblTitle", 18, true, false}, Font{"lblProduct", 8.25, false, true},
                             Font{"lblURL", 8.25, false, true}, Font{"lblCopyright", 8.25, false, true},
                             Font{"lblVersion", 8.25, false, false}}) {
        const QFont actual = control<QWidget>(about, font.name)->font();
        QCOMPARE(actual.family(), QString("Tahoma"));
        QCOMPARE(actual.pointSizeF(), font.pointSize);
        QCOMPARE(actual.bold(), font.bold);
        QCOMPARE(actual.underline(), font.underline);
    }

    // The opaque bands; every other label lets the window show through.
    const QMap<QString, QColor> bands = {{"Label1", QColor(255, 192, 128)},
                                         {"lblDescription", QColor(255, 255, 192)},
                                         {"lblInfo_4", QColor(128, 255, 128)}};
    for (QLabel *label : about.findChildren<QLabel *>()) {
        QCOMPARE(label->autoFillBackground(), bands.contains(label->objectName()));
        if (bands.contains(label->objectName())) {
            QCOMPARE(label->palette().color(QPalette::Window), bands[label->objectName()]);
            QCOMPARE(label->text(), QString());
        }
        const Qt::Alignment horizontal = label->objectName() == "lblDotLine_1" ? Qt::AlignRight : Qt::AlignLeft;
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, horizontal);
    }
    for (const char *name : {"lblTitle", "lblURL", "lblCopyright", "lblVersion"})
        QCOMPARE(control<QLabel>(about, name)->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(control<QLabel>(about, "lblProduct")->foregroundRole(), QPalette::ButtonText);

    // The texts.
    QCOMPARE(control<QLabel>(about, "lblInfo_1")->text(), QString("Quillmarch"));
    QVERIFY(control<QLabel>(about, "lblTitle")->text().startsWith("  "));
    QVERIFY(control<QLabel>(about, "lblCopyright")->text().contains(control<QLabel>(about, "lblTitle")->text().mid(2)));
    QCOMPARE(control<QLabel>(about, "lblProduct")->text().size(), 16);
    QCOMPARE(control<QLabel>(about, "lblURL")->text(), siteAddress);
    QCOMPARE(siteAddress.size(), 27);
    QVERIFY(control<QLabel>(about, "Label2")->wordWrap());
    auto *notice = control<QPlainTextEdit>(about, "txtSpecialCopyright");
    QCOMPARE(notice->toPlainText().count('\n'), 6);
    QVERIFY(notice->toPlainText().endsWith('\n'));
    QCOMPARE(notice->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(control<QLabel>(about, "imgIcon")->pixmap().size(), QSize(48, 48));
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
        {"shpRect_1", {28, 16}, none}, {"shpRect_1", {68, 56}, none}, {"shpRect_1", {69, 57}, rose},
        {"shpRect_1", {84, 72}, rose}, {"shpRect_1", {85, 36}, none},
        // A 10 pixel outline along the edge of its box.
        {"shpRect_0", {0, 0}, pink}, {"shpRect_0", {9, 9}, pink}, {"shpRect_0", {10, 10}, none},
        {"shpRect_0", {38, 42}, none}, {"shpRect_0", {39, 43}, pink}, {"shpRect_0", {48, 52}, pink},
        // Filled without an outline, corner to corner; the lines fill their strips.
        {"shpRect_2", {0, 0}, qRgb(192, 192, 255)}, {"shpRect_2", {36, 40}, qRgb(192, 192, 255)},
        {"Line1_0", {0, 0}, qRgb(255, 255, 255)}, {"Line1_0", {369, 1}, qRgb(255, 255, 255)},
        {"Line1_1", {0, 0}, qRgb(192, 192, 192)}, {"Line1_1", {335, 0}, qRgb(192, 192, 192)},
    };
    for (const auto &pixel : pixels)
        QCOMPARE(painted(control<QWidget>(about, pixel.shape)).pixel(pixel.at), pixel.colour);
}

void TestFrmAbout::linkLabels_openTheirOwnAddressAndTheBoxStaysOpen()
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
    }));
    QVERIFY(stayedOpen);
}

void TestFrmAbout::clicksElsewhere_openNothing()
{
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    OpenedUrls browser;

    for (const char *name : {"lblVersion", "lblTitle", "lblInfo_1", "Label2", "imgIcon", "Label1", "lblDescription",
                             "lblInfo_4", "lblDotLine_0", "lblDotLine_1", "shpRect_0", "shpRect_1", "shpRect_2",
                             "Line1_0", "Line1_1"})
        QTest::mouseClick(control<QWidget>(about, name), Qt::LeftButton);
    QTest::mouseClick(control<QPlainTextEdit>(about, "txtSpecialCopyright")->viewport(), Qt::LeftButton);
    QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(300, 140));
    QCOMPARE(browser.urls, QList<QUrl>());
    QVERIFY(about.isVisible());
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

#include "about/about_box.h"
#include "about/version.h"
#include "application/application.h"
#include "support/window_driver.h"

#include <QAccessible>
#include <QDesktopServices>
#include <QLabel>
#include <QScreen>
#include <QUrl>

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

class TestAboutBox : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setUpApplication(); }
    void showsTheVersion_readWithoutDecorations_linksOpenTheirAddress_enterCloses();
};

void TestAboutBox::showsTheVersion_readWithoutDecorations_linksOpenTheirAddress_enterCloses()
{
    // A folder too long for its line.
    const QString folder = "/home/Stock Room " + QString(60, 'x') + "/quillmarch";
    AboutBox about(folder);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(about.windowTitle(), "About Quillmarch");
    QCOMPARE(about.frameGeometry().center(), about.screen()->availableGeometry().center());
    QCOMPARE(QApplication::focusWidget(), control(about, "okButton"));
    // Every number in plain decimal, and always a beta.
    QCOMPARE(versionText(1, 0, 1), "Version: 1.0 Beta - Build 1");
    QCOMPARE(versionText(2, 10, 305), "Version: 2.10 Beta - Build 305");
    // The texts, the icon and the controls are read; none of the decorations.
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(&about);
    QCOMPARE(reader->role(), QAccessible::Dialog);
    QStringList read;
    for (int i = 0; i < reader->childCount(); ++i) {
        read << reader->child(i)->text(QAccessible::Name);
        QCOMPARE(reader->indexOfChild(reader->child(i)), i);
    }
    QCOMPARE(read,
             QStringList({versionText(versionMajor, versionMinor, versionRevision), "Copyright © 2026 Example Software",
                          "https://quillmarch.example/", "Quillmarch Pages", "  Example Software", "Quillmarch icon",
                          control<QLabel>(about, "creditLine")->text(), "Quillmarch", "OK", "Copyright warning",
                          "Data folder: " + folder}));
    // Shortened to its line, and whole in its tip.
    const QLabel *folderLabel = control<QLabel>(about, "folderLabel");
    QVERIFY(folderLabel->fontMetrics().horizontalAdvance(folderLabel->text()) <= folderLabel->width());
    QCOMPARE(folderLabel->toolTip(), folder);

    // Each link opens its own address (changed here to tell them apart) under a pointing hand whose
    // fingertip is the hot spot; a press released outside it, or a click anywhere else, opens nothing.
    OpenedUrls browser;
    QList<QUrl> expected;
    for (const char *name : {"productLink", "addressLink", "copyrightLink"}) {
        QLabel *link = control<QLabel>(about, name);
        QCOMPARE(link->property("link").toString(), "https://quillmarch.example/");
        link->setProperty("link", QString("https://quillmarch.example/") + name);
        expected << QUrl(link->property("link").toString());
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mousePress(link, Qt::LeftButton);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-4, -4));
        QTest::mouseClick(link, Qt::RightButton);
        QCOMPARE(link->cursor().hotSpot(), QPoint(6, 4));
    }
    for (const char *name : {"versionLabel", "companyTitle", "creditLine", "icon", "productName", "yellowBand"})
        QTest::mouseClick(control(about, name), Qt::LeftButton);
    QCOMPARE(browser.urls, expected);
    // Enter closes, even from the notice, which leaves Enter to OK.
    control(about, "legalNotice")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(about.result(), int(QDialog::Accepted));
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(TestAboutBox)
#include "test_about_box.moc"

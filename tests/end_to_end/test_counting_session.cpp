// The built program in a real X server, driven with real key events and mouse
// clicks as the operator drives it; every step is checked in stock.mdb itself.
#include "desktop_session.h"
#include "stock_fixture.h"

#include <QRect>
#include <QTest>

#include <cmath>
#include <numbers>

namespace {

// Where the operator clicks: controls as the forms lay them out, in each window's
// own pixels.
namespace MainForm {
const QRect itemBox(8, 144, 185, 25);
const QRect add(376, 144, 49, 25);
const QRect clear(432, 144, 49, 25);
const QRect about(616, 144, 49, 25);
const QRect exit(672, 144, 49, 25);
const QRect manual(192, 88, 57, 25);
const QRect list(8, 176, 713, 281);
// With the window font the list's header and each of its rows are 15 pixels high
// (a row is a line of 8.25 pt Tahoma and 3 pixels), inside the list's 1 pixel frame.
constexpr int listLineHeight = 15;
} // namespace MainForm

namespace EditForm {
const QString title = QStringLiteral("Quillmarch::StockItem::Edit");
const QRect codeBox(8, 136, 369, 33);
const QRect qtyBox(208, 72, 152, 33);
const QRect remove(120, 184, 73, 25);
const QRect save(200, 184, 81, 25);
const QRect close(288, 184, 81, 25);
} // namespace EditForm

namespace LocationForm {
const QString title = QStringLiteral("Quillmarch::Location Select");
const QRect rack(8, 80, 233, 25);
const QRect shelf(8, 112, 233, 25);
const QRect valueBox(8, 144, 337, 25);
const QRect close(280, 176, 65, 25);
} // namespace LocationForm

const QString aboutTitle = QStringLiteral("About Quillmarch");

// An option button takes a click on its round mark, at its left.
QPoint optionMark(const QRect &option)
{
    return {option.left() + 8, option.center().y()};
}

// A row of the list (from 0), in its Location column.
QPoint listRow(int row)
{
    using namespace MainForm;
    return {list.left() + 60, list.top() + 1 + listLineHeight * (row + 1) + listLineHeight / 2};
}

// Clicks into a box and replaces its text by typing.
void retype(const ProgramRun &program, qulonglong window, const QRect &box, const QString &text)
{
    program.click(window, box.center());
    program.press(QStringLiteral("ctrl+a"));
    program.type(text);
}

// The pitches of the program's "stored" and "refused" tones.
constexpr double storedHertz = 1320;
constexpr double refusedHertz = 330;

// Whether 16-bit mono samples hold a tone of this pitch for at least 20 ms: in
// some 20 ms window, most of the sound's power is at the pitch (a Goertzel filter).
bool holdsTone(const QByteArray &recording, double hertz)
{
    constexpr int window = SoundServer::recordingRate / 50;
    const auto *samples = reinterpret_cast<const qint16 *>(recording.constData());
    const qsizetype count = recording.size() / qsizetype(sizeof(qint16));
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / SoundServer::recordingRate);
    for (qsizetype start = 0; start + window <= count; start += window / 2) {
        double previous = 0, beforePrevious = 0, energy = 0;
        for (qsizetype i = start; i < start + window; ++i) {
            const double current = samples[i] + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
            energy += double(samples[i]) * samples[i];
        }
        const double power = previous * previous + beforePrevious * beforePrevious -
                             coefficient * previous * beforePrevious;
        // A pure tone gives power = energy * window / 2; silence and the other tones far less.
        if (energy > window * 300.0 * 300.0 && power > 0.5 * energy * window / 2)
            return true;
    }
    return false;
}

// Waits until the recording holds this much more sound than it did at from.
QByteArray recordedAfter(SoundServer &sound, qsizetype from, int milliseconds)
{
    const qsizetype bytes = qsizetype(SoundServer::recordingRate) * milliseconds / 1000 * qsizetype(sizeof(qint16));
    if (!QTest::qWaitFor([&] { return sound.recording().size() >= from + bytes; }, 10000))
        qFatal("the sound server recorded nothing");
    return sound.recording().mid(from);
}

} // namespace

class TestCountingSession : public QObject {
    Q_OBJECT

private slots:
    void shelfCountedByScansAlone();
    void countsAddedAndClearedWithTheMouse();
    void listedRecordsEditedDeletedAndLeftAlone();
    void manualLocationCarriedByTheNextCounts();
    void aboutShownThenExit_keepsEveryCount();
    void scansHeardOnTheSoundServer_exceptWhenMuted();

private:
    // Double-clicks a row of the list and waits for the item editor, with the keyboard.
    qulonglong openEditor(const ProgramRun &program, qulonglong mainWindow, int row) const;

    XServer m_server;
};

qulonglong TestCountingSession::openEditor(const ProgramRun &program, qulonglong mainWindow, int row) const
{
    program.click(mainWindow, listRow(row), 2);
    return m_server.focusWindow(EditForm::title);
}

void TestCountingSession::shelfCountedByScansAlone()
{
    StockFolder folder;
    folder.createWith({{1, "A11", "OLD", "4"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());

    program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12", "PX-200", "QTY:3", "PX-300",
                  "QTY:150"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), (std::vector<TableRow>{{1, "A11", "OLD", "4"},
                                                                    {2, "A72", "PX-100", "12"},
                                                                    {3, "A72", "PX-200", "3"},
                                                                    {4, "A72", "PX-300", "150"}}),
                              10000);

    // The next shelf: NEWLOC goes back to the location box; ERROR drops a miscounted
    // item, whether scanned for its code or for its quantity.
    program.scan({"NEWLOC", "SHELF:3", "FINLOC", "PX-400", "ERROR", "PX-500", "QTY:8", "ERROR", "PX-600", "QTY:1"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), (std::vector<TableRow>{{1, "A11", "OLD", "4"},
                                                                    {2, "A72", "PX-100", "12"},
                                                                    {3, "A72", "PX-200", "3"},
                                                                    {4, "A72", "PX-300", "150"},
                                                                    {5, "A73", "PX-500", "8"},
                                                                    {6, "A73", "PX-600", "1"}}),
                              10000);
    // Without a sound server the program is silent, on standard error too.
    QCOMPARE(program.errorOutput(), QString());
}

void TestCountingSession::countsAddedAndClearedWithTheMouse()
{
    StockFolder folder;
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    const qulonglong window = m_server.findWindow(mainWindowTitle);

    // Add stores the boxes as they stand: a quantity typed by hand, prefix and all.
    program.scan({"ROW:C", "RACK:2", "SHELF:5", "FINLOC", "PX-1"});
    program.type("24");
    program.click(window, MainForm::add.center());
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), (std::vector<TableRow>{{1, "C25", "PX-1", "24"}}), 10000);
    // The item box has the keyboard again.
    program.scan({"PX-2"});
    program.type("QTY:6");
    program.click(window, MainForm::add.center());
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(),
                              (std::vector<TableRow>{{1, "C25", "PX-1", "24"}, {2, "C25", "PX-2", "QTY:6"}}), 10000);

    // Clear drops a half-entered count and leaves the item box empty with the keyboard.
    program.scan({"PX-3"});
    program.type("QTY:9");
    program.click(window, MainForm::clear.center());
    program.scan({"PX-4", "QTY:1"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(),
                              (std::vector<TableRow>{{1, "C25", "PX-1", "24"},
                                                     {2, "C25", "PX-2", "QTY:6"},
                                                     {3, "C25", "PX-4", "1"}}),
                              10000);
}

void TestCountingSession::listedRecordsEditedDeletedAndLeftAlone()
{
    StockFolder folder;
    folder.createWith({{1, "A11", "PX-1", "4"}, {2, "A11", "PX-2", "9"}, {3, "A12", "PX-3", "1"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    const qulonglong window = m_server.findWindow(mainWindowTitle);

    // Save writes the edited quantity.
    qulonglong editor = openEditor(program, window, 1);
    QVERIFY(editor);
    retype(program, editor, EditForm::qtyBox, "12");
    program.click(editor, EditForm::save.center());
    QVERIFY(m_server.waitUntilGone(EditForm::title));
    QCOMPARE(folder.rows(),
             (std::vector<TableRow>{{1, "A11", "PX-1", "4"}, {2, "A11", "PX-2", "12"}, {3, "A12", "PX-3", "1"}}));

    // Delete removes another record, and its row.
    editor = openEditor(program, window, 0);
    QVERIFY(editor);
    program.click(editor, EditForm::remove.center());
    QVERIFY(m_server.waitUntilGone(EditForm::title));
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{2, "A11", "PX-2", "12"}, {3, "A12", "PX-3", "1"}}));

    // Close leaves the record as it was, whatever was typed; the list keeps the
    // keyboard, and Enter there goes on to the item box.
    editor = openEditor(program, window, 1);
    QVERIFY(editor);
    retype(program, editor, EditForm::codeBox, "PX-9");
    program.click(editor, EditForm::close.center());
    QVERIFY(m_server.waitUntilGone(EditForm::title));
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{2, "A11", "PX-2", "12"}, {3, "A12", "PX-3", "1"}}));
    QVERIFY(m_server.focusWindow(mainWindowTitle));
    program.press("Return");
    program.scan({"PX-4", "QTY:2"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(),
                              (std::vector<TableRow>{{2, "A11", "PX-2", "12"},
                                                     {3, "A12", "PX-3", "1"},
                                                     {4, "", "PX-4", "2"}}),
                              10000);
}

void TestCountingSession::manualLocationCarriedByTheNextCounts()
{
    StockFolder folder;
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    const qulonglong window = m_server.findWindow(mainWindowTitle);
    program.scan({"ROW:B", "RACK:4", "SHELF:1", "FINLOC", "PX-1", "QTY:2"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), (std::vector<TableRow>{{1, "B41", "PX-1", "2"}}), 10000);

    // The rack set by hand with Enter, which is Set; the box stays open until Close.
    program.click(window, MainForm::manual.center());
    qulonglong dialog = m_server.focusWindow(LocationForm::title);
    QVERIFY(dialog);
    program.click(dialog, optionMark(LocationForm::rack));
    program.click(dialog, LocationForm::valueBox.center());
    program.type("9");
    program.press("Return");
    program.click(dialog, LocationForm::close.center());
    QVERIFY(m_server.waitUntilGone(LocationForm::title));
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "B41", "PX-1", "2"}}));

    // Manual keeps the keyboard in the main window; the operator clicks into the item box.
    QVERIFY(m_server.focusWindow(mainWindowTitle));
    program.click(window, MainForm::itemBox.center());
    program.scan({"PX-2", "QTY:5"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(),
                              (std::vector<TableRow>{{1, "B41", "PX-1", "2"}, {2, "B91", "PX-2", "5"}}), 10000);

    // Esc throws away an option chosen and a value typed.
    program.click(window, MainForm::manual.center());
    dialog = m_server.focusWindow(LocationForm::title);
    QVERIFY(dialog);
    program.click(dialog, optionMark(LocationForm::shelf));
    program.click(dialog, LocationForm::valueBox.center());
    program.type("7");
    program.press("Escape");
    QVERIFY(m_server.waitUntilGone(LocationForm::title));
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "B41", "PX-1", "2"}, {2, "B91", "PX-2", "5"}}));

    QVERIFY(m_server.focusWindow(mainWindowTitle));
    program.click(window, MainForm::itemBox.center());
    program.scan({"PX-3", "QTY:1"});
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(),
                              (std::vector<TableRow>{{1, "B41", "PX-1", "2"},
                                                     {2, "B91", "PX-2", "5"},
                                                     {3, "B91", "PX-3", "1"}}),
                              10000);
}

void TestCountingSession::aboutShownThenExit_keepsEveryCount()
{
    StockFolder folder;
    folder.createWith({{1, "A11", "PX-1", "4"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    const qulonglong window = m_server.findWindow(mainWindowTitle);
    program.scan({"ROW:D", "RACK:1", "SHELF:1", "FINLOC", "PX-2", "QTY:3"});
    const std::vector<TableRow> counted{{1, "A11", "PX-1", "4"}, {2, "D11", "PX-2", "3"}};
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), counted, 10000);

    // The About box closes with Enter on its OK.
    program.click(window, MainForm::about.center());
    QVERIFY(m_server.focusWindow(aboutTitle));
    program.press("Return");
    QVERIFY(m_server.waitUntilGone(aboutTitle));
    QCOMPARE(folder.rows(), counted);

    QVERIFY(m_server.focusWindow(mainWindowTitle));
    program.click(window, MainForm::itemBox.center());
    program.scan({"PX-3", "QTY:5", "PX-4"});
    const std::vector<TableRow> committed{{1, "A11", "PX-1", "4"}, {2, "D11", "PX-2", "3"}, {3, "D11", "PX-3", "5"}};
    QTRY_COMPARE_WITH_TIMEOUT(folder.rows(), committed, 10000);

    // Exit ends the program cleanly; a code scanned without its quantity was never a count.
    program.click(window, MainForm::exit.center());
    QVERIFY(program.waitForExit(0));
    QCOMPARE(folder.rows(), committed);
}

void TestCountingSession::scansHeardOnTheSoundServer_exceptWhenMuted()
{
    StockFolder folder;
    SoundServer sound(m_server);
    {
        ProgramRun muted(m_server, folder.path(), {}, {QStringLiteral("--mute")});
        QVERIFY(muted.waitUntilShown());
        const qsizetype from = sound.recording().size();
        muted.scan({"FINLOC", "CODE-1", "QTY:1", "NEWLOC", "NOT-A-LABEL"});
        QTRY_COMPARE(folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}}));
        const QByteArray heard = recordedAfter(sound, from, 1000);
        QVERIFY(!holdsTone(heard, storedHertz));
        QVERIFY(!holdsTone(heard, refusedHertz));
    }

    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    const qsizetype storedFrom = sound.recording().size();
    program.scan({"FINLOC", "CODE-2", "QTY:2"});
    QTRY_COMPARE(folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}, {2, "", "CODE-2", "2"}}));
    const QByteArray stored = recordedAfter(sound, storedFrom, 500);
    QVERIFY(holdsTone(stored, storedHertz));
    QVERIFY(!holdsTone(stored, refusedHertz));

    const qsizetype refusedFrom = sound.recording().size();
    program.scan({"NEWLOC", "NOT-A-LABEL"});
    const QByteArray refused = recordedAfter(sound, refusedFrom, 700);
    QVERIFY(holdsTone(refused, refusedHertz));
    QVERIFY(!holdsTone(refused, storedHertz));

    // The player lets go of the sound server cleanly at the end.
    program.click(m_server.findWindow(mainWindowTitle), MainForm::exit.center());
    QVERIFY(program.waitForExit(0));
    QCOMPARE(program.errorOutput(), QString());
}

QTEST_GUILESS_MAIN(TestCountingSession)
#include "test_counting_session.moc"

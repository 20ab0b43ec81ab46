// The built program through a real screen reader, as a blind operator uses it:
// Orca on an X server of the test's own, with a session bus and a sound server,
// the program driven with real key events. Each step checks the words Orca says.
#include "desktop_session.h"
#include "stock_fixture.h"

#include <QTest>

namespace {

enum class Action {
    Scan,       // a label and its Enter, at scanner speed
    Press,      // keys by their X names
    DialogGone, // the dialog of this title closed, the keyboard given back to the main window as a window manager does
};

enum class Words {
    Among,   // the words expected, in this order, maybe among others
    Exactly, // the words expected and nothing else
};

struct Step {
    Action action;
    QString input;
    QStringList heard;
    Words words = Words::Among;
};

// Keys come this far apart, so that Orca has answered each before the next:
// Qt 6.4 waits at most 100 ms for a screen reader's answer to a key before it
// handles the key, and Orca, handling it later still, cuts short what it has
// said meanwhile.
constexpr int keyDelayMs = 100;

} // namespace

class TestScreenReader : public QObject {
    Q_OBJECT

private slots:
    void everyOutcomeHeardOnce();

private:
    XServer m_server;
    SoundServer m_sound{m_server};
    ScreenReader m_reader{m_server};
};

void TestScreenReader::everyOutcomeHeardOnce()
{
    StockFolder folder;
    folder.createWith({{1, "A11", "OLD", "4"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(m_server.focusWindow(mainWindowTitle));
    QVERIFY2(m_reader.hear({"Location Scan text."}), qPrintable(m_reader.transcript()));

    const QString editor = "Quillmarch::StockItem::Edit";
    const Step steps[] = {
        {Action::Scan, "ROW:A", {"Row A."}},
        {Action::Scan, "FINLOC", {"Item Scan text.", "Location complete, A."}},
        {Action::Scan, "PX-100", {"QTY Scan text.", "Item PX dash 100."}},
        {Action::Scan, "QTY:5", {"Item Scan text.", "Stored row 2, location A, item PX dash 100, quantity 5."}},
        {Action::Scan, "PX-200", {"QTY Scan text.", "Item PX dash 200."}},
        // The refused label stays, selected, and the next scan replaces it.
        {Action::Scan, "HELLO", {"Not taken, no quantity label."}},
        {Action::Scan, "QTY:3", {"Item Scan text.", "Stored row 3, location A, item PX dash 200, quantity 3."}},
        {Action::Scan, "PX-300", {"QTY Scan text.", "Item PX dash 300."}},
        {Action::Scan, "ERROR", {"Item Scan text.", "Item dropped, nothing stored."}},
        {Action::Scan, "NEWLOC", {"Location Scan text.", "New location."}},
        {Action::Scan, "HELLO", {"Not taken, no location label."}},
        {Action::Scan, "FINLOC", {"Item Scan text.", "Location complete, A."}},
        // Into the list, where its current row is read; up and down row by row, along
        // a row cell by cell, each named by its column.
        {Action::Press, "shift+Tab", {"A11.", "OLD.", "4."}},
        {Action::Press, "Down", {"A.", "PX dash 100.", "5."}},
        {Action::Press, "Right", {"Code column header PX dash 100."}},
        // F2 edits the current row: its quantity becomes 7, then Save; the next row is deleted.
        {Action::Press, "F2", {"Location text."}},
        {Action::Press, "Tab Tab 7 Tab Tab Tab", {"Save push button."}},
        {Action::Press, "space", {}},
        {Action::DialogGone,
         editor,
         {"A.", "PX dash 100.", "7.", "Saved row 2, location A, item PX dash 100, quantity 7."}},
        {Action::Press, "Down F2", {"Location text."}},
        {Action::Press, "Tab Tab Tab Tab Tab Tab", {"Delete push button."}},
        {Action::Press, "space", {}},
        {Action::DialogGone, editor, {"Deleted row 3, location A, item PX dash 200, quantity 3."}},
        // A box that takes the focus again is read by its caption, with no old outcome.
        {Action::Press, "Return", {"Item Scan text."}, Words::Exactly},
        {Action::Press, "Tab", {"QTY Scan text."}, Words::Exactly},
        // A rack set by hand.
        {Action::Press, "Tab Tab Tab Tab Tab space", {"Row."}},
        {Action::Press, "Down Tab 9 Return", {"Rack 9."}},
        {Action::Press, "Escape", {}},
        {Action::DialogGone, "Quillmarch::Location Select", {"Manual push button."}},
        {Action::Press, "Tab", {"Location Scan text."}, Words::Exactly},
        {Action::Press, "shift+Tab", {"Manual push button."}, Words::Exactly},
    };
    for (const Step &step : steps) {
        switch (step.action) {
        case Action::Scan:
            program.scan({step.input}, keyDelayMs);
            break;
        case Action::Press:
            program.press(step.input, keyDelayMs);
            break;
        case Action::DialogGone:
            QVERIFY(m_server.windowGone(step.input));
            QVERIFY(m_server.focusWindow(mainWindowTitle));
            break;
        }
        QVERIFY2(m_reader.hear(step.heard), qPrintable(step.input + ": " + m_reader.transcript()));
        if (step.words == Words::Exactly)
            QCOMPARE(m_reader.lastHeard(), step.heard);
    }
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A11", "OLD", "4"}, {2, "A", "PX-100", "7"}}));
}

QTEST_GUILESS_MAIN(TestScreenReader)
#include "test_screen_reader.moc"

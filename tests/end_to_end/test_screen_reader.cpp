// The built program through a real screen reader, as a blind operator uses it:
// Orca, which end_to_end/desktop.sh starts on the test's desktop, the program driven
// with real key events. Each step checks the words Orca says.
#include "end_to_end/desktop_session.h"
#include "support/stock_fixture.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// Orca, heard through speech-dispatcher, which writes each of its utterances as a line
// into heard.txt, and told of keys as its log shows.
class ScreenReader {
public:
    ScreenReader()
    {
        if (!hear({"Screen reader on."}) || !m_log.open(QIODevice::ReadOnly)
            || !m_idleAsked.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            qFatal("Orca did not start: %s", qPrintable(transcript()));
    }

    // Scans a label (its text, then Enter), or presses keys by their X names, separated
    // by spaces, a key at a time, each once Orca has been told of the one before and
    // has nothing else left to do: Qt handles a key after 100 ms without Orca's answer,
    // and Orca, told of it later, cuts short what it has said of the key's effects.
    // False when Orca was not told of one.
    bool scan(const QString &label)
    {
        return send("type", label.split(QString(), Qt::SkipEmptyParts)) && press("Return");
    }
    bool press(const QString &names) { return send("key", names.split(' ')); }

    // Waits until utterances matching these patterns are heard, in this order, after
    // the last ones waited for (others may come between them). Returns all that was
    // heard from the end of that wait to the last of them; nothing when they were not
    // heard.
    std::optional<QStringList> hear(const QStringList &utterances)
    {
        qsizetype end = m_waitedFor;
        const auto heardAll = [&] {
            const QStringList lines = heard();
            end = m_waitedFor;
            // Each found after the one before, end just past it.
            return std::all_of(utterances.begin(), utterances.end(), [&](const QString &utterance) {
                end = lines.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(utterance)), end) + 1;
                return end > 0;
            });
        };
        if (!QTest::qWaitFor(heardAll, 60000))
            return std::nullopt;
        const qsizetype from = std::exchange(m_waitedFor, end);
        return heard().mid(from, end - from);
    }

    // Everything heard so far, for a failure's message.
    QString transcript() const
    {
        return QStringLiteral("heard [%1] then [%2]; Orca's log: %3")
            .arg(heard().mid(0, m_waitedFor).join('|'), heard().mid(m_waitedFor).join('|'), m_log.fileName());
    }

private:
    QStringList heard() const
    {
        QFile file(m_desktop + "heard.txt");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // Types keys with xdotool's command, one by one.
    bool send(const QString &command, const QStringList &keys)
    {
        return std::all_of(keys.begin(), keys.end(), [&](const QString &key) {
            return m_idleAsked.write("\n") == 1 && logged(m_idle) && xdotool({command, "--", key}) == 0
                && logged(m_keysTold);
        });
    }

    // Waits until count, of the lines Orca logs, goes above what it is now: m_keysTold
    // counts the keys, modifiers aside, it has been told of being pressed, m_idle the
    // times it has had nothing else left to do.
    bool logged(const int &count)
    {
        static const QRegularExpression pressed(
            R"(^vvvvv PROCESS ATSPI_KEY_PRESSED_EVENT: '(?!Shift|Control|Alt|ISO_Level)[^\n]*\) vvvvv$)",
            QRegularExpression::MultilineOption);
        const int before = count;
        const auto counted = [&] {
            m_unread += m_log.readAll();
            const qsizetype lines = m_unread.lastIndexOf('\n') + 1;
            const QString text = QString::fromUtf8(m_unread.left(lines));
            m_keysTold += text.count(pressed);
            m_idle += text.count(" - IDLE\n");
            m_unread.remove(0, lines);
            return count > before;
        };
        return QTest::qWaitFor(counted, 60000);
    }

    const QString m_desktop = qEnvironmentVariable("XDG_RUNTIME_DIR") + '/'; // the test's desktop's files
    QFile m_log{m_desktop + "orca.log"};
    QFile m_idleAsked{m_desktop + "orca-idle"};
    QByteArray m_unread; // the log's last line, not yet whole
    int m_keysTold = 0;
    int m_idle = 0;
    qsizetype m_waitedFor = 0; // the utterances heard up to the end of the last wait
};

// A step scans a label and its Enter, or presses keys by their X names.
constexpr bool scan = true, press = false;

struct Step {
    bool scans;
    QString input;
    QStringList heard;    // in this order, maybe among others
    bool exactly = false; // and nothing else
    QString closes = {};  // the dialog of this title, the keyboard given back to the main window as a window
                          // manager does
};

} // namespace

class TestScreenReader : public QObject {
    Q_OBJECT

private slots:
    void everyOutcomeHeardOnce();
};

void TestScreenReader::everyOutcomeHeardOnce()
{
    ScreenReader reader;
    StockPlace folder;
    folder.createWith({{1, "A11", "OLD", "4"}});
    ProgramRun program(folder.path());
    QVERIFY(program.focus());
    QVERIFY2(reader.hear({"Location Scan text."}), qPrintable(reader.transcript()));

    const QString editor = "Quillmarch::StockItem::Edit";
    const Step steps[] = {
        {scan, "ROW:A", {"Row A."}},
        {scan, "FINLOC", {"Item Scan text.", "Location complete, A."}},
        {scan, "PX-100", {"QTY Scan text.", "Item PX dash 100."}},
        {scan, "QTY:5", {"Item Scan text.", "Stored row 2, location A, item PX dash 100, quantity 5."}},
        {scan, "PX-200", {"QTY Scan text.", "Item PX dash 200."}},
        // The refused label stays, selected, and the next scan replaces it.
        {scan, "HELLO", {"Not taken, no quantity label."}},
        {scan, "QTY:3", {"Item Scan text.", "Stored row 3, location A, item PX dash 200, quantity 3."}},
        {scan, "NEWLOC", {"Location Scan text.", "New location."}},
        {scan, "FINLOC", {"Item Scan text.", "Location complete, A."}},
        // Into the list, where its current row is read; up and down row by row, along
        // a row cell by cell, each named by its column.
        {press, "shift+Tab", {"A11.", "OLD.", "4."}},
        {press, "Down", {"A.", "PX dash 100.", "5."}},
        {press, "Right", {"Code column header PX dash 100."}},
        // F2 edits the current row: its quantity becomes 7, then Save; the next row is deleted.
        {press, "F2", {"Location text."}},
        {press, "Tab Tab 7 Tab Tab Tab", {"Save push button."}},
        {press,
         "space",
         {"A.", "PX dash 100.", "7.", "Saved row 2, location A, item PX dash 100, quantity 7."},
         false,
         editor},
        {press, "Down F2", {"Location text."}},
        {press, "Tab Tab Tab Tab Tab Tab", {"Delete push button."}},
        {press, "space", {"Deleted row 3, location A, item PX dash 200, quantity 3."}, false, editor},
        // A box that takes the focus again is read by its caption, with no old outcome.
        {press, "Return", {"Item Scan text."}, true},
        {press, "Tab", {"QTY Scan text."}, true},
        // A rack set by hand.
        {press, "Tab Tab Tab Tab Tab space", {"Row."}},
        {press, "Down Tab 9 Return", {"Rack 9."}},
        {press, "Escape", {"Manual push button."}, false, "Quillmarch::Location Select"},
        {press, "Tab", {"Location Scan text."}, true},
        {press, "shift+Tab", {"Manual push button."}, true},
    };
    for (const Step &step : steps) {
        const bool told = step.scans ? reader.scan(step.input) : reader.press(step.input);
        QVERIFY2(told, qPrintable(step.input + ": " + reader.transcript()));
        if (!step.closes.isEmpty())
            QVERIFY(program.gone(step.closes) && program.focus());
        const std::optional<QStringList> heard = reader.hear(step.heard);
        QVERIFY2(heard, qPrintable(step.input + ": " + reader.transcript()));
        if (step.exactly)
            QCOMPARE(*heard, step.heard);
    }
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A11", "OLD", "4"}, {2, "A", "PX-100", "7"}}));

    // A failure is read out, its number first, then what went wrong, before or after its
    // button, which may take the focus first.
    std::filesystem::remove(folder.databasePath());
    QVERIFY2(reader.press("Tab") && reader.scan("FINLOC") && reader.scan("PX-9") && reader.scan("QTY:1"),
             qPrintable(reader.transcript()));
    QVERIFY2(reader.hear({"alert Quillmarch.", "Error 14 .*nothing was written\\."}), qPrintable(reader.transcript()));
}

QTEST_GUILESS_MAIN(TestScreenReader)
#include "test_screen_reader.moc"

// The built program through a real screen reader, as a blind operator uses it:
// Orca on an X server of the test's own, with a session bus and a sound server,
// the program driven with real key events. Each step checks the words Orca says.
#include "end_to_end/desktop_session.h"
#include "support/stock_fixture.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/resource.h>

namespace {

// Orca as its own command starts it, but with its log of what it did written line
// by line (its --debug-file is written in blocks, the last of them lost to SIGKILL,
// the only signal that ends it).
constexpr auto orcaWithLog = R"(import runpy, sys
from orca import debug
debug.debugLevel = debug.LEVEL_INFO
debug.debugFile = open(sys.argv[1], "w", buffering=1)
sys.argv = ["orca"]
runpy.run_path("/usr/bin/orca", run_name="__main__")
)";

void writeFile(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(path));
}

// Orca, the screen reader, on an X server whose SoundServer answers, with a
// session bus of its own. It speaks through speech-dispatcher, whose generic
// module writes each utterance as one line into a file instead of sounding it.
// Braille and the echo of every key are off, so that what is heard is what the
// screen reader says of the program.
class ScreenReader {
public:
    explicit ScreenReader(const XServer &server)
    {
        QProcessEnvironment environment = server.environment();
        // Settings, caches and logs of a new user.
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            environment.insert(name, m_dir.path());
        // The screen reader and the buses it hears keys through come first on a busy
        // machine, as on a desktop where nothing else runs: Qt waits only 100 ms for
        // Orca's answer to a key before it handles the key, and Orca, handling it late,
        // cuts short what it has said of the key's effects. Only root may raise them.
        const auto first = [] { setpriority(PRIO_PROCESS, 0, -10); };
        // The bus writes its address once it listens; the accessibility bus starts on it when asked for.
        m_bus.emplace(environment, "dbus-daemon",
                      QStringList{"--session", "--nofork", "--nopidfile", "--print-address",
                                  "--address=unix:path=" + server.busSocket()},
                      first);
        if (!m_bus->waitForReadyRead(20000))
            qFatal("dbus-daemon did not start: %s", m_bus->readAllStandardError().constData());

        // The system's settings, symbols read out as words among them, but the generic module.
        const QString configuration = m_dir.filePath("speech-dispatcher");
        writeFile(configuration + "/speechd.conf", R"(Include "/etc/speech-dispatcher/speechd.conf"
AddModule "generic" "sd_generic" "generic.conf"
DefaultModule generic
AudioOutputMethod "pulse"
)");
        writeFile(configuration + "/modules/generic.conf",
                  QStringLiteral(R"(GenericExecuteSynth "printf '%s\\n' '$DATA' >> %1"
GenericLanguage "en" "en" "utf-8"
AddVoice "en" "MALE1" "heard"
)")
                      .arg(m_dir.filePath("heard.txt")));
        m_speech.emplace(
            environment, "speech-dispatcher",
            QStringList{"--run-single", "--timeout", "0", "--config-dir", configuration, "--log-dir", m_dir.path()},
            first);
        const QString speechSocket = environment.value("XDG_RUNTIME_DIR") + "/speech-dispatcher/speechd.sock";
        if (!QTest::qWaitFor([&] { return QFile::exists(speechSocket); }, 20000))
            qFatal("speech-dispatcher made no socket: %s", m_speech->readAllStandardError().constData());

        writeFile(m_dir.filePath("orca/user-settings.conf"), R"({"general": {}, "pronunciations": {}, "keybindings": {},
"profiles": {"default": {"profile": ["Default", "default"], "enableBraille": false, "enableKeyEcho": false}}}
)");
        // Orca refuses to start beside another of this user's, as one a test before ended may be until it is reaped.
        const QStringList search{"-u", QString::number(getuid()), "-x", "orca"};
        if (!QTest::qWaitFor([&] { return Child(environment, "pgrep", search).endedWith(1); }, 30000))
            qFatal("another orca of this user runs");
        m_orca.emplace(environment, "/usr/bin/python3", QStringList{"-c", orcaWithLog, m_dir.filePath("orca.log")},
                       first);
        if (!hear({"Screen reader on."}))
            qFatal("Orca did not start: %s", m_orca->readAllStandardOutput().constData());
    }

    // Waits until the utterances are heard, in this order, after the last ones waited
    // for (others may come between them). Returns all that was heard from the end of
    // that wait to the last of them; nothing when they were not heard, and Orca's own
    // log is then copied into the working folder.
    std::optional<QStringList> hear(const QStringList &utterances)
    {
        qsizetype end = m_waitedFor;
        const auto heardAll = [&] {
            const QStringList lines = heard();
            end = m_waitedFor;
            for (const QString &utterance : utterances) {
                end = lines.indexOf(utterance, end);
                if (end < 0)
                    return false;
                ++end;
            }
            return true;
        };
        if (!QTest::qWaitFor(heardAll, 30000)) {
            QFile::remove("orca.log");
            QFile::copy(m_dir.filePath("orca.log"), "orca.log");
            return std::nullopt;
        }
        const QStringList lastHeard = heard().mid(m_waitedFor, end - m_waitedFor);
        m_waitedFor = end;
        return lastHeard;
    }

    // Everything heard so far, for a failure's message.
    QString transcript() const
    {
        return QStringLiteral("heard [%1] then [%2]; Orca's log: %3")
            .arg(heard().mid(0, m_waitedFor).join('|'), heard().mid(m_waitedFor).join('|'),
                 QFileInfo("orca.log").absoluteFilePath());
    }

private:
    QStringList heard() const
    {
        QFile file(m_dir.filePath("heard.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir m_dir;
    std::optional<Child> m_bus;
    std::optional<Child> m_speech;
    std::optional<Child> m_orca;
    qsizetype m_waitedFor = 0; // the utterances heard up to the end of the last wait
};

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
    StockPlace folder;
    folder.createWith({{1, "A11", "OLD", "4"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.focus());
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
            QVERIFY(program.gone(step.input));
            QVERIFY(program.focus());
            break;
        }
        const std::optional<QStringList> heard = m_reader.hear(step.heard);
        QVERIFY2(heard, qPrintable(step.input + ": " + m_reader.transcript()));
        if (step.words == Words::Exactly)
            QCOMPARE(*heard, step.heard);
    }
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A11", "OLD", "4"}, {2, "A", "PX-100", "7"}}));

    // A failure is read out, its number first, then what went wrong.
    std::filesystem::remove(folder.databasePath());
    program.press("Tab", keyDelayMs);
    program.scan({"FINLOC", "PX-9", "QTY:1"}, keyDelayMs);
    QVERIFY2(m_reader.hear({"alert Quillmarch."}), qPrintable(m_reader.transcript()));
    const std::optional<QStringList> box = m_reader.hear({"OK push button."});
    QVERIFY2(box, qPrintable(m_reader.transcript()));
    QCOMPARE(box->first().left(9), "Error 14 ");
    QVERIFY2(box->first().endsWith("nothing was written."), qPrintable(box->first()));
}

QTEST_GUILESS_MAIN(TestScreenReader)
#include "test_screen_reader.moc"

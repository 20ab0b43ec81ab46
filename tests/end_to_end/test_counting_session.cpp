// The built program on a real X server, driven with real key events as the
// operator drives it, heard on a sound server of the test's own; every step is
// checked in stock.mdb itself.
#include "desktop_session.h"
#include "stock_fixture.h"
#include "stock_store.h"

#include <QTest>

#include <cmath>
#include <filesystem>

namespace {

// Whether 16-bit mono samples hold a tone of this pitch (within a tenth) at
// nearly the program's volume for 20 ms, told by how often the wave crosses zero.
// A window the tone only partly fills is too quiet to count, whatever its crossings.
bool holdsTone(const QByteArray &recording, double hertz)
{
    constexpr int window = SoundServer::recordingRate / 50;
    const auto *samples = reinterpret_cast<const qint16 *>(recording.constData());
    for (qsizetype start = 1; start + window <= recording.size() / 2; start += window / 2) {
        double energy = 0;
        int crossings = 0;
        for (qsizetype i = start; i < start + window; ++i) {
            energy += double(samples[i]) * samples[i];
            crossings += (samples[i] < 0) != (samples[i - 1] < 0);
        }
        if (energy > window * 3800.0 * 3800.0 && std::abs(crossings * 25 - hertz) < hertz / 10)
            return true;
    }
    return false;
}

// Whether tones of the pitches of the program's "stored" and "refused" sounds were
// heard since from, waiting for milliseconds more to be recorded. The tick of a
// taken scan is too short to be told apart once the sound server has cut its start.
QList<bool> tonesHeard(SoundServer &sound, qsizetype from, int milliseconds)
{
    const qsizetype until = sound.recording().size() + SoundServer::recordingRate * milliseconds / 1000 * 2;
    if (!QTest::qWaitFor([&] { return sound.recording().size() >= until; }, 10000))
        qFatal("the sound server recorded nothing");
    const QByteArray heard = sound.recording().mid(from);
    return {holdsTone(heard, 1320), holdsTone(heard, 330)};
}

// From the item box to Exit, with the keyboard, and pressed.
const QString tabToExitFromItemBox = QStringLiteral("Tab Tab Tab Tab space");

} // namespace

class TestCountingSession : public QObject {
    Q_OBJECT

private slots:
    void shelfCountedByScans_thenExitKeepsEveryCount();
    void scansHeard_exceptWhenMuted();

private:
    XServer m_server;
};

void TestCountingSession::shelfCountedByScans_thenExitKeepsEveryCount()
{
    // In a folder with a Latin-1 name, as on old media: "Zählung".
    StockFolder parent;
    const std::string folder = parent.path() + "/Z\xe4hlung";
    QVERIFY(std::filesystem::create_directory(folder));
    // QTemporaryDir cannot remove a name that is not UTF-8.
    const std::shared_ptr<void> removed(nullptr, [&](void *) { std::filesystem::remove_all(folder); });
    ProgramRun program(m_server, folder);
    QVERIFY(m_server.focusWindow(mainWindowTitle));

    // NEWLOC goes back to the location box; ERROR drops a miscounted item, whether
    // scanned for its code or for its quantity.
    program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12", "PX-200", "QTY:3", "NEWLOC", "SHELF:3",
                  "FINLOC", "PX-400", "ERROR", "PX-500", "QTY:8", "ERROR", "PX-600", "QTY:1"});
    const std::vector<TableRow> counted{{1, "A72", "PX-100", "12"}, {2, "A72", "PX-200", "3"},
                                        {3, "A73", "PX-500", "8"}, {4, "A73", "PX-600", "1"}};
    // Exit, pressed after the scans, is handled after them.
    program.press(tabToExitFromItemBox);
    QVERIFY(program.waitForExit(0));
    std::filesystem::rename(DatabasePath(folder), parent.databasePath());
    QCOMPARE(parent.rows(), counted);
    // Without a sound server the program is silent, on standard error too.
    QCOMPARE(program.errorOutput(), QString());
}

void TestCountingSession::scansHeard_exceptWhenMuted()
{
    StockFolder folder;
    SoundServer sound(m_server);
    qsizetype from = sound.recording().size();
    {
        ProgramRun muted(m_server, folder.path(), {}, {"--mute"});
        QVERIFY(m_server.focusWindow(mainWindowTitle));
        muted.scan({"FINLOC", "CODE-1", "QTY:1", "NEWLOC", "NOT-A-LABEL"});
        QTRY_COMPARE(folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}}));
        QCOMPARE(tonesHeard(sound, from, 500), (QList<bool>{false, false}));
    }

    ProgramRun program(m_server, folder.path());
    QVERIFY(m_server.focusWindow(mainWindowTitle));
    from = sound.recording().size();
    program.scan({"FINLOC"});
    QCOMPARE(tonesHeard(sound, from, 200), (QList<bool>{false, false}));
    from = sound.recording().size();
    program.scan({"CODE-2", "QTY:2"});
    QCOMPARE(tonesHeard(sound, from, 400), (QList<bool>{true, false}));
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}, {2, "", "CODE-2", "2"}}));
    from = sound.recording().size();
    program.scan({"NEWLOC", "NOT-A-LABEL"});
    QCOMPARE(tonesHeard(sound, from, 500)[1], true);
    // The player lets go of the sound server cleanly at the end.
    program.scan({"FINLOC"});
    program.press(tabToExitFromItemBox);
    QVERIFY(program.waitForExit(0));
    QCOMPARE(program.errorOutput(), QString());

    // A file that fails at the start is heard before its box shows.
    folder.writeFile(QByteArray(4096, 'x'));
    from = sound.recording().size();
    ProgramRun failing(m_server, folder.path());
    QVERIFY(m_server.focusWindow(errorBoxTitle));
    QCOMPARE(tonesHeard(sound, from, 400), (QList<bool>{false, true}));
    QVERIFY(failing.closeErrorBox());
    QVERIFY(failing.waitForExit(1));
}

QTEST_GUILESS_MAIN(TestCountingSession)
#include "test_counting_session.moc"

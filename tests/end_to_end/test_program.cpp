// The built program on a real X server, driven with real key events as the
// operator drives it and heard on a sound server of the test's own; when its file
// fails it (read-only, removed, locked or full) nothing is half-written or made
// afresh, no committed count is lost and the operator sees every error; and on
// the command line. Every step is checked in stock.mdb itself.
#include "end_to_end/desktop_session.h"
#include "store/stock_store.h"
#include "support/postgres_server.h"
#include "support/stock_fixture.h"

#include <QDir>
#include <QTest>

#include <cmath>
#include <filesystem>

#include <sqlite3.h>

#include <unistd.h>

namespace {

// Whether 16-bit mono samples hold tones of the pitches of the program's "stored" and
// "refused" sounds, at nearly its volume for 20 ms, told by how often the wave crosses
// zero; and its "accepted" tick for 100 ms, twice as long as it lasts, which would hold the
// operator up. A window a tone only partly fills is too quiet to count, whatever its crossings.
QList<bool> tonesIn(const QByteArray &recording)
{
    constexpr int window = SoundRecording::rate / 50;
    const auto *samples = reinterpret_cast<const qint16 *>(recording.constData());
    QList<bool> heard;
    for (const auto &[hertz, windows] : {std::pair{1320.0, 1}, {330.0, 1}, {880.0, 10}}) {
        int matched = 0; // of the windows, half a window apart
        for (qsizetype start = 1; start + window <= recording.size() / 2; start += window / 2) {
            double energy = 0;
            int crossings = 0;
            for (qsizetype i = start; i < start + window; ++i) {
                energy += double(samples[i]) * samples[i];
                crossings += (samples[i] < 0) != (samples[i - 1] < 0);
            }
            matched += energy > window * 3800.0 * 3800.0 && std::abs(crossings * 25 - hertz) < hertz / 10;
        }
        heard << (matched >= windows);
    }
    return heard;
}

// From the item box to Exit, with the keyboard, and pressed.
const QString tabToExitFromItemBox = QStringLiteral("Tab Tab Tab Tab space");

// What fails the program: its file or folder, or a count it stores when its limits or another
// program stop it; or, without a window, the pipe it exports into or its display.
enum class Trouble { ReadOnlyFolder, AtStart, Locked, AtCount, NoWindow };

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void shelfCountedByScans_thenExitKeepsEveryCount();
    void scansHeard_exceptWhenMuted();
    void fileFailing_isReportedAndLeftAsItWas_data();
    void fileFailing_isReportedAndLeftAsItWas();
    void twoStations_countTogetherOnOneServer();
};

void TestProgram::shelfCountedByScans_thenExitKeepsEveryCount()
{
    // In a folder with a Latin-1 name, as on old media: "Zählung".
    const StockPlace parent;
    const std::string folder = parent.path() + "/Z\xe4hlung";
    QVERIFY(std::filesystem::create_directory(folder));
    // QTemporaryDir cannot remove a name that is not UTF-8.
    const std::shared_ptr<void> removed(nullptr, [&](void *) { std::filesystem::remove_all(folder); });
    // Without a sound server the program is silent, on standard error too.
    ProgramRun program(folder, {}, {}, {"PULSE_SERVER=unix:/nonexistent"});
    QVERIFY(program.focus());

    // NEWLOC goes back to the location box; ERROR drops a miscounted item, whether
    // scanned for its code or for its quantity.
    program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12", "PX-200", "QTY:3", "NEWLOC", "SHELF:3",
                  "FINLOC", "PX-400", "ERROR", "PX-500", "QTY:8", "ERROR", "PX-600", "QTY:1"});
    const std::vector<TableRow> counted{
        {1, "A72", "PX-100", "12"}, {2, "A72", "PX-200", "3"}, {3, "A73", "PX-500", "8"}, {4, "A73", "PX-600", "1"}};
    // Exit, pressed after the scans, is handled after them.
    program.press(tabToExitFromItemBox);
    QVERIFY(program.waitForExit(0));
    std::filesystem::rename(databasePath(folder), parent.databasePath());
    QCOMPARE(parent.rows(), counted);
    QCOMPARE(program.errorOutput(), QString());
}

void TestProgram::scansHeard_exceptWhenMuted()
{
    const StockPlace folder;
    SoundRecording sound;
    {
        ProgramRun muted(folder.path(), {}, {"--mute"});
        QVERIFY(muted.focus());
        muted.scan({"FINLOC", "CODE-1", "QTY:1", "NEWLOC", "NOT-A-LABEL"});
        QTRY_COMPARE(folder.rows(), (std::vector<TableRow>{{1, "", "CODE-1", "1"}}));
        QCOMPARE(tonesIn(sound.next(500)), (QList<bool>{false, false, false}));
    }

    ProgramRun program(folder.path());
    QVERIFY(program.focus());
    program.scan({"FINLOC"});
    QCOMPARE(tonesIn(sound.next(200)), (QList<bool>{false, false, false}));
    program.scan({"CODE-2", "QTY:2"});
    QCOMPARE(tonesIn(sound.next(400)), (QList<bool>{true, false, false}));
    program.scan({"NEWLOC", "NOT-A-LABEL"});
    QCOMPARE(tonesIn(sound.next(500))[1], true);
    // A sound server that hangs holds up neither a scan nor the end, and is not heard of.
    program.scan({"FINLOC", "CODE-3", "QTY:3"});
    SoundRecording::stall(true);
    const std::shared_ptr<void> resumed(nullptr, [&](void *) { SoundRecording::stall(false); });
    program.scan({"CODE-4", "QTY:4"});
    QTRY_COMPARE(folder.rows().size(), std::size_t(4));
    program.press(tabToExitFromItemBox);
    QVERIFY(program.waitForExit(0));
    QCOMPARE(program.errorOutput(), QString());
    SoundRecording::stall(false);

    // A store that cannot be opened at the start, here for a setting not known, is heard before its box shows.
    folder.writeFile("nonsense\n", "quillmarch.conf");
    sound.next(0);
    ProgramRun failing(folder.path());
    QVERIFY(failing.focus(errorBoxTitle));
    QCOMPARE(tonesIn(sound.next(400)), (QList<bool>{false, true, false}));
    QVERIFY(failing.closeErrorBox());
    QVERIFY(failing.waitForExit(1));

}

void TestProgram::fileFailing_isReportedAndLeftAsItWas_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QStringList>("start"); // env(1)'s arguments before the program: variables, a command it runs in
    QTest::addColumn<QString>("errors"); // standard error, a pattern of it whole: the report last, after Qt's warnings

    const StockPlace whole;
    whole.createWith({{1, "A11", "OLD", "4"}});
    const QByteArray stock = whole.fileBytes();
    const auto report = [](int code, const QString &phrase) {
        return QStringLiteral("([^\n]*\n)*quillmarch: Error %1: [^\n]* %2[^\n]*\n")
            .arg(QString::number(code), QRegularExpression::escape(phrase));
    };
    QTest::newRow("read-only folder") << stock << Trouble::ReadOnlyFolder << QStringList()
                                      << report(SQLITE_READONLY, "Quillmarch writes beside the file");
    QTest::newRow("locked while running")
        << stock << Trouble::Locked << QStringList() << report(SQLITE_BUSY, "is in use by another program");
    // The count needs one more descriptor for its journal.
    QTest::newRow("out of descriptors") << stock << Trouble::AtCount << QStringList{"prlimit", "--nofile=10"}
                                        << report(SQLITE_CANTOPEN, "as many files open as the system allows");
    // Started with 2>&- and without XDG_RUNTIME_DIR, of which Qt warns on standard error.
    QTest::newRow("standard error closed")
        << QByteArray(4096, 'x') << Trouble::AtStart
        << QStringList{"-u", "XDG_RUNTIME_DIR", "sh", "-c", "exec \"$@\" 2>&-", "sh"} << "";
    // Started by perl(1) with standard output a pipe whose reading end it closed: read by no one,
    // the pipe fails the write, and no signal ends the program unheard.
    QTest::newRow("export to a pipe no one reads")
        << stock << Trouble::NoWindow
        << QStringList{"perl", "-e",
                       "pipe(my $r, my $w); close $r; open(STDOUT, '>&', $w); exec @ARGV, '--export', '-'"}
        << report(10, "export to standard output failed (Broken pipe)");
    QTest::newRow("no display") << stock << Trouble::NoWindow << QStringList{"-u", "DISPLAY"}
                                << "quillmarch: The window could not be opened: could not connect to display\n";
}

void TestProgram::fileFailing_isReportedAndLeftAsItWas()
{
    QFETCH(QByteArray, content);
    QFETCH(Trouble, trouble);
    QFETCH(QStringList, start);
    QFETCH(QString, errors);
#ifdef __SANITIZE_ADDRESS__
    if (start.contains("--nofile=10"))
        QSKIP("The sanitizers check memory through a pipe, which a process without descriptors cannot open");
#endif
    const StockPlace folder;
    folder.writeFile(content);
    const std::string readOnly = trouble == Trouble::ReadOnlyFolder ? folder.path() : std::string();
    ProgramRun program(
        folder.path(), [readOnly] { markReadOnly(readOnly, true); }, {}, start);
    const std::shared_ptr<void> writableAgain(nullptr, [&](void *) { markReadOnly(readOnly, false); });
    if (trouble == Trouble::Locked || trouble == Trouble::AtCount) {
        QVERIFY(program.focus());
        const std::shared_ptr<void> lock = trouble == Trouble::Locked ? folder.hold("BEGIN EXCLUSIVE") : nullptr;
        program.scan({"FINLOC", "PX-100", "QTY:12"});
        QVERIFY(program.focus(errorBoxTitle));
        // The scanner goes on with the next count, Enters and all, at the box.
        program.scan({"PX-101", "QTY:3"});
        QVERIFY(!program.waitForExit(1, 1000));
    }
    if (trouble != Trouble::NoWindow)
        QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(errors)).match(program.errorOutput()).hasMatch(),
             qPrintable(program.errorOutput()));
    QCOMPARE(QDir(toQString(folder.path())).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"quillmarch", "stock.mdb"}));
    QCOMPARE(folder.fileBytes(), content);
}

void TestProgram::twoStations_countTogetherOnOneServer()
{
    PostgresServer &server = PostgresServer::own();
    const std::string database = server.createDatabase();
    const QString url = toQString(server.url(database));
    const std::string everyRow = "SELECT string_agg(concat_ws('|', id, \"Location\", \"StockCode\", \"Quantity\"), ' '"
                                 " ORDER BY id) FROM \"Stock\"";
    const auto rows = [&] { return toQString(server.query(database, everyRow)[0][0]); };
    // One station is set up by its quillmarch.conf, the other by its command line.
    const StockPlace first, second;
    first.writeFile("# the team's server\nstore = " + url.toUtf8() + "\n", "quillmarch.conf");
    ProgramRun a(first.path()), b(second.path(), {}, {"--store", url});

    QVERIFY2(a.focus(), qPrintable(a.errorOutput()));
    a.scan({"ROW:A", "FINLOC", "PX-1", "QTY:1", "PX-2", "QTY:2"});
    QTRY_COMPARE(rows(), "1|A|PX-1|1 2|A|PX-2|2");
    QVERIFY(b.focus());
    b.scan({"FINLOC", "PX-3", "QTY:3"});
    QTRY_COMPARE(rows(), "1|A|PX-1|1 2|A|PX-2|2 3||PX-3|3");

    QVERIFY(a.focus());
    a.scan({"PX-99", "QTY:99"});
    QTRY_VERIFY2(rows().endsWith("|A|PX-99|99"), qPrintable(rows()));

    // Every record, without a window, from the store that the command line names.
    const StockPlace office;
    ProgramRun exporter(office.path(), {}, {"--store", url, "--export", "-"});
    QVERIFY(exporter.waitForExit(0));
    QVERIFY(exporter.readAllStandardOutput().startsWith(
        "id,Location,StockCode,Quantity\r\n1,A,PX-1,1\r\n2,A,PX-2,2\r\n3,,PX-3,3\r\n"));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"

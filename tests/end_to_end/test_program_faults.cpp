// The built program in a real X server when its file fails it: killed in the
// middle of a count, locked, full, removed, read-only or not ours, and in a
// folder whose name is not UTF-8. Whatever happens, no committed count is lost,
// a file that is not ours is never touched and the operator sees every error.
#include "desktop_session.h"
#include "stock_fixture.h"
#include "stock_main.h"
#include "window_driver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The same bytes on every run, and none that a database program would take for its own.
QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    quint32 seed = 2026;
    for (char &byte : bytes) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// What the folder holds besides the program's copy of itself.
QStringList entriesBesideTheProgram(const StockFolder &folder)
{
    QStringList entries =
        QDir(toQString(folder.path())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    entries.removeOne(QStringLiteral("quillmarch"));
    return entries;
}

// Makes a file or folder read-only as chmod a-w does and, for root, whom that does
// not stop, as chattr +i does; or lifts both again.
void markReadOnly(const std::string &path, bool readOnly)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return;
    if (readOnly)
        chmod(path.c_str(), status.st_mode & ~mode_t(0222));
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        close(fd);
    if (!readOnly)
        chmod(path.c_str(), status.st_mode | 0200);
}

// Lifts a read-only mark when it goes, so that the test's folder can be removed.
struct ReadOnlyMark {
    std::string path;
    ~ReadOnlyMark()
    {
        if (!path.empty())
            markReadOnly(path, false);
    }
};

int storedCount(const StockFolder &folder)
{
    return std::stoi(folder.queryText("SELECT count(*) FROM Stock"));
}

// The scans of one count: the item's code label, then its quantity label.
QStringList countScans(const TableRow &count)
{
    return {toQString(count.stockCode), QStringLiteral("QTY:") + toQString(count.quantity)};
}

} // namespace

class TestProgramFaults : public QObject {
    Q_OBJECT

private slots:
    void killedMidCount_keepsEveryStoredCountWhole();
    void lockedFile_isReportedAndNothingHalfStored();
    void fileMayNotGrow_isReportedAndEarlierCountsKept_data();
    void fileMayNotGrow_isReportedAndEarlierCountsKept();
    void fileGoneWhileRunning_isReportedAndNothingWritten_data();
    void fileGoneWhileRunning_isReportedAndNothingWritten();
    void unusableFile_isReportedAtStartAndLeftAsItWas_data();
    void unusableFile_isReportedAtStartAndLeftAsItWas();
    void folderNotNamedInUtf8_keepsTheCountsInIt();
    void folderNamedLikeTheFile_isReportedAndLeftEmpty();
    void commandLine_answeredOrRefusedWithoutAWindow_data();
    void commandLine_answeredOrRefusedWithoutAWindow();

private:
    XServer m_server;
};

void TestProgramFaults::killedMidCount_keepsEveryStoredCountWhole()
{
    constexpr int rounds = 16;
    constexpr int burst = 40;
    StockFolder folder;
    std::vector<TableRow> stored;
    QList<qsizetype> keptPerKill;

    for (int round = 0; round < rounds; ++round) {
        // Each round scans its own location, and codes and quantities no other scan has.
        const std::string location = "K" + std::to_string(round) + "9";
        QStringList labels{QStringLiteral("ROW:K"), QStringLiteral("RACK:%1").arg(round), QStringLiteral("SHELF:9"),
                           QStringLiteral("FINLOC")};
        std::vector<TableRow> counts;
        for (int i = 0; i < burst; ++i) {
            counts.push_back({std::int64_t(stored.size()) + i + 1, location,
                              "K" + std::to_string(round) + "-" + std::to_string(i),
                              std::to_string(round * 100 + i + 1)});
            labels << countScans(counts.back());
        }

        // From the second round on, the program starts over a file the last kill
        // left, and its counts must take the ids after the last one kept.
        ProgramRun program(m_server, folder.path());
        QVERIFY(program.waitUntilShown());
        const std::unique_ptr<QProcess> scanner = m_server.startXdotool(scanArguments(labels));

        // Killed at a different moment each round: once a varying number of counts
        // is stored, and a varying little while later.
        const qsizetype target = stored.size() + 1 + round * 7 % (burst / 2);
        const QDeadlineTimer deadline(30000);
        while (storedCount(folder) < target)
            QVERIFY2(!deadline.hasExpired(), "the scanned counts were not stored");
        QThread::usleep(round * 1700 % 10000);
        program.kill();
        // The scanner types its last keys into no window; stopped in the middle, it
        // could leave a key held down for the next round.
        QVERIFY(scanner->waitForFinished(30000));

        // The window's own start meets the file as the kill left it, with the
        // journal of a count half-way through its commit, if there was one.
        ReportedErrors errors;
        StockMain restarted{StockStore(folder.path())};
        QVERIFY(errors.reports.empty());
        QCOMPARE(folder.queryText("PRAGMA integrity_check"), std::string("ok"));
        const std::vector<TableRow> rows = folder.rows();
        QVERIFY(qsizetype(rows.size()) >= target && rows.size() <= stored.size() + burst);
        const qsizetype kept = rows.size() - stored.size();
        stored.insert(stored.end(), counts.begin(), counts.begin() + kept);
        QCOMPARE(rows, stored);
        QCOMPARE(listedRows(restarted), stored);
        keptPerKill << kept;
    }

    QString summary;
    for (qsizetype count : keptPerKill)
        summary += QStringLiteral(" %1").arg(count);
    qInfo("counts kept at each kill in a burst of %d:%s", burst, qPrintable(summary));
    QVERIFY2(std::any_of(keptPerKill.begin(), keptPerKill.end(), [](qsizetype count) { return count < burst; }),
             "no kill came before the end of its burst");
}

void TestProgramFaults::lockedFile_isReportedAndNothingHalfStored()
{
    StockFolder folder;
    const std::vector<TableRow> before{{1, "A11", "OLD", "4"}};
    folder.createWith(before);
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());
    {
        // Held for longer than the program waits for a lock.
        DatabaseLock lock(folder.databasePath());
        program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12"});
        // The scanner goes on with the next count, Enters and all, at the box.
        QVERIFY(m_server.focusWindow(errorBoxTitle));
        program.scan({"PX-101", "QTY:3"});
        QVERIFY(!program.waitForExit(1, 1500));
        QVERIFY(m_server.findWindow(errorBoxTitle));
        QVERIFY(program.closeErrorBox());
        QVERIFY(program.waitForExit(1));
    }
    QVERIFY2(program.reportedError(SQLITE_BUSY).contains(toQString(folder.databasePath())
                                                         + " is in use by another program"),
             qPrintable(program.errorOutput()));
    QCOMPARE(folder.queryText("PRAGMA integrity_check"), std::string("ok"));
    QCOMPARE(folder.rows(), before);
}

void TestProgramFaults::fileMayNotGrow_isReportedAndEarlierCountsKept_data()
{
    QTest::addColumn<qint64>("room");

    // The new page cannot start, or is cut off half-way and must be taken back.
    QTest::newRow("not a byte more") << qint64(0);
    QTest::newRow("half a page more") << qint64(2048);
}

void TestProgramFaults::fileMayNotGrow_isReportedAndEarlierCountsKept()
{
    QFETCH(qint64, room);
    // Long codes use up the room left in the file's pages within a few counts.
    const auto longCount = [](std::int64_t id) {
        return TableRow{id, "F22", "LONG-" + std::to_string(id) + "-" + std::string(300, 'x'), std::to_string(id)};
    };
    constexpr std::int64_t created = 40;
    StockFolder folder;
    std::vector<TableRow> stored;
    for (std::int64_t id = 1; id <= created; ++id)
        stored.push_back(longCount(id));
    folder.createWith(stored);
    const rlim_t limit = QFileInfo(toQString(folder.databasePath())).size() + room;

    // Started under the limit as from a shell with ulimit -f.
    ProgramRun program(m_server, folder.path(), [limit] {
        const rlimit fileSize{limit, limit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
    });
    QVERIFY(program.waitUntilShown());
    program.scan({"ROW:F", "RACK:2", "SHELF:2", "FINLOC"});
    for (;;) {
        const TableRow count = longCount(std::int64_t(stored.size()) + 1);
        QVERIFY2(count.id <= 100, "the file grew past its limit");
        program.scan(countScans(count));
        QTRY_VERIFY_WITH_TIMEOUT(folder.rows().size() > stored.size() || m_server.findWindow(errorBoxTitle), 20000);
        if (m_server.findWindow(errorBoxTitle))
            break;
        stored.push_back(count);
        QCOMPARE(folder.rows(), stored);
    }
    // The room left in the file's last pages took a few counts first.
    QVERIFY(std::int64_t(stored.size()) > created);
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    // Linux fails a write past the limit with EFBIG, which SQLite reports as an
    // I/O error; only ENOSPC, a disk truly full, makes it SQLITE_FULL.
    const QString report = program.reportedError(SQLITE_IOERR);
    QVERIFY2(report.contains(toQString(folder.databasePath())) && report.contains("could not be read or written"),
             qPrintable(program.errorOutput()));
    QCOMPARE(folder.queryText("PRAGMA integrity_check"), std::string("ok"));
    QCOMPARE(folder.rows(), stored);
}

void TestProgramFaults::fileGoneWhileRunning_isReportedAndNothingWritten_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("words");

    QTest::newRow("removed") << QByteArray() << SQLITE_CANTOPEN << "is missing or may not be opened";
    QTest::newRow("replaced by random bytes") << randomBytes(8192) << SQLITE_NOTADB
                                              << "is not a Quillmarch stock database";
}

void TestProgramFaults::fileGoneWhileRunning_isReportedAndNothingWritten()
{
    QFETCH(QByteArray, replacement);
    QFETCH(int, error);
    QFETCH(QString, words);
    StockFolder folder;
    folder.createWith({{1, "A11", "OLD", "4"}});
    ProgramRun program(m_server, folder.path());
    QVERIFY(program.waitUntilShown());

    QVERIFY(QFile::remove(toQString(folder.databasePath())));
    if (!replacement.isEmpty())
        folder.writeFile(replacement);
    program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12"});
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    const QString report = program.reportedError(error);
    QVERIFY2(report.contains(toQString(folder.databasePath())) && report.contains(words),
             qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder),
             replacement.isEmpty() ? QStringList() : QStringList{QStringLiteral("stock.mdb")});
    QCOMPARE(folder.fileBytes(), replacement);
}

void TestProgramFaults::unusableFile_isReportedAtStartAndLeftAsItWas_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("readOnly");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("words");

    QTest::newRow("random bytes") << randomBytes(8192) << QString() << SQLITE_NOTADB
                                  << "is not a Quillmarch stock database";
    QTest::newRow("Access database") << QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + randomBytes(8192)
                                     << QString() << SQLITE_NOTADB << "is a Microsoft Access database";

    // A stock.mdb of several pages, cut off in the middle of its records.
    StockFolder whole;
    std::vector<TableRow> rows;
    for (std::int64_t id = 1; id <= 500; ++id)
        rows.push_back({id, "C11", "CUT-" + std::to_string(id), std::to_string(id)});
    whole.createWith(rows);
    const QByteArray bytes = whole.fileBytes();
    QTest::newRow("stock.mdb cut short") << bytes.left(bytes.size() / 2 + 100) << QString() << SQLITE_CORRUPT
                                         << "is damaged and cannot be read";

    // A sound stock.mdb that the first count could not write.
    QTest::newRow("read-only file") << bytes << "file" << SQLITE_READONLY << "may not be written: it is read-only";
    QTest::newRow("read-only folder") << bytes << "folder" << SQLITE_READONLY
                                      << "may not be written, and Quillmarch writes beside the file";
}

void TestProgramFaults::unusableFile_isReportedAtStartAndLeftAsItWas()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, readOnly);
    QFETCH(int, error);
    QFETCH(QString, words);
    StockFolder folder;
    folder.writeFile(content);
    ReadOnlyMark mark;
    if (!readOnly.isEmpty())
        mark.path = readOnly == "file" ? folder.databasePath() : folder.path();

    ProgramRun program(m_server, folder.path(), [path = mark.path] { markReadOnly(path, true); });
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    const QString report = program.reportedError(error);
    QVERIFY2(report.contains(toQString(folder.databasePath())) && report.contains(words),
             qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder), QStringList{QStringLiteral("stock.mdb")});
    QCOMPARE(folder.fileBytes(), content);
}

void TestProgramFaults::folderNotNamedInUtf8_keepsTheCountsInIt()
{
    // A Latin-1 name, as on old media: "Zählung".
    StockFolder parent;
    const std::string folder = parent.path() + "/Z\xe4hlung";
    QVERIFY(std::filesystem::create_directory(folder));

    ProgramRun program(m_server, folder);
    QVERIFY(program.waitUntilShown());
    program.scan({"ROW:A", "RACK:7", "SHELF:2", "FINLOC", "PX-100", "QTY:12"});
    const auto stored = [&] {
        std::vector<TableRow> rows;
        if (std::filesystem::exists(DatabasePath(folder)))
            StockStore(folder).ListAll([&](const StockRecordView &r) {
                rows.push_back({r.id, std::string(r.location), std::string(r.stockCode), std::string(r.quantity)});
            });
        return rows;
    };
    QTRY_COMPARE(stored(), (std::vector<TableRow>{{1, "A72", "PX-100", "12"}}));
}

void TestProgramFaults::folderNamedLikeTheFile_isReportedAndLeftEmpty()
{
    StockFolder folder;
    const QString path = toQString(folder.databasePath());
    QVERIFY(QDir().mkdir(path));

    ProgramRun program(m_server, folder.path());
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    const QString report = program.reportedError(SQLITE_CANTOPEN);
    QVERIFY2(report.contains(path) && report.contains("is a folder"), qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder), QStringList{QStringLiteral("stock.mdb")});
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestProgramFaults::commandLine_answeredOrRefusedWithoutAWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");
    const QString help = "Usage: quillmarch [--mute]\n"
                         "Counts stock with a barcode scanner; every count is kept in stock.mdb beside the program.\n"
                         "\n"
                         "  --mute     count without the sounds that tell each scan stored, taken or refused\n"
                         "  --help     show this help and end\n"
                         "  --version  show the version and end\n";
    QTest::newRow("help") << QStringList{"--help"} << 0 << help << "";
    QTest::newRow("help after mute") << QStringList{"--mute", "--help"} << 0 << help << "";
    QTest::newRow("version, as the About box gives it")
        << QStringList{"--version"} << 0 << "Quillmarch Version: 1.0 Beta - Build 1\n" << "";
    QTest::newRow("unknown option") << QStringList{"--mute", "--loud", "--help"} << 2 << ""
                                    << "quillmarch: unknown option '--loud' (see quillmarch --help)\n";
    QTest::newRow("Qt's own option") << QStringList{"-platform", "offscreen"} << 2 << ""
                                     << "quillmarch: unknown option '-platform' (see quillmarch --help)\n";
    QTest::newRow("argument") << QStringList{"stock.mdb"} << 2 << ""
                              << "quillmarch: unknown argument 'stock.mdb' (see quillmarch --help)\n";
}

void TestProgramFaults::commandLine_answeredOrRefusedWithoutAWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    const ProgramAnswer answer = runWithoutDisplay(arguments);
    QCOMPARE(answer.errors, errors);
    QCOMPARE(answer.output, output);
    QCOMPARE(answer.exitCode, exitCode);
}

QTEST_MAIN(TestProgramFaults)
#include "test_program_faults.moc"

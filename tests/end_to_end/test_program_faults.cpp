// The built program in a real X server when its file fails it: killed in the
// middle of a count, locked, full, removed or not ours. Whatever happens, no
// committed count is lost and a file that is not ours is never touched.
#include "desktop_session.h"
#include "stock_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <sqlite3.h>

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

} // namespace

class TestProgramFaults : public QObject {
    Q_OBJECT

private slots:
    void fileGoneWhileRunning_isReportedAndNothingWritten_data();
    void fileGoneWhileRunning_isReportedAndNothingWritten();
    void foreignFile_isReportedAndLeftAsItWas_data();
    void foreignFile_isReportedAndLeftAsItWas();
    void folderNamedLikeTheFile_isReportedAndLeftEmpty();

private:
    XServer m_server;
};

void TestProgramFaults::fileGoneWhileRunning_isReportedAndNothingWritten_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("error");

    QTest::newRow("removed") << QByteArray() << SQLITE_CANTOPEN;
    QTest::newRow("replaced by random bytes") << randomBytes(8192) << SQLITE_NOTADB;
}

void TestProgramFaults::fileGoneWhileRunning_isReportedAndNothingWritten()
{
    QFETCH(QByteArray, replacement);
    QFETCH(int, error);
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
    QVERIFY2(program.reportedError(error).contains(toQString(folder.databasePath())),
             qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder),
             replacement.isEmpty() ? QStringList() : QStringList{QStringLiteral("stock.mdb")});
    QCOMPARE(folder.fileBytes(), replacement);
}

void TestProgramFaults::foreignFile_isReportedAndLeftAsItWas_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("words");

    QTest::newRow("random bytes") << randomBytes(8192) << SQLITE_NOTADB << "is not a Quillmarch stock database";
    QTest::newRow("Access database") << QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + randomBytes(8192)
                                     << SQLITE_NOTADB << "is a Microsoft Access database";

    // A stock.mdb of several pages, cut off in the middle of its records.
    StockFolder whole;
    std::vector<TableRow> rows;
    for (std::int64_t id = 1; id <= 500; ++id)
        rows.push_back({id, "C11", "CUT-" + std::to_string(id), std::to_string(id)});
    whole.createWith(rows);
    const QByteArray bytes = whole.fileBytes();
    QTest::newRow("stock.mdb cut short") << bytes.left(bytes.size() / 2 + 100) << SQLITE_CORRUPT << QString();
}

void TestProgramFaults::foreignFile_isReportedAndLeftAsItWas()
{
    QFETCH(QByteArray, content);
    QFETCH(int, error);
    QFETCH(QString, words);
    StockFolder folder;
    folder.writeFile(content);

    ProgramRun program(m_server, folder.path());
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    const QString report = program.reportedError(error);
    QVERIFY2(report.contains(toQString(folder.databasePath())) && report.contains(words),
             qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder), QStringList{QStringLiteral("stock.mdb")});
    QCOMPARE(folder.fileBytes(), content);
}

void TestProgramFaults::folderNamedLikeTheFile_isReportedAndLeftEmpty()
{
    StockFolder folder;
    const QString path = toQString(folder.databasePath());
    QVERIFY(QDir().mkdir(path));

    ProgramRun program(m_server, folder.path());
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    QVERIFY2(program.reportedError(SQLITE_CANTOPEN).contains(path), qPrintable(program.errorOutput()));
    QCOMPARE(entriesBesideTheProgram(folder), QStringList{QStringLiteral("stock.mdb")});
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "test_program_faults.moc"

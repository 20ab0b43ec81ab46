// The built program in a real X server when its file fails it: killed in the
// middle of a count, locked, full, removed or not ours. Whatever happens, no
// committed count is lost and a file that is not ours is never touched.
#include "desktop_session.h"
#include "stock_fixture.h"

#include <QTest>

class TestProgramFaults : public QObject {
    Q_OBJECT

private slots:
    void foreignFile_isReportedAndLeftAsItWas_data();
    void foreignFile_isReportedAndLeftAsItWas();

private:
    XServer m_server;
};

void TestProgramFaults::foreignFile_isReportedAndLeftAsItWas_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    QByteArray random(8192, '\0');
    quint32 seed = 2026;
    for (char &byte : random) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<char>(seed >> 16);
    }
    QTest::newRow("random bytes") << random << "Error 26: %1 is not a Quillmarch stock database";
    QTest::newRow("Access database") << QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + random
                                     << "Error 26: %1 is a Microsoft Access database";
}

void TestProgramFaults::foreignFile_isReportedAndLeftAsItWas()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    StockFolder folder;
    folder.writeFile(content);

    ProgramRun program(m_server, folder.path());
    QVERIFY(program.closeErrorBox());
    QVERIFY(program.waitForExit(1));
    QVERIFY2(program.errorOutput().contains(error.arg(toQString(folder.databasePath()))),
             qPrintable(program.errorOutput()));
    QCOMPARE(folder.fileBytes(), content);
}

QTEST_GUILESS_MAIN(TestProgramFaults)
#include "test_program_faults.moc"

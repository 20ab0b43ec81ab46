// The built program in a real X server, driven with real key events and mouse
// clicks as the operator drives it; every step is checked in stock.mdb itself.
#include "desktop_session.h"
#include "stock_fixture.h"

#include <QTest>

class TestCountingSession : public QObject {
    Q_OBJECT

private slots:
    void shelfCountedByScansAlone();

private:
    XServer m_server;
};

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
}

QTEST_GUILESS_MAIN(TestCountingSession)
#include "test_counting_session.moc"

#include "stock_fixture.h"
#include "stock_store.h"

#include <QTest>

#include <sqlite3.h>

#include <filesystem>

namespace {

std::vector<TableRow> listAll(const StockStore &store)
{
    std::vector<TableRow> rows;
    store.ListAll([&](const StockRecordView &r) {
        rows.push_back({r.id, std::string(r.location), std::string(r.stockCode), std::string(r.quantity)});
    });
    return rows;
}

TableRow asRow(const StockRecord &record)
{
    return {record.id, record.location, record.stockCode, record.quantity};
}

// Runs an operation that must fail and returns its error.
template<typename Operation>
StoreError failureOf(Operation &&operation)
{
    try {
        operation();
    } catch (const StoreError &error) {
        return error;
    }
    qFatal("the operation did not fail");
}

std::ptrdiff_t openFileCount()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

bool contains(const StoreError &error, const std::string &part)
{
    return std::string(error.what()).find(part) != std::string::npos;
}

} // namespace

class TestStockStore : public QObject {
    Q_OBJECT

private slots:
    void databasePath_addsTheFileNameAfterOneSeparator();

    void listAll_createsFileAndExactSchema();
    void listAll_createsTableInAFileThatHoldsNothing_data();
    void listAll_createsTableInAFileThatHoldsNothing();
    void listAll_yieldsRecordsInIdOrderAndNullAsEmptyText();
    void listAll_boundsItsRecordsAndTextsBeforeTheFirst_data();
    void listAll_boundsItsRecordsAndTextsBeforeTheFirst();

    void append_neverReusesTheIdOfADeletedHighestRecord();
    void texts_areStoredExactly();

    void loadUpdateDelete_workOnTheirRecordOnly();
    void missingRecord_failsLoadAndUpdateNamingTheIdAndDeleteChangesNothing();

    void operationsOtherThanListAll_neverCreateTheFile();
    void notADatabase_isRefusedAndLeftUnchanged_data();
    void notADatabase_isRefusedAndLeftUnchanged();
    void lockedDatabase_failsAfterWaitingAndWritesNothing();
    void otherProgramsDatabase_isRefusedAndLeftUnchanged();
    void tableOfAnotherShape_isRefusedAtStartAndLeftUnchanged_data();
    void tableOfAnotherShape_isRefusedAtStartAndLeftUnchanged();
    void writeTheTableDoesNotKeep_isReportedAndUndone_data();
    void writeTheTableDoesNotKeep_isReportedAndUndone();
};

void TestStockStore::databasePath_addsTheFileNameAfterOneSeparator()
{
    QCOMPARE(DatabasePath("/srv/count"), std::string("/srv/count/stock.mdb"));
    QCOMPARE(DatabasePath("/srv/count/"), std::string("/srv/count/stock.mdb"));
}

void TestStockStore::listAll_createsFileAndExactSchema()
{
    StockFolder folder;
    QVERIFY(!std::filesystem::exists(folder.databasePath()));
    QVERIFY(listAll(StockStore(folder.path())).empty());

    QVERIFY(std::filesystem::exists(folder.databasePath()));
    QCOMPARE(folder.fileBytes().left(16), QByteArray("SQLite format 3\0", 16));
    QCOMPARE(folder.queryText("SELECT sql FROM sqlite_master WHERE name = 'Stock'"),
             std::string("CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT, Location TEXT NOT NULL DEFAULT '',"
                         " StockCode TEXT NOT NULL DEFAULT '', Quantity TEXT NOT NULL DEFAULT '')"));
}

void TestStockStore::listAll_createsTableInAFileThatHoldsNothing_data()
{
    QTest::addColumn<QString>("sql");
    // A start that ended between making the file and its table leaves zero bytes.
    QTest::newRow("zero bytes") << "";
    QTest::newRow("emptied database") << "CREATE TABLE Other (x); DROP TABLE Other";
}

void TestStockStore::listAll_createsTableInAFileThatHoldsNothing()
{
    QFETCH(QString, sql);
    StockFolder folder;
    folder.writeFile({});
    folder.execute(sql.toStdString());
    QVERIFY(listAll(StockStore(folder.path())).empty());
    QCOMPARE(StockStore(folder.path()).Append("A", "B", "C"), 1);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "B", "C"}}));
}

void TestStockStore::listAll_yieldsRecordsInIdOrderAndNullAsEmptyText()
{
    StockFolder folder;
    // Another tool may have made the table without the NOT NULL constraints, with
    // columns, an index and a trigger of its own, and SQLite's names are the same
    // in any case. The rows go in out of id order.
    folder.execute("CREATE TABLE stock (id integer, location TEXT, StockCode TEXT, Quantity TEXT, Note TEXT,"
                   " Counted TEXT NOT NULL DEFAULT 'yes',"
                   " Code2 TEXT GENERATED ALWAYS AS (coalesce(StockCode, '') || '2') NOT NULL,"
                   " PRIMARY KEY (id DESC));"
                   "CREATE INDEX ByCode ON Stock (StockCode);"
                   "CREATE TRIGGER Noted AFTER INSERT ON Stock"
                   " BEGIN UPDATE Stock SET Note = 'new' WHERE id = NEW.id; END;"
                   "INSERT INTO Stock (id, Location, StockCode, Quantity)"
                   " VALUES (9, 'R9', 'CODE-9', '90'), (1, NULL, NULL, NULL), (2, 'A', NULL, 7)");
    const StockStore store(folder.path());
    QCOMPARE(listAll(store),
             (std::vector<TableRow>{{1, "", "", ""}, {2, "A", "", "7"}, {9, "R9", "CODE-9", "90"}}));
    QCOMPARE(asRow(store.LoadById(2)), (TableRow{2, "A", "", "7"}));
    QCOMPARE(store.Append("B", "Y", "8"), 10);
    QCOMPARE(folder.queryText("SELECT Note || Counted || Code2 FROM Stock WHERE id = 10"), std::string("newyesY2"));
}

void TestStockStore::listAll_boundsItsRecordsAndTextsBeforeTheFirst_data()
{
    QTest::addColumn<std::vector<TableRow>>("stored");
    QTest::addColumn<quint64>("mostRecords");
    QTest::newRow("empty table") << std::vector<TableRow>{} << quint64(0);
    QTest::newRow("ids far apart") << std::vector<TableRow>{{2, "A", "B", "C"}, {40, "Größe", "数量", "QTY:9"}}
                                   << quint64(39);
    // A few pages of file cannot hold more than a few thousand records, whatever their ids.
    QTest::newRow("an absurd id") << std::vector<TableRow>{{1, "A", "B", "C"}, {4611686018427387904, "", "", ""}}
                                  << quint64(10000);
}

void TestStockStore::listAll_boundsItsRecordsAndTextsBeforeTheFirst()
{
    QFETCH(std::vector<TableRow>, stored);
    QFETCH(quint64, mostRecords);
    StockFolder folder;
    folder.createWith(stored);

    std::vector<StockListSize> sizes;
    std::vector<std::size_t> visitedBefore;
    std::size_t visited = 0, textBytes = 0;
    StockStore(folder.path()).ListAll(
        [&](const StockRecordView &r) {
            ++visited;
            textBytes += r.location.size() + r.stockCode.size() + r.quantity.size();
        },
        [&](const StockListSize &size) {
            sizes.push_back(size);
            visitedBefore.push_back(visited);
        });
    QCOMPARE(visited, stored.size());
    QCOMPARE(visitedBefore, std::vector<std::size_t>{0});
    QVERIFY(sizes[0].records >= stored.size());
    QVERIFY(sizes[0].records <= mostRecords);
    QCOMPARE(sizes[0].textBytes, std::filesystem::file_size(folder.databasePath()));
    QVERIFY(sizes[0].textBytes >= textBytes);
}

void TestStockStore::append_neverReusesTheIdOfADeletedHighestRecord()
{
    StockFolder folder;
    const StockStore store(folder.path());
    listAll(store);
    for (int i = 0; i < 3; ++i)
        store.Append("L", "C" + std::to_string(i), "1");
    store.DeleteById(3);

    // A later run: the highest listed id is 2, but the store gives 4.
    const StockStore nextRun(folder.path());
    QCOMPARE(listAll(nextRun).back().id, 2);
    QCOMPARE(nextRun.Append("L", "NEW", "9"), 4);
    QCOMPARE(folder.rows().back(), (TableRow{4, "L", "NEW", "9"}));
}

void TestStockStore::texts_areStoredExactly()
{
    StockFolder folder;
    const StockStore store(folder.path());
    listAll(store);
    const std::vector<TableRow> texts = {
        {1, "", "", ""},
        {2, "  A 1 ", " code\t", " 12 "},
        {3, "Größe", "数量", "🙂📦"},
        {4, "it's", "say \"hi\"", "back\\slash"},
        {5, "1'; DROP TABLE Stock; --", "%_*", "?1"},
        {6, std::string(100000, 'x'), std::string(70000, 'y'), std::string(5000, '7')},
    };
    for (const TableRow &row : texts)
        QCOMPARE(store.Append(row.location, row.stockCode, row.quantity), row.id);

    QCOMPARE(folder.rows(), texts);
    QCOMPARE(listAll(store), texts);
    QCOMPARE(asRow(store.LoadById(3)), texts[2]);
}

void TestStockStore::loadUpdateDelete_workOnTheirRecordOnly()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}, {2, "B", "Y", "2"}, {3, "C", "Z", "3"}});
    const StockStore store(folder.path());

    QCOMPARE(asRow(store.LoadById(2)), (TableRow{2, "B", "Y", "2"}));
    store.UpdateById(2, " b ", "", "12abc");
    store.DeleteById(1);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{2, " b ", "", "12abc"}, {3, "C", "Z", "3"}}));
}

void TestStockStore::missingRecord_failsLoadAndUpdateNamingTheIdAndDeleteChangesNothing()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path());

    for (const StoreError &error : {failureOf([&] { store.LoadById(17); }),
                                    failureOf([&] { store.UpdateById(17, "L", "C", "Q"); })}) {
        QCOMPARE(error.code(), SQLITE_NOTFOUND);
        QVERIFY2(contains(error, "id 17"), error.what());
    }
    store.DeleteById(17);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));
}

void TestStockStore::operationsOtherThanListAll_neverCreateTheFile()
{
    StockFolder folder;
    const StockStore store(folder.path());
    // stock.mdb removed while the program runs: no fresh, empty one takes its place.
    listAll(store);
    std::filesystem::remove(folder.databasePath());
    for (const StoreError &error : {failureOf([&] { store.Append("A", "B", "C"); }),
                                    failureOf([&] { store.LoadById(1); }),
                                    failureOf([&] { store.UpdateById(1, "A", "B", "C"); }),
                                    failureOf([&] { store.DeleteById(1); })}) {
        QCOMPARE(error.code(), SQLITE_CANTOPEN);
        QCOMPARE(toQString(error.what()), toQString(folder.databasePath()
                                                    + " is missing or may not be opened (unable to open database"
                                                      " file); nothing was written."));
    }
    QVERIFY(!std::filesystem::exists(folder.databasePath()));
}

void TestStockStore::notADatabase_isRefusedAndLeftUnchanged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const QString foreign = "%1 is not a Quillmarch stock database (file is not a database);"
                            " the file was left as it is.";
    QByteArray random(4096, '\0');
    quint32 seed = 12345;
    for (char &byte : random) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<char>(seed >> 16);
    }
    QTest::newRow("random bytes") << random << false << SQLITE_NOTADB << foreign;
    QTest::newRow("a few bytes") << QByteArray("hello") << false << SQLITE_NOTADB << foreign;

    const QString access = "%1 is a Microsoft Access database. Quillmarch keeps its stock in an SQLite database"
                           " and cannot read it; the file was left as it is.";
    QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) + random;
    QTest::newRow("Access, Jet") << jet << false << SQLITE_NOTADB << access;
    QByteArray ace = QByteArray("\x00\x01\x00\x00Standard ACE DB", 19) + random;
    QTest::newRow("Access, ACE") << ace << false << SQLITE_NOTADB << access;

    // A stock.mdb cut short, as by a copy that did not finish.
    StockFolder source;
    source.createWith({});
    QTest::newRow("cut in the header") << source.fileBytes().left(50) << false << SQLITE_CORRUPT
                                       << "%1 is damaged and cannot be read (database disk image is malformed);"
                                          " the file was left as it is.";

    QTest::newRow("folder") << QByteArray() << true << SQLITE_CANTOPEN
                            << "%1 is a folder, not a Quillmarch stock database; it was left as it is.";
}

void TestStockStore::notADatabase_isRefusedAndLeftUnchanged()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, isFolder);
    QFETCH(int, code);
    QFETCH(QString, message);
    StockFolder folder;
    if (isFolder)
        std::filesystem::create_directory(folder.databasePath());
    else
        folder.writeFile(content);
    const StockStore store(folder.path());
    const std::ptrdiff_t openFiles = openFileCount();

    for (const StoreError &error : {failureOf([&] { listAll(store); }),
                                    failureOf([&] { store.Append("A", "B", "C"); }),
                                    failureOf([&] { store.LoadById(1); }),
                                    failureOf([&] { store.UpdateById(1, "A", "B", "C"); }),
                                    failureOf([&] { store.DeleteById(1); })}) {
        QCOMPARE(error.code(), code);
        QCOMPARE(toQString(error.what()), message.arg(toQString(folder.databasePath())));
    }
    QCOMPARE(openFileCount(), openFiles);
    if (isFolder)
        QVERIFY(std::filesystem::is_empty(folder.databasePath()));
    else
        QCOMPARE(folder.fileBytes(), content);
    QVERIFY(!std::filesystem::exists(folder.databasePath() + "-journal"));
}

void TestStockStore::lockedDatabase_failsAfterWaitingAndWritesNothing()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path(), 50);
    {
        DatabaseLock lock(folder.databasePath());
        for (const StoreError &error : {failureOf([&] { listAll(store); }),
                                        failureOf([&] { store.Append("B", "Y", "2"); }),
                                        failureOf([&] { store.UpdateById(1, "B", "Y", "2"); }),
                                        failureOf([&] { store.DeleteById(1); })}) {
            QCOMPARE(error.code(), SQLITE_BUSY);
            QVERIFY2(contains(error, folder.databasePath() + " is in use by another program (database is locked)"),
                     error.what());
        }
    }
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));
    QCOMPARE(store.Append("B", "Y", "2"), 2);
}

void TestStockStore::otherProgramsDatabase_isRefusedAndLeftUnchanged()
{
    StockFolder folder;
    folder.execute("CREATE TABLE Other (x); INSERT INTO Other VALUES (42)");
    const QByteArray content = folder.fileBytes();
    const StockStore store(folder.path());

    const StoreError list = failureOf([&] { listAll(store); });
    QCOMPARE(list.code(), SQLITE_NOTADB);
    QCOMPARE(toQString(list.what()),
             toQString(folder.databasePath()
                       + " is not a Quillmarch stock database (an SQLite database without the table Stock);"
                         " the file was left as it is."));
    // As when stock.mdb is replaced by such a file while the program runs.
    for (const StoreError &error : {failureOf([&] { store.Append("A", "B", "C"); }),
                                    failureOf([&] { store.LoadById(1); }),
                                    failureOf([&] { store.UpdateById(1, "A", "B", "C"); }),
                                    failureOf([&] { store.DeleteById(1); })}) {
        QCOMPARE(error.code(), SQLITE_ERROR);
        QCOMPARE(toQString(error.what()),
                 toQString(folder.databasePath()
                           + " is no longer a Quillmarch stock database: another program's database has taken its"
                             " place (no such table: Stock); nothing was written to it."));
    }
    QCOMPARE(folder.fileBytes(), content);
    QVERIFY(!std::filesystem::exists(folder.databasePath() + "-journal"));
}

void TestStockStore::tableOfAnotherShape_isRefusedAtStartAndLeftUnchanged_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("problem");

    const QString numbers = "has an id column that does not number the records (it must be the INTEGER PRIMARY KEY)";
    // As sqlite3's .import --csv makes it from the exported counts.
    QTest::newRow("imported from CSV") << "CREATE TABLE Stock (id TEXT, Location TEXT, StockCode TEXT, Quantity TEXT);"
                                          "INSERT INTO Stock VALUES ('1', 'A', 'X', '1'), ('1', 'B', 'Y', '2')"
                                       << numbers;
    QTest::newRow("INT key") << "CREATE TABLE Stock (id INT PRIMARY KEY, Location, StockCode, Quantity)" << numbers;
    QTest::newRow("descending key")
        << "CREATE TABLE Stock (id INTEGER PRIMARY KEY DESC, Location, StockCode, Quantity)" << numbers;
    QTest::newRow("without rowid")
        << "CREATE TABLE Stock (id INTEGER PRIMARY KEY, Location, StockCode, Quantity) WITHOUT ROWID" << numbers;
    QTest::newRow("key of two columns")
        << "CREATE TABLE Stock (id INTEGER, Location, StockCode, Quantity, PRIMARY KEY (id, Location))" << numbers;
    QTest::newRow("no id") << "CREATE TABLE Stock (Location, StockCode, Quantity)" << "has no column id";
    QTest::newRow("no quantity") << "CREATE TABLE Stock (id INTEGER PRIMARY KEY, Location, StockCode)"
                                 << "has no column Quantity";
    QTest::newRow("a column that must be given")
        << "CREATE TABLE Stock (id INTEGER PRIMARY KEY, Location, StockCode, Quantity, Counter TEXT NOT NULL)"
        << "has a column Counter that must be given a value (NOT NULL without a default), which Quillmarch does not"
           " know";
}

void TestStockStore::tableOfAnotherShape_isRefusedAtStartAndLeftUnchanged()
{
    QFETCH(QString, sql);
    QFETCH(QString, problem);
    StockFolder folder;
    folder.execute(sql.toStdString());
    const QByteArray content = folder.fileBytes();

    const StoreError error = failureOf([&] { listAll(StockStore(folder.path())); });
    QCOMPARE(error.code(), SQLITE_NOTADB);
    QCOMPARE(toQString(error.what()), toQString(folder.databasePath()) + " is not a Quillmarch stock database: its"
                                          " table Stock " + problem + ". The file was left as it is.");
    QCOMPARE(folder.fileBytes(), content);
    QVERIFY(!std::filesystem::exists(folder.databasePath() + "-journal"));
}

void TestStockStore::writeTheTableDoesNotKeep_isReportedAndUndone_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("update");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const QString count = "%1 did not keep the count as given: something in the file (a trigger) swallowed or dropped"
                          " it. The count was not stored.";
    QTest::newRow("insert swallowed") << "CREATE TRIGGER T BEFORE INSERT ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << false << SQLITE_CONSTRAINT << count;
    QTest::newRow("new row dropped")
        << "CREATE TRIGGER T AFTER INSERT ON Stock BEGIN DELETE FROM Stock WHERE id = NEW.id; END" << false
        << SQLITE_CONSTRAINT << count;
    QTest::newRow("update swallowed") << "CREATE TRIGGER T BEFORE UPDATE ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << true << SQLITE_CONSTRAINT
                                      << "%1 did not keep the change as given: something in the file (a trigger)"
                                         " swallowed or dropped it. The change was not stored.";

    const QString usedUp = "%1 has no more record numbers: its table Stock has given out the highest id there is,"
                           " and deleting records does not free one. Copy the records into a new stock.mdb to count"
                           " on (see the README). The count was not stored.";
    QTest::newRow("record numbers used up") << "INSERT INTO Stock VALUES (9223372036854775807, 'H', 'I', '9')"
                                            << false << SQLITE_FULL << usedUp;
    QTest::newRow("highest record number deleted")
        << "INSERT INTO Stock VALUES (9223372036854775807, 'H', 'I', '9'); DELETE FROM Stock WHERE id > 1" << false
        << SQLITE_FULL << usedUp;
}

void TestStockStore::writeTheTableDoesNotKeep_isReportedAndUndone()
{
    QFETCH(QString, sql);
    QFETCH(bool, update);
    QFETCH(int, code);
    QFETCH(QString, message);
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    folder.execute(sql.toStdString());
    const std::vector<TableRow> before = folder.rows();
    const StockStore store(folder.path());
    listAll(store);

    const StoreError error = update ? failureOf([&] { store.UpdateById(1, "B", "Y", "2"); })
                                    : failureOf([&] { store.Append("B", "Y", "2"); });
    QCOMPARE(error.code(), code);
    QCOMPARE(toQString(error.what()), message.arg(toQString(folder.databasePath())));
    QCOMPARE(folder.rows(), before);
}

QTEST_GUILESS_MAIN(TestStockStore)
#include "test_stock_store.moc"

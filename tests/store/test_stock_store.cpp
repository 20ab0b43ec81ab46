#include "stock_fixture.h"
#include "stock_store.h"

#include <QTest>

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <optional>

namespace {

std::vector<TableRow> listAll(const StockStore &store)
{
    std::vector<TableRow> rows;
    store.ListAll([&](const StockRecordView &r) {
        rows.push_back({r.id, std::string(r.location), std::string(r.stockCode), std::string(r.quantity)});
    });
    return rows;
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

// The errors of every operation but ListAll, which the program runs first.
std::vector<StoreError> laterFailures(const StockStore &store)
{
    return {failureOf([&] { store.Append("A", "B", "C"); }), failureOf([&] { store.LoadById(1); }),
            failureOf([&] { store.UpdateById(1, "A", "B", "C"); }), failureOf([&] { store.DeleteById(1); })};
}

std::ptrdiff_t openFileCount()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// An error's code and text, its %1 the file's path.
void checkError(const StoreError &error, int code, const QString &message, const StockFolder &folder)
{
    QCOMPARE(error.code(), code);
    QCOMPARE(toQString(error.what()), message.arg(toQString(folder.databasePath())));
}

} // namespace

class TestStockStore : public QObject {
    Q_OBJECT

private slots:
    void listAll_createsTheTableWhereTheFileHoldsNothing_data();
    void listAll_createsTheTableWhereTheFileHoldsNothing();
    void listAll_readsAnotherToolsTableInIdOrderAndNullAsEmpty();
    void records_storedExactlyAndChangedByTheirIdOnly();
    void missingRecordOrFile_failsWithoutCreatingAnything();
    void fileNotOurs_isRefusedAndLeftUnchanged_data();
    void fileNotOurs_isRefusedAndLeftUnchanged();
    void writeFailingAfterAGoodStart_isReportedAndUndone_data();
    void writeFailingAfterAGoodStart_isReportedAndUndone();
};

void TestStockStore::listAll_createsTheTableWhereTheFileHoldsNothing_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("no file") << QString();
    // A start that ended between making the file and its table leaves zero bytes.
    QTest::newRow("zero bytes") << "";
    QTest::newRow("emptied database") << "CREATE TABLE Other (x); DROP TABLE Other";
}

void TestStockStore::listAll_createsTheTableWhereTheFileHoldsNothing()
{
    QFETCH(QString, sql);
    StockFolder folder;
    if (!sql.isNull()) {
        folder.writeFile({});
        folder.execute(sql.toStdString());
    }
    QVERIFY(listAll(StockStore(folder.path())).empty());
    QCOMPARE(folder.fileBytes().left(16), QByteArray("SQLite format 3\0", 16));
    QCOMPARE(folder.queryText("SELECT sql FROM sqlite_master WHERE name = 'Stock'"),
             std::string("CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT, Location TEXT NOT NULL DEFAULT '',"
                         " StockCode TEXT NOT NULL DEFAULT '', Quantity TEXT NOT NULL DEFAULT '')"));
    QCOMPARE(StockStore(folder.path()).Append("A", "B", "C"), 1);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "B", "C"}}));
}

void TestStockStore::listAll_readsAnotherToolsTableInIdOrderAndNullAsEmpty()
{
    StockFolder folder;
    // Without the NOT NULL constraints, with columns, an index and a trigger of its
    // own, names in another case, rows out of id order.
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
    QCOMPARE(store.Append("B", "Y", "8"), 10);
    QCOMPARE(folder.queryText("SELECT Note || Counted || Code2 FROM Stock WHERE id = 10"), std::string("newyesY2"));
}

void TestStockStore::records_storedExactlyAndChangedByTheirIdOnly()
{
    // Exactly one separator between the folder and the file.
    QCOMPARE(DatabasePath("/srv/count"), std::string("/srv/count/stock.mdb"));
    QCOMPARE(DatabasePath("/srv/count/"), std::string("/srv/count/stock.mdb"));
    StockFolder folder;
    const StockStore store(folder.path());
    listAll(store);
    std::vector<TableRow> texts = {
        {1, "", "", ""},
        {2, "  A 1 ", " code\t", " 12 "},
        {3, "Größe", "数量", "🙂📦"},
        {4, "1'; DROP TABLE \"Stock\"; --", "%_*", "?1\\"},
        {5, std::string(100000, 'x'), std::string(70000, 'y'), std::string(5000, '7')},
    };
    for (const TableRow &row : texts)
        QCOMPARE(store.Append(row.location, row.stockCode, row.quantity), row.id);
    QCOMPARE(folder.rows(), texts);
    QCOMPARE(listAll(store), texts);

    const StockRecord loaded = store.LoadById(3);
    QCOMPARE((TableRow{loaded.id, loaded.location, loaded.stockCode, loaded.quantity}), texts[2]);
    // An empty text is stored as such, however the caller made it.
    store.UpdateById(3, " b ", std::string_view(), "12abc");
    store.DeleteById(2);
    texts[2] = {3, " b ", "", "12abc"};
    texts.erase(texts.begin() + 1);
    QCOMPARE(folder.rows(), texts);
}

void TestStockStore::missingRecordOrFile_failsWithoutCreatingAnything()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path());
    for (const StoreError &error : {failureOf([&] { store.LoadById(17); }),
                                    failureOf([&] { store.UpdateById(17, "L", "C", "Q"); })})
        checkError(error, SQLITE_NOTFOUND, "The stock record with id 17 no longer exists (%1)", folder);
    store.DeleteById(17);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));

    // stock.mdb removed while the program runs: no fresh, empty one takes its place.
    std::filesystem::remove(folder.databasePath());
    for (const StoreError &error : laterFailures(store))
        checkError(error, SQLITE_CANTOPEN,
                   "%1 is missing or may not be opened (unable to open database file); nothing was written.", folder);
    QVERIFY(!std::filesystem::exists(folder.databasePath()));
}

void TestStockStore::fileNotOurs_isRefusedAndLeftUnchanged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // What the operations after a good start meet when such a file has taken stock.mdb's place.
    QTest::addColumn<int>("laterCode");
    QTest::addColumn<QString>("laterMessage");

    const QString foreign = "%1 is not a Quillmarch stock database (file is not a database);"
                            " the file was left as it is.";
    const QByteArray noDatabase(4096, 'x');
    QTest::newRow("not a database") << noDatabase << "" << SQLITE_NOTADB << foreign << SQLITE_NOTADB << foreign;
    const QString access = "%1 is a Microsoft Access database. Quillmarch keeps its stock in an SQLite database"
                           " and cannot read it; the file was left as it is.";
    for (const char *engine : {"Jet", "ACE"}) {
        const QByteArray head = QByteArray("\x00\x01\x00\x00Standard ", 13) + engine + " DB";
        QTest::addRow("Access, %s", engine) << head + noDatabase << "" << SQLITE_NOTADB << access << SQLITE_NOTADB
                                            << access;
    }
    // A stock.mdb cut short, as by a copy that did not finish.
    StockFolder source;
    source.createWith({});
    const QString damaged = "%1 is damaged and cannot be read (database disk image is malformed);"
                            " the file was left as it is.";
    QTest::newRow("cut in the header") << source.fileBytes().left(50) << "" << SQLITE_CORRUPT << damaged
                                       << SQLITE_CORRUPT << damaged;
    const QString folder = "%1 is a folder, not a Quillmarch stock database; it was left as it is.";
    QTest::newRow("folder") << QByteArray() << "folder" << SQLITE_CANTOPEN << folder << SQLITE_CANTOPEN << folder;
    const QString locked = "%1 is in use by another program (database is locked); nothing was written to it.";
    QTest::newRow("locked") << QByteArray() << "locked" << SQLITE_BUSY << locked << SQLITE_BUSY << locked;
    QTest::newRow("another program's database")
        << QByteArray() << "CREATE TABLE Other (x); INSERT INTO Other VALUES (42)" << SQLITE_NOTADB
        << "%1 is not a Quillmarch stock database (an SQLite database without the table Stock);"
           " the file was left as it is."
        << SQLITE_ERROR
        << "%1 is no longer a Quillmarch stock database: another program's database has taken its place (no such"
           " table: Stock); nothing was written to it.";

    // Tables Stock of another shape, refused at the start only.
    const QString numbers = "has an id column that does not number the records (it must be the INTEGER PRIMARY KEY)";
    const QStringList shapes = {
        // As sqlite3's .import --csv makes it from the exported counts.
        "id TEXT, Location TEXT, StockCode TEXT, Quantity TEXT", numbers,
        "id INTEGER PRIMARY KEY DESC, Location, StockCode, Quantity", numbers,
        "id INTEGER PRIMARY KEY, Location, StockCode, Quantity) WITHOUT ROWID --", numbers,
        "id INTEGER, Location, StockCode, Quantity, PRIMARY KEY (id, Location)", numbers,
        "Location, StockCode, Quantity", "has no column id",
        "id INTEGER PRIMARY KEY, Location, StockCode", "has no column Quantity",
        "id INTEGER PRIMARY KEY, Location, StockCode, Quantity, Counter TEXT NOT NULL",
        "has a column Counter that must be given a value (NOT NULL without a default), which Quillmarch does not know",
    };
    for (qsizetype i = 0; i < shapes.size(); i += 2)
        QTest::newRow(qPrintable(shapes[i])) << QByteArray() << "CREATE TABLE Stock (" + shapes[i] + ")"
                                             << SQLITE_NOTADB
                                             << "%1 is not a Quillmarch stock database: its table Stock " + shapes[i + 1]
                                                    + ". The file was left as it is."
                                             << 0 << QString();
}

void TestStockStore::fileNotOurs_isRefusedAndLeftUnchanged()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, sql);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(int, laterCode);
    QFETCH(QString, laterMessage);
    const std::ptrdiff_t openFiles = openFileCount();
    StockFolder folder;
    std::optional<DatabaseLock> lock;
    if (sql == "folder") {
        std::filesystem::create_directory(folder.databasePath());
    } else if (sql == "locked") {
        folder.createWith({{1, "A", "X", "1"}});
        lock.emplace(folder.databasePath());
    } else if (sql.isEmpty()) {
        folder.writeFile(content);
    } else {
        folder.execute(sql.toStdString());
    }
    const QByteArray before = folder.fileBytes();
    const StockStore store(folder.path(), 50);

    checkError(failureOf([&] { listAll(store); }), code, message, folder);
    if (laterCode)
        for (const StoreError &error : laterFailures(store))
            checkError(error, laterCode, laterMessage, folder);
    lock.reset();
    QCOMPARE(openFileCount(), openFiles);
    QCOMPARE(folder.fileBytes(), before);
    if (sql == "folder")
        QVERIFY(std::filesystem::is_empty(folder.databasePath()));
    QVERIFY(!std::filesystem::exists(folder.databasePath() + "-journal"));
}

void TestStockStore::writeFailingAfterAGoodStart_isReportedAndUndone_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const auto notKept = [](const QString &what) {
        return "%1 did not keep the " + what + " as given: something in the file (a trigger) swallowed or dropped it."
               " The " + what + " was not stored.";
    };
    QTest::newRow("insert swallowed") << "CREATE TRIGGER T BEFORE INSERT ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << "append" << SQLITE_CONSTRAINT << notKept("count");
    QTest::newRow("new row dropped")
        << "CREATE TRIGGER T AFTER INSERT ON Stock BEGIN DELETE FROM Stock WHERE id = NEW.id; END" << "append"
        << SQLITE_CONSTRAINT << notKept("count");
    QTest::newRow("update swallowed") << "CREATE TRIGGER T BEFORE UPDATE ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << "update" << SQLITE_CONSTRAINT << notKept("change");
    const QString usedUp = "%1 has no more record numbers: its table Stock has given out the highest id there is,"
                           " and deleting records does not free one. Copy the records into a new stock.mdb to count"
                           " on (see the README). The count was not stored.";
    const QString highest = "INSERT INTO Stock VALUES (9223372036854775807, 'H', 'I', '9');";
    QTest::newRow("record numbers used up") << highest << "append" << SQLITE_FULL << usedUp;
    QTest::newRow("highest record number deleted") << highest + "DELETE FROM Stock WHERE id > 1" << "append"
                                                   << SQLITE_FULL << usedUp;
    QTest::newRow("numbering reset by hand") << highest + "UPDATE sqlite_sequence SET seq = 1" << "append"
                                             << SQLITE_FULL << usedUp;
    // Another program in the middle of its own changes, as DB Browser with changes not yet written.
    QTest::newRow("held for writing") << "BEGIN IMMEDIATE" << "delete" << SQLITE_BUSY
                                      << "%1 is in use by another program (database is locked); nothing was written"
                                         " to it.";
}

void TestStockStore::writeFailingAfterAGoodStart_isReportedAndUndone()
{
    QFETCH(QString, sql);
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(QString, message);
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    // A connection of another program's, kept open for as long as the case runs.
    sqlite3 *other = nullptr;
    sqlite3_open(folder.databasePath().c_str(), &other);
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closed(other, sqlite3_close);
    QCOMPARE(sqlite3_exec(other, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    const std::vector<TableRow> before = folder.rows();
    const StockStore store(folder.path(), 50);
    listAll(store);

    checkError(failureOf([&] {
                   if (operation == "append")
                       store.Append("B", "Y", "2");
                   else if (operation == "update")
                       store.UpdateById(1, "B", "Y", "2");
                   else
                       store.DeleteById(1);
               }),
               code, message, folder);
    QCOMPARE(folder.rows(), before);
}

QTEST_GUILESS_MAIN(TestStockStore)
#include "test_stock_store.moc"
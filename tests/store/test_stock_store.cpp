#include "stock_fixture.h"
#include "stock_store.h"

#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include <sys/resource.h>

namespace {

std::vector<TableRow> listAll(const StockStore &store)
{
    std::vector<TableRow> rows;
    store.listAll([&](const StockRecordView &r) {
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

// The operations after the start, each on record 1.
enum class Operation { Append, Load, Update, Delete };

void run(const StockStore &store, Operation operation)
{
    switch (operation) {
    case Operation::Append:
        store.append("B", "Y", "2");
        break;
    case Operation::Load:
        store.loadById(1);
        break;
    case Operation::Update:
        store.updateById(1, "B", "Y", "2");
        break;
    case Operation::Delete:
        store.deleteById(1);
        break;
    }
}

constexpr Operation laterOperations[] = {Operation::Append, Operation::Load, Operation::Update, Operation::Delete};

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

// How a test makes the stock.mdb that the store meets; the last two make none.
enum class Setup { Bytes, Sql, Folder, Locked, ReadOnlyFolder, NoRoom };

} // namespace

class TestStockStore : public QObject {
    Q_OBJECT

private slots:
    void listAll_createsTheTableWhereTheFileHoldsNothing_data();
    void listAll_createsTheTableWhereTheFileHoldsNothing();
    void listAll_readsAnotherToolsTableInIdOrderAndNullAsEmpty();
    void records_storedExactlyAndChangedByTheirIdOnly();
    void missingRecordOrFile_failsWithoutCreatingAnything();
    void lockReleasedWithinTheWait_letsTheCountThrough();
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
    QCOMPARE(StockStore(folder.path()).append("A", "B", "C"), 1);
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
                   " PRIMARY KEY (id DESC) ON CONFLICT REPLACE);"
                   "CREATE INDEX ByCode ON Stock (StockCode);"
                   "CREATE TRIGGER Noted AFTER INSERT ON Stock"
                   " BEGIN UPDATE Stock SET Note = 'new' WHERE id = NEW.id; END;"
                   "INSERT INTO Stock (id, Location, StockCode, Quantity)"
                   " VALUES (9, 'R9', 'CODE-9', '90'), (1, NULL, NULL, NULL), (2, 'A', NULL, 7)");
    const StockStore store(folder.path());
    QCOMPARE(listAll(store), (std::vector<TableRow>{{1, "", "", ""}, {2, "A", "", "7"}, {9, "R9", "CODE-9", "90"}}));
    QCOMPARE(store.append("B", "Y", "8"), 10);
    QCOMPARE(folder.queryText("SELECT Note || Counted || Code2 FROM Stock WHERE id = 10"), std::string("newyesY2"));
}

void TestStockStore::records_storedExactlyAndChangedByTheirIdOnly()
{
    // Exactly one separator between the folder and the file.
    QCOMPARE(databasePath("/srv/count"), std::string("/srv/count/stock.mdb"));
    QCOMPARE(databasePath("/srv/count/"), std::string("/srv/count/stock.mdb"));
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
        QCOMPARE(store.append(row.location, row.stockCode, row.quantity), row.id);
    QCOMPARE(folder.rows(), texts);
    QCOMPARE(listAll(store), texts);

    const StockRecord loaded = store.loadById(3);
    QCOMPARE((TableRow{loaded.id, loaded.location, loaded.stockCode, loaded.quantity}), texts[2]);
    // An empty text is stored as such, however the caller made it.
    store.updateById(3, " b ", std::string_view(), "12abc");
    store.deleteById(2);
    texts[2] = {3, " b ", "", "12abc"};
    texts.erase(texts.begin() + 1);
    QCOMPARE(folder.rows(), texts);
}

void TestStockStore::missingRecordOrFile_failsWithoutCreatingAnything()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path());
    for (const StoreError &error :
         {failureOf([&] { store.loadById(17); }), failureOf([&] { store.updateById(17, "L", "C", "Q"); })})
        checkError(error, SQLITE_NOTFOUND, "The stock record with id 17 no longer exists (%1)", folder);
    store.deleteById(17);
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}}));

    // stock.mdb removed while the program runs: no fresh, empty one takes its place.
    std::filesystem::remove(folder.databasePath());
    for (Operation operation : laterOperations)
        checkError(failureOf([&] { run(store, operation); }), SQLITE_CANTOPEN,
                   "%1 is missing or may not be opened (unable to open database file); nothing was written.", folder);
    QVERIFY(!std::filesystem::exists(folder.databasePath()));
}

void TestStockStore::lockReleasedWithinTheWait_letsTheCountThrough()
{
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path());
    // Another program holds the file for a moment, as DB Browser writing its changes.
    std::promise<void> locked;
    std::thread other([&] {
        DatabaseLock lock(folder.databasePath());
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    locked.get_future().wait();
    QCOMPARE(store.append("B", "Y", "2"), 2);
    other.join();
    QCOMPARE(folder.rows(), (std::vector<TableRow>{{1, "A", "X", "1"}, {2, "B", "Y", "2"}}));
}

void TestStockStore::fileNotOurs_isRefusedAndLeftUnchanged_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("content"); // the file's bytes, or the SQL that makes it
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // What the operations after a good start meet when such a file has taken stock.mdb's place.
    QTest::addColumn<int>("laterCode");
    QTest::addColumn<QString>("laterMessage");

    const QString foreign = "%1 is not a Quillmarch stock database (file is not a database);"
                            " the file was left as it is.";
    const QByteArray noDatabase(4096, 'x');
    QTest::newRow("not a database") << Setup::Bytes << noDatabase << SQLITE_NOTADB << foreign << SQLITE_NOTADB
                                    << foreign;
    const QString access = "%1 is a Microsoft Access database. Quillmarch keeps its stock in an SQLite database"
                           " and cannot read it; the file was left as it is.";
    for (const char *engine : {"Jet", "ACE"}) {
        const QByteArray head = QByteArray("\x00\x01\x00\x00Standard ", 13) + engine + " DB";
        QTest::addRow("Access, %s", engine)
            << Setup::Bytes << head + noDatabase << SQLITE_NOTADB << access << SQLITE_NOTADB << access;
    }
    // A stock.mdb cut short, as by a copy that did not finish.
    StockFolder source;
    source.createWith({});
    const QString damaged = "%1 is damaged and cannot be read (database disk image is malformed);"
                            " the file was left as it is.";
    QTest::newRow("cut in the header") << Setup::Bytes << source.fileBytes().left(50) << SQLITE_CORRUPT << damaged
                                       << SQLITE_CORRUPT << damaged;
    const QString folder = "%1 is a folder, not a Quillmarch stock database; it was left as it is.";
    QTest::newRow("folder") << Setup::Folder << QByteArray() << SQLITE_CANTOPEN << folder << SQLITE_CANTOPEN << folder;
    const QString locked = "%1 is in use by another program (database is locked); nothing was written to it.";
    QTest::newRow("locked") << Setup::Locked << QByteArray() << SQLITE_BUSY << locked << SQLITE_BUSY << locked;
    const QString missing = "%1 is missing or may not be opened (unable to open database file); nothing was written.";
    QTest::newRow("none yet, folder read-only")
        << Setup::ReadOnlyFolder << QByteArray() << SQLITE_READONLY
        << "%1 cannot be made: its folder may not be written. Make the folder writable and start again."
        << SQLITE_CANTOPEN << missing;
    QTest::newRow("none yet, no room for it")
        << Setup::NoRoom << QByteArray() << SQLITE_IOERR
        << "%1 could not be read or written (disk I/O error): the disk may be full or failing, or the file may not"
           " grow. A change being made was not stored."
        << SQLITE_CANTOPEN << missing;
    const QString replaced = "%1 is no longer a Quillmarch stock database: another program's database has taken its"
                             " place (%2); nothing was written to it.";
    QTest::newRow("another program's database")
        << Setup::Sql << QByteArray("CREATE TABLE Other (x); INSERT INTO Other VALUES (42)") << SQLITE_NOTADB
        << "%1 is not a Quillmarch stock database (an SQLite database without the table Stock);"
           " the file was left as it is."
        << SQLITE_ERROR << replaced;

    // Tables Stock of another shape, refused at the start and by every operation after
    // a start that found the table as it should be.
    const QString numbers = "has an id column that does not number the records (it must be the INTEGER PRIMARY KEY)";
    const QStringList shapes = {
        // As sqlite3's .import --csv makes it from the exported counts.
        "id TEXT, Location TEXT, StockCode TEXT, Quantity TEXT",
        numbers,
        "id INTEGER PRIMARY KEY DESC, Location, StockCode, Quantity",
        numbers,
        "id INTEGER PRIMARY KEY, Location, StockCode, Quantity) WITHOUT ROWID --",
        numbers,
        "id INTEGER, Location, StockCode, Quantity, PRIMARY KEY (id, Location)",
        numbers,
        "Location, StockCode, Quantity",
        "has no column id",
        "id INTEGER PRIMARY KEY, Location, StockCode",
        "has no column Quantity",
        "id INTEGER PRIMARY KEY, Location, StockCode, Quantity, Counter TEXT NOT NULL",
        "has a column Counter that must be given a value (NOT NULL without a default), which Quillmarch does not know",
        "id INTEGER PRIMARY KEY, \"ON CONFLICT REPLACE\", Location, StockCode UNIQUE /* x */ ON CONFLICT REPLACE,"
        " Quantity",
        "has a UNIQUE constraint ON CONFLICT REPLACE, with which a new count would remove an earlier one that repeats"
        " its value",
    };
    for (qsizetype i = 0; i < shapes.size(); i += 2)
        QTest::newRow(qPrintable(shapes[i]))
            << Setup::Sql << ("CREATE TABLE Stock (" + shapes[i] + ")").toUtf8() << SQLITE_NOTADB
            << "%1 is not a Quillmarch stock database: its table Stock " + shapes[i + 1]
                + ". The file was left as it is."
            << SQLITE_NOTADB
            << "%1 is no longer a Quillmarch stock database: its table Stock now " + shapes[i + 1]
                + "; nothing was written to it.";
}

void TestStockStore::fileNotOurs_isRefusedAndLeftUnchanged()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, content);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(int, laterCode);
    QFETCH(QString, laterMessage);
    const std::ptrdiff_t openFiles = openFileCount();
    StockFolder folder;
    std::optional<DatabaseLock> lock;
    switch (setup) {
    case Setup::Bytes:
        folder.writeFile(content);
        break;
    case Setup::Sql:
        folder.execute(content.toStdString());
        break;
    case Setup::Folder:
        std::filesystem::create_directory(folder.databasePath());
        break;
    case Setup::Locked:
        folder.createWith({{1, "A", "X", "1"}});
        lock.emplace(folder.databasePath());
        break;
    case Setup::ReadOnlyFolder:
        markReadOnly(folder.path(), true);
        break;
    case Setup::NoRoom: // as under ulimit -f 0, where the program ignores SIGXFSZ
        std::signal(SIGXFSZ, SIG_IGN);
        break;
    }
    const std::shared_ptr<void> writableAgain(nullptr, [&](void *) { markReadOnly(folder.path(), false); });
    const bool existed = std::filesystem::exists(folder.databasePath());
    const QByteArray before = folder.fileBytes();
    const StockStore store(folder.path(), 50);

    const rlimit noRoom{0, RLIM_INFINITY}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, setup == Setup::NoRoom ? &noRoom : &unlimited);
    checkError(failureOf([&] { listAll(store); }), code, message, folder);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    for (Operation operation : laterOperations) {
        const StoreError error = failureOf([&] { run(store, operation); });
        // Where %2 stands, SQLite's own words follow the user's: they name what the operation met first.
        const QString sqliteWords = toQString(error.what()).section('(', 1).section(')', 0, 0);
        checkError(error, laterCode, laterMessage.contains("%2") ? laterMessage.arg("%1", sqliteWords) : laterMessage,
                   folder);
    }
    lock.reset();
    QCOMPARE(openFileCount(), openFiles);
    QCOMPARE(folder.fileBytes(), before);
    QCOMPARE(std::filesystem::exists(folder.databasePath()), existed);
    if (setup == Setup::Folder)
        QVERIFY(std::filesystem::is_empty(folder.databasePath()));
    QVERIFY(!std::filesystem::exists(folder.databasePath() + "-journal"));
}

void TestStockStore::writeFailingAfterAGoodStart_isReportedAndUndone_data()
{
    QTest::addColumn<QString>("sql");   // run on another program's connection, kept open
    QTest::addColumn<bool>("readOnly"); // the file made read-only after the start
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const auto notKept = [](const QString &what, const QString &how = "swallowed or dropped it") {
        return "%1 did not keep the " + what + " as given: something in the file (a trigger) " + how + ". The " + what
            + " was not stored.";
    };
    QTest::newRow("insert swallowed") << "CREATE TRIGGER T BEFORE INSERT ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << false << Operation::Append << SQLITE_CONSTRAINT << notKept("count");
    QTest::newRow("new row dropped")
        << "CREATE TRIGGER T AFTER INSERT ON Stock BEGIN DELETE FROM Stock WHERE id = NEW.id; END" << false
        << Operation::Append << SQLITE_CONSTRAINT << notKept("count");
    QTest::newRow("update swallowed") << "CREATE TRIGGER T BEFORE UPDATE ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << false << Operation::Update << SQLITE_CONSTRAINT << notKept("change");
    QTest::newRow("earlier count removed")
        << "CREATE TRIGGER T AFTER INSERT ON Stock BEGIN DELETE FROM Stock WHERE id < NEW.id; END" << false
        << Operation::Append << SQLITE_CONSTRAINT << notKept("count", "also removed the record with id 1");
    QTest::newRow("count rewritten")
        << "CREATE TRIGGER T AFTER INSERT ON Stock BEGIN UPDATE Stock SET Quantity = '0' WHERE id = NEW.id; END"
        << false << Operation::Append << SQLITE_CONSTRAINT << notKept("count", "changed its Quantity as it was stored");
    QTest::newRow("other record changed by an edit")
        << "CREATE TRIGGER T AFTER UPDATE ON Stock BEGIN INSERT INTO Stock VALUES (5, 'L', 'C', '1'); END" << false
        << Operation::Update << SQLITE_CONSTRAINT << notKept("change", "also added the record with id 5");
    QTest::newRow("delete swallowed") << "CREATE TRIGGER T BEFORE DELETE ON Stock BEGIN SELECT RAISE(IGNORE); END"
                                      << false << Operation::Delete << SQLITE_CONSTRAINT
                                      << notKept("deletion", "kept the record");
    QTest::newRow("replaced by a table whose id is no record number")
        << "DROP TABLE Stock; CREATE TABLE Stock (id INT PRIMARY KEY, Location, StockCode, Quantity)" << false
        << Operation::Append << SQLITE_NOTADB
        << "%1 is no longer a Quillmarch stock database: its table Stock now has an id column that does not number"
           " the records (it must be the INTEGER PRIMARY KEY); nothing was written to it.";
    const QString usedUp = "%1 has no more record numbers: its table Stock has given out the highest id there is,"
                           " and deleting records does not free one. Copy the records into a new stock.mdb to count"
                           " on (see the README). The count was not stored.";
    const QString highest = "INSERT INTO Stock VALUES (9223372036854775807, 'H', 'I', '9');";
    QTest::newRow("record numbers used up") << highest << false << Operation::Append << SQLITE_FULL << usedUp;
    QTest::newRow("highest record number deleted")
        << highest + "DELETE FROM Stock WHERE id > 1" << false << Operation::Append << SQLITE_FULL << usedUp;
    QTest::newRow("numbering reset by hand")
        << highest + "UPDATE sqlite_sequence SET seq = 1" << false << Operation::Append << SQLITE_FULL << usedUp;
    // Another program in the middle of its own changes, as DB Browser with changes not yet written.
    QTest::newRow("held for writing") << "BEGIN IMMEDIATE" << false << Operation::Delete << SQLITE_BUSY
                                      << "%1 is in use by another program (database is locked); nothing was written"
                                         " to it.";
    QTest::newRow("made read-only") << "" << true << Operation::Append << SQLITE_READONLY
                                    << "%1 may not be written (attempt to write a readonly database): the file or its"
                                       " folder was made read-only. The change was not stored.";
}

void TestStockStore::writeFailingAfterAGoodStart_isReportedAndUndone()
{
    QFETCH(QString, sql);
    QFETCH(bool, readOnly);
    QFETCH(Operation, operation);
    QFETCH(int, code);
    QFETCH(QString, message);
    StockFolder folder;
    folder.createWith({{1, "A", "X", "1"}});
    const StockStore store(folder.path(), 50);
    listAll(store);
    sqlite3 *other = nullptr;
    sqlite3_open(folder.databasePath().c_str(), &other);
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closed(other, sqlite3_close);
    QCOMPARE(sqlite3_exec(other, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    markReadOnly(readOnly ? folder.databasePath() : std::string(), true);
    const std::shared_ptr<void> writableAgain(nullptr, [&](void *) { markReadOnly(folder.databasePath(), false); });
    const QByteArray before = folder.fileBytes();

    checkError(failureOf([&] { run(store, operation); }), code, message, folder);
    // Nothing of the write is kept, not even what a trigger did along with it.
    QCOMPARE(folder.fileBytes(), before);
}

QTEST_GUILESS_MAIN(TestStockStore)
#include "test_stock_store.moc"

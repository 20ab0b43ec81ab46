#include "stock_fixture.h"

#include "stock_store.h"
#include "utf8_path.h"

#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <filesystem>

#ifdef QUILLMARCH_TEST_SERVER
#include "postgres_server.h"
#include "postgres_store.h"

#include <libpq-fe.h>
#endif
#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct Database {
    explicit Database(const std::string &path)
    {
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
            qFatal("cannot open %s: %s", path.c_str(), sqlite3_errmsg(db));
        // The program under test may be writing the file at the same moment.
        sqlite3_busy_timeout(db, 10000);
    }
    ~Database() { sqlite3_close(db); }
    void execute(const std::string &sql) const
    {
        char *error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("%s: %s", sql.c_str(), error);
    }
    sqlite3 *db = nullptr;
};

std::string columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? std::string(text, sqlite3_column_bytes(statement, column)) : std::string();
}

} // namespace

StockFolder::StockFolder() : m_dir(QDir::tempPath() + QStringLiteral("/quillmarch-Größe-数量-XXXXXX"))
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary folder");
}

void StockFolder::execute(const std::string &sql) const
{
    Database(databasePath()).execute(sql);
}

std::string StockFolder::queryText(const std::string &sql) const
{
    Database database(databasePath());
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(database.db, sql.c_str(), -1, &select, nullptr) != SQLITE_OK)
        qFatal("%s: %s", sql.c_str(), sqlite3_errmsg(database.db));
    std::string text = sqlite3_step(select) == SQLITE_ROW ? columnText(select, 0) : std::string();
    sqlite3_finalize(select);
    return text;
}

void StockFolder::createWith(const std::vector<TableRow> &rows) const
{
    Database database(databasePath());
    // One transaction: a commit for every row would make large tables slow to set up.
    database.execute("BEGIN");
    database.execute("CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT, Location TEXT NOT NULL DEFAULT '',"
                     " StockCode TEXT NOT NULL DEFAULT '', Quantity TEXT NOT NULL DEFAULT '')");
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(database.db, "INSERT INTO Stock VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (const TableRow &row : rows) {
        sqlite3_bind_int64(insert, 1, row.id);
        sqlite3_bind_text(insert, 2, row.location.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, row.stockCode.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, row.quantity.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE)
            qFatal("insert: %s", sqlite3_errmsg(database.db));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    database.execute("COMMIT");
}

std::vector<TableRow> StockFolder::rows() const
{
    Database database(databasePath());
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(database.db, "SELECT id, Location, StockCode, Quantity FROM Stock ORDER BY id", -1, &select,
                           nullptr)
        != SQLITE_OK)
        qFatal("select: %s", sqlite3_errmsg(database.db));
    std::vector<TableRow> rows;
    while (sqlite3_step(select) == SQLITE_ROW)
        rows.push_back(
            {sqlite3_column_int64(select, 0), columnText(select, 1), columnText(select, 2), columnText(select, 3)});
    sqlite3_finalize(select);
    return rows;
}

QByteArray StockFolder::fileBytes() const
{
    QFile file(QString::fromStdString(databasePath()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StockFolder::writeFile(const QByteArray &bytes) const
{
    QFile file(QString::fromStdString(databasePath()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", databasePath().c_str());
}

namespace {

// A fresh database on the tests' server for a server's place; none for a folder.
std::string databaseFor([[maybe_unused]] StoreKind kind)
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server)
        return PostgresServer::shared().createDatabase();
#endif
    return {};
}

} // namespace

StockPlace::StockPlace(StoreKind kind) : kind(kind), database(databaseFor(kind))
{
}

std::unique_ptr<Store> StockPlace::store() const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server)
        return std::make_unique<PostgresStore>(PostgresServer::shared().url(database));
#endif
    return std::make_unique<StockStore>(folder.path(), 50);
}

void StockPlace::createWith(const std::vector<TableRow> &rows) const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server) {
        store()->listAll([](const StockRecordView &) {});
        const PostgresSession session = PostgresServer::shared().connect(database);
        for (const TableRow &row : rows) {
            const std::string id = std::to_string(row.id);
            const char *values[] = {id.c_str(), row.location.c_str(), row.stockCode.c_str(), row.quantity.c_str()};
            PQclear(PQexecParams(session.get(), "INSERT INTO \"Stock\" OVERRIDING SYSTEM VALUE VALUES ($1, $2, $3, $4)",
                                 4, nullptr, values, nullptr, nullptr, 0));
        }
        execute("SELECT setval(pg_get_serial_sequence('\"Stock\"', 'id'), max(id)) FROM \"Stock\"");
        return;
    }
#endif
    folder.createWith(rows);
}

std::vector<TableRow> StockPlace::rows() const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server) {
        const PostgresSession session = PostgresServer::shared().connect(database);
        const std::unique_ptr<PGresult, void (*)(PGresult *)> result(
            PQexec(session.get(), "SELECT id, \"Location\", \"StockCode\", \"Quantity\" FROM \"Stock\" ORDER BY id"),
            PQclear);
        std::vector<TableRow> rows;
        for (int row = 0; row < PQntuples(result.get()); ++row)
            rows.push_back({std::stoll(PQgetvalue(result.get(), row, 0)), PQgetvalue(result.get(), row, 1),
                            PQgetvalue(result.get(), row, 2), PQgetvalue(result.get(), row, 3)});
        return rows;
    }
#endif
    return folder.rows();
}

void StockPlace::execute(const std::string &sql) const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server)
        return void(PostgresServer::shared().queryText(database, sql));
#endif
    folder.execute(sql);
}

ReportedErrors::ReportedErrors()
{
    ErrorReporter::setReporter([this](const Failure &failure) { failures.push_back(failure); });
}

QList<int> ReportedErrors::numbers() const
{
    QList<int> numbers;
    for (const Failure &failure : failures)
        numbers << failure.number;
    return numbers;
}

SoundOutput HeardSounds::output()
{
    return [this](ScanSound sound) {
        switch (sound) {
        case ScanSound::Stored:
            sounds << "stored";
            break;
        case ScanSound::Accepted:
            sounds << "accepted";
            break;
        case ScanSound::Refused:
            sounds << "refused";
            break;
        }
    };
}

DatabaseLock::DatabaseLock(const std::string &path)
{
    sqlite3_open(path.c_str(), &m_db);
    if (sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        qFatal("cannot lock %s: %s", path.c_str(), sqlite3_errmsg(m_db));
}

DatabaseLock::~DatabaseLock()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

void markReadOnly(const std::string &path, bool readOnly)
{
#ifdef _WIN32
    std::error_code missing;
    std::filesystem::permissions(pathFromUtf8(path), std::filesystem::perms::owner_write,
                                 readOnly ? std::filesystem::perm_options::remove : std::filesystem::perm_options::add,
                                 missing);
#else
    // Only calls that are safe between fork and exec: a program's run marks its folder so.
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0)
        return;
    chmod(path.c_str(), readOnly ? status.st_mode & ~mode_t(0222) : status.st_mode | 0200);
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        close(fd);
#endif
}

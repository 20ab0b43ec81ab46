#include "support/stock_fixture.h"

#include "store/utf8_path.h"

#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <filesystem>

#ifdef QUILLMARCH_TEST_SERVER
#include "store/team_store.h"
#include "support/postgres_server.h"

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

using Texts = std::vector<std::vector<std::string>>;

// Runs SQL on the file, made when missing, and gathers the rows it yields; the
// connection stays open while the result lives.
std::shared_ptr<void> runOnFile(const std::string &path, const std::string &sql, Texts &rows)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::shared_ptr<void> held(db, [](void *db) { sqlite3_close(static_cast<sqlite3 *>(db)); });
    // The program under test may be writing the file at the same moment.
    sqlite3_busy_timeout(db, 10000);
    const auto gather = [](void *rows, int count, char **values, char **) {
        std::vector<std::string> &row = static_cast<Texts *>(rows)->emplace_back();
        for (int i = 0; i < count; ++i)
            row.emplace_back(values[i] ? values[i] : "");
        return 0;
    };
    char *error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), gather, &rows, &error) != SQLITE_OK)
        qFatal("%s: %s", sql.c_str(), error);
    return held;
}

// A fresh database on the tests' server for a server's place; none for a folder.
std::string databaseFor([[maybe_unused]] StoreKind kind)
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server)
        return PostgresServer::shared().createDatabase();
#endif
    return {};
}

// Runs SQL on the place's file or database and gathers the rows it yields.
Texts query(const StockPlace &place, const std::string &sql)
{
    Texts texts;
#ifdef QUILLMARCH_TEST_SERVER
    if (place.kind == StoreKind::Server)
        return PostgresServer::shared().query(place.database, sql);
#endif
    runOnFile(place.databasePath(), sql, texts);
    return texts;
}

} // namespace

StockPlace::StockPlace(StoreKind kind)
    : kind(kind), database(databaseFor(kind)), m_dir(QDir::tempPath() + QStringLiteral("/quillmarch-Größe-数量-XXXXXX"))
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary folder");
}

std::unique_ptr<Store> StockPlace::store(Access access) const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server)
        return std::make_unique<TeamStore>(PostgresServer::shared().url(database), path(), access);
#endif
    return std::make_unique<StockStore>(path(), access, 50);
}

void StockPlace::createWith(const std::vector<TableRow> &rows) const
{
    std::string values;
    for (const TableRow &row : rows) {
        // The texts as SQL literals, as both SQLite and PostgreSQL read them.
        char *value = sqlite3_mprintf("(%lld, %Q, %Q, %Q)", sqlite3_int64(row.id), row.location.c_str(),
                                      row.stockCode.c_str(), row.quantity.c_str());
        values += (values.empty() ? " VALUES " : ", ") + std::string(value);
        sqlite3_free(value);
    }
    if (kind == StoreKind::Server) {
        store()->listAll([](const StockRecordView &) {});
        if (!rows.empty())
            run("INSERT INTO \"Stock\" OVERRIDING SYSTEM VALUE" + values
                + "; SELECT setval(pg_get_serial_sequence('\"Stock\"', 'id'), max(id)) FROM \"Stock\"");
        return;
    }
    run("BEGIN; CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT, Location TEXT NOT NULL DEFAULT '',"
        " StockCode TEXT NOT NULL DEFAULT '', Quantity TEXT NOT NULL DEFAULT '');"
        + (rows.empty() ? "" : "INSERT INTO Stock" + values + ";") + "COMMIT");
}

std::vector<TableRow> StockPlace::rows() const
{
    std::vector<TableRow> rows;
    for (const std::vector<std::string> &row :
         query(*this, "SELECT id, \"Location\", \"StockCode\", \"Quantity\" FROM \"Stock\" ORDER BY id"))
        rows.push_back({std::stoll(row[0]), row[1], row[2], row[3]});
    return rows;
}

std::string StockPlace::run(const std::string &sql) const
{
    const Texts texts = query(*this, sql);
    return texts.empty() ? std::string() : texts[0][0];
}

std::shared_ptr<void> StockPlace::hold(const std::string &sql) const
{
#ifdef QUILLMARCH_TEST_SERVER
    if (kind == StoreKind::Server) {
        PostgresSession session = PostgresServer::shared().connect(database);
        PostgresServer::query(session, sql);
        return std::shared_ptr<void>(session.release(), [](void *other) { PQfinish(static_cast<PGconn *>(other)); });
    }
#endif
    Texts rows;
    return runOnFile(databasePath(), sql, rows);
}

QByteArray StockPlace::fileBytes(const QString &name) const
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StockPlace::writeFile(const QByteArray &bytes, const QString &name) const
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

bool driveUntil(Store &store, const std::function<bool()> &done)
{
    return QTest::qWaitFor(
        [&] {
            store.advance();
            return done();
        },
        20000);
}

RecordResult answerOf(Store &store, const std::function<void(Store::Done)> &start)
{
    std::optional<RecordResult> answer;
    start([&](const RecordResult &result) { answer = result; });
    if (!driveUntil(store, [&] { return answer.has_value(); }))
        qFatal("the store did not answer");
    return *answer;
}

std::int64_t countNow(Store &store, std::string_view location, std::string_view stockCode, std::string_view quantity)
{
    // Hears the id the server gives the count.
    struct Told : QuietObserver {
        std::optional<std::int64_t> id;
        void countStored(std::int64_t, const StockRecord &stored) override { id = stored.id; }
    } told;
    const RecordKey key = store.append(location, stockCode, quantity);
    if (key.place == RecordKey::Place::Stored)
        return key.number;
    store.follow(&told);
    if (!driveUntil(store, [&] { return told.id.has_value(); }))
        qFatal("the server did not take the count");
    store.follow(nullptr);
    return *told.id;
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

#include "stock_store.h"

#include "sqlite_handle.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

namespace {

// The file format that users and their tools rely on.
constexpr const char *createTable =
    "CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " Location TEXT NOT NULL DEFAULT '', StockCode TEXT NOT NULL DEFAULT '',"
    " Quantity TEXT NOT NULL DEFAULT '')";

[[noreturn]] void failNoRecord(std::int64_t id, const std::string &path)
{
    throw StoreError(SQLITE_NOTFOUND,
                     "The stock record with id " + std::to_string(id) + " no longer exists (" + path + ")");
}

enum class Schema { Empty, Ours, Foreign };

// What the file holds: nothing yet (a new or emptied file), our table, or only
// the objects of some other program.
Schema schemaOf(sqlite::Connection &db)
{
    sqlite::Statement select(db, "SELECT count(*), count(*) FILTER (WHERE type = 'table' AND name = 'Stock'"
                                 " COLLATE NOCASE) FROM sqlite_schema");
    select.step();
    if (select.columnInt64(1) > 0)
        return Schema::Ours;
    return select.columnInt64(0) == 0 ? Schema::Empty : Schema::Foreign;
}

// Makes the table in a file that holds nothing yet. The database of another
// program is refused and never written to.
void requireStockTable(sqlite::Connection &db)
{
    Schema schema = schemaOf(db);
    if (schema == Schema::Empty) {
        // Look again under the write lock: another start may have made the table meanwhile.
        db.execute("BEGIN IMMEDIATE");
        schema = schemaOf(db);
        if (schema == Schema::Empty)
            db.execute(createTable);
        db.execute("COMMIT");
    }
    if (schema == Schema::Foreign)
        db.fail(SQLITE_NOTADB, "an SQLite database without the table Stock");
}

// Every row takes a cell of at least 4 bytes and a 2-byte pointer to it in a page.
constexpr std::uint64_t smallestRowBytes = 6;

// Each figure is found through the id's index or the file's header, never by a walk.
StockListSize listSizeOf(sqlite::Connection &db)
{
    sqlite::Statement select(db, "SELECT EXISTS (SELECT 1 FROM Stock), (SELECT min(id) FROM Stock),"
                                 " (SELECT max(id) FROM Stock), (SELECT page_count FROM pragma_page_count())"
                                 " * (SELECT page_size FROM pragma_page_size())");
    select.step();
    const auto fileBytes = static_cast<std::uint64_t>(select.columnInt64(3));
    if (select.columnInt64(0) == 0)
        return {0, fileBytes};
    // Unsigned, so that the widest span of ids does not overflow.
    const std::uint64_t idSpan =
        static_cast<std::uint64_t>(select.columnInt64(2)) - static_cast<std::uint64_t>(select.columnInt64(1));
    return {std::min(idSpan, fileBytes / smallestRowBytes) + 1, fileBytes};
}

} // namespace

std::string DatabasePath(const std::string &folder)
{
    constexpr char separator = std::filesystem::path::preferred_separator;
    if (!folder.empty() && folder.back() == separator)
        return folder + "stock.mdb";
    return folder + separator + "stock.mdb";
}

StockStore::StockStore(std::string folder, int busyTimeoutMs)
    : m_folder(std::move(folder)), m_busyTimeoutMs(busyTimeoutMs)
{
}

void StockStore::ListAll(const std::function<void(const StockRecordView &)> &visit,
                         const std::function<void(const StockListSize &)> &expect) const
{
    sqlite::Connection db(DatabasePath(m_folder), sqlite::Connection::Mode::ReadWriteCreate, m_busyTimeoutMs);
    // One pass reads each page once: a larger cache would only fill up for nothing.
    db.execute("PRAGMA cache_size = 16");
    requireStockTable(db);
    if (expect)
        expect(listSizeOf(db));
    sqlite::Statement select(db, "SELECT id, Location, StockCode, Quantity FROM Stock ORDER BY id");
    while (select.step())
        visit({select.columnInt64(0), select.columnText(1), select.columnText(2), select.columnText(3)});
}

std::int64_t StockStore::Append(std::string_view location, std::string_view stockCode,
                                std::string_view quantity) const
{
    sqlite::Connection db(DatabasePath(m_folder), sqlite::Connection::Mode::ReadWrite, m_busyTimeoutMs);
    sqlite::Statement insert(db, "INSERT INTO Stock (Location, Quantity, StockCode) VALUES (?1, ?2, ?3)");
    insert.bind(1, location);
    insert.bind(2, quantity);
    insert.bind(3, stockCode);
    insert.step();
    return db.lastInsertId();
}

StockRecord StockStore::LoadById(std::int64_t id) const
{
    sqlite::Connection db(DatabasePath(m_folder), sqlite::Connection::Mode::ReadWrite, m_busyTimeoutMs);
    sqlite::Statement select(db, "SELECT id, Location, StockCode, Quantity FROM Stock WHERE id = ?1");
    select.bind(1, id);
    if (!select.step())
        failNoRecord(id, db.path());
    return {select.columnInt64(0), std::string(select.columnText(1)), std::string(select.columnText(2)),
            std::string(select.columnText(3))};
}

void StockStore::UpdateById(std::int64_t id, std::string_view location, std::string_view stockCode,
                            std::string_view quantity) const
{
    sqlite::Connection db(DatabasePath(m_folder), sqlite::Connection::Mode::ReadWrite, m_busyTimeoutMs);
    sqlite::Statement update(db, "UPDATE Stock SET Location = ?1, StockCode = ?2, Quantity = ?3 WHERE id = ?4");
    update.bind(1, location);
    update.bind(2, stockCode);
    update.bind(3, quantity);
    update.bind(4, id);
    update.step();
    if (db.changes() == 0)
        failNoRecord(id, db.path());
}

void StockStore::DeleteById(std::int64_t id) const
{
    sqlite::Connection db(DatabasePath(m_folder), sqlite::Connection::Mode::ReadWrite, m_busyTimeoutMs);
    sqlite::Statement remove(db, "DELETE FROM Stock WHERE id = ?1");
    remove.bind(1, id);
    remove.step();
}

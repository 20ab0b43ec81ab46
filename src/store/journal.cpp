#include "store/journal.h"

#include "store/stock_store.h"
#include "store/utf8_path.h"

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <optional>

namespace {

// "QSJ1": the journal's mark in the SQLite header, where other programs put theirs.
constexpr std::int64_t journalMark = 0x51534A31;

constexpr const char *createTable =
    "CREATE TABLE Journal (key INTEGER PRIMARY KEY AUTOINCREMENT, CountId TEXT NOT NULL UNIQUE,"
    " Server TEXT NOT NULL, Location TEXT NOT NULL, StockCode TEXT NOT NULL, Quantity TEXT NOT NULL,"
    " Sent INTEGER NOT NULL DEFAULT 0)";

// How long a start waits for the journal of a program that is just ending.
constexpr int busyTimeoutMs = 1000;

std::string journalPath(const std::string &folder)
{
    return pathInFolder(folder, Journal::fileName);
}

// A random (version 4) UUID, as 32 hex digits: SQLite's generator is seeded by the system's.
std::string newCountId()
{
    std::array<unsigned char, 16> bytes{};
    sqlite3_randomness(int(bytes.size()), bytes.data());
    bytes[6] = (bytes[6] & 0x0f) | 0x40;
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    static constexpr char digits[] = "0123456789abcdef";
    std::string id;
    for (unsigned char byte : bytes) {
        id += digits[byte >> 4];
        id += digits[byte & 0x0f];
    }
    return id;
}

WaitingCount countAt(const sqlite::Statement &select)
{
    return {select.columnInt64(0), std::string(select.columnText(1)),
            StockRecord{select.columnInt64(0), std::string(select.columnText(2)), std::string(select.columnText(3)),
                        std::string(select.columnText(4))},
            select.columnInt64(5) != 0};
}

// Whether the file holds nothing yet, our table, or something else.
enum class Content { Empty, Ours, Foreign };

Content contentOf(sqlite::Connection &db)
{
    sqlite::Statement select(db,
                             "SELECT (SELECT count(*) FROM sqlite_schema), (SELECT application_id FROM"
                             " pragma_application_id()), (SELECT count(*) FROM pragma_table_info('Journal')"
                             " WHERE name IN ('key', 'CountId', 'Server', 'Location', 'StockCode', 'Quantity',"
                             " 'Sent'))");
    select.step();
    if (select.columnInt64(0) == 0 && select.columnInt64(1) == 0)
        return Content::Empty;
    return select.columnInt64(1) == journalMark && select.columnInt64(2) == 7 ? Content::Ours : Content::Foreign;
}

sqlite::Connection openJournal(const std::string &folder)
{
    const std::string path = journalPath(folder);
    std::error_code missing;
    if (!std::filesystem::exists(pathFromUtf8(path), missing) && !sqlite::folderWritable(folder))
        throw StoreError(SQLITE_READONLY,
                         path
                             + " cannot be made: its folder may not be written, and Quillmarch keeps there each"
                               " count until the server has it. Make the folder writable and start again.");
    return sqlite::Connection(path, sqlite::Connection::Mode::ReadWriteCreate, busyTimeoutMs);
}

void forEachKey(sqlite::Connection &db, const char *sql, const std::vector<std::int64_t> &keys)
{
    sqlite::Transaction transaction(db);
    sqlite::Statement statement(db, sql);
    for (std::int64_t key : keys) {
        statement.bind(1, key);
        statement.step();
        statement.reset();
    }
    transaction.commit();
}

} // namespace

Journal::Journal(const std::string &folder, std::string server)
    : m_db(openJournal(folder)), m_server(std::move(server))
{
    const std::string &path = m_db.path();
    // Held for the run: no second program counts through the same journal.
    m_db.execute("PRAGMA locking_mode = EXCLUSIVE");
    const Content content = contentOf(m_db);
    if (content == Content::Foreign)
        throw StoreError(SQLITE_NOTADB,
                         path + " is not a Quillmarch journal: it holds another program's data. Quillmarch keeps the"
                                " counts a station has not yet sent to the server there; move the file elsewhere"
                                " and start again. The file was left as it is.");
    if (sqlite3_db_readonly(m_db.handle(), "main") == 1 || !sqlite::folderWritable(folder))
        throw StoreError(SQLITE_READONLY,
                         path
                             + " may not be written, or its folder may not: Quillmarch keeps there each count"
                               " until the server has it. Make both writable and start again; the file was left"
                               " as it is.");
    // One write to the disk a count, and none to wait for at the tone.
    m_db.execute("PRAGMA journal_mode = WAL");
    if (content == Content::Empty) {
        sqlite::Transaction transaction(m_db);
        if (contentOf(m_db) == Content::Empty) {
            m_db.execute(createTable);
            m_db.execute(("PRAGMA application_id = " + std::to_string(journalMark)).c_str());
        }
        transaction.commit();
    }
    sqlite::Statement others(m_db, "SELECT Server, count(*) FROM Journal WHERE Server <> ?1 GROUP BY Server LIMIT 1");
    others.bind(1, m_server);
    if (others.step())
        throw StoreError(1, path + " holds " + std::to_string(others.columnInt64(1))
                                + (others.columnInt64(1) == 1 ? " count" : " counts") + " for the server at "
                                + std::string(others.columnText(0))
                                + " that have not reached it, and Quillmarch counts into " + m_server
                                + " now. Count into that server again until they are sent, or move the file"
                                  " elsewhere to set them aside. Nothing was written.");
}

bool Journal::existsIn(const std::string &folder)
{
    std::error_code error;
    return std::filesystem::exists(pathFromUtf8(journalPath(folder)), error);
}

std::int64_t Journal::waitingIn(const std::string &folder, const std::string &server)
{
    if (!existsIn(folder))
        return 0;
    const std::string path = journalPath(folder);
    std::optional<sqlite::Connection> opened;
    try {
        opened.emplace(path, sqlite::Connection::Mode::ReadWrite, busyTimeoutMs);
    } catch (const StoreError &error) {
        if (error.code() != SQLITE_BUSY)
            throw;
        throw StoreError(SQLITE_BUSY, path
                                          + " is held by the station counting in this folder, so whether all of its"
                                            " counts are on the server cannot be told. Close that station, or export"
                                            " from another one. Nothing was written.");
    }
    sqlite::Connection &db = *opened;
    if (contentOf(db) != Content::Ours)
        throw StoreError(SQLITE_NOTADB, db.path() + " is not a Quillmarch journal. The file was left as it is.");
    sqlite::Statement select(db, "SELECT count(*) FROM Journal WHERE Server = ?1");
    select.bind(1, server);
    select.step();
    return select.columnInt64(0);
}

WaitingCount Journal::add(std::string_view location, std::string_view stockCode, std::string_view quantity)
{
    WaitingCount count{0, newCountId(),
                       StockRecord{0, std::string(location), std::string(stockCode), std::string(quantity)}, false};
    sqlite::Statement insert(m_db, "INSERT INTO Journal (CountId, Server, Location, StockCode, Quantity)"
                                   " VALUES (?1, ?2, ?3, ?4, ?5)");
    insert.bind(1, count.countId);
    insert.bind(2, m_server);
    insert.bind(3, location);
    insert.bind(4, stockCode);
    insert.bind(5, quantity);
    insert.step();
    count.key = count.texts.id = m_db.lastInsertId();
    return count;
}

std::vector<WaitingCount> Journal::waiting(std::size_t most) const
{
    sqlite::Statement select(m_db, "SELECT key, CountId, Location, StockCode, Quantity, Sent FROM Journal"
                                   " WHERE Server = ?1 ORDER BY key LIMIT ?2");
    select.bind(1, m_server);
    select.bind(2, static_cast<std::int64_t>(most));
    std::vector<WaitingCount> counts;
    while (select.step())
        counts.push_back(countAt(select));
    return counts;
}

std::int64_t Journal::size() const
{
    sqlite::Statement select(m_db, "SELECT count(*) FROM Journal WHERE Server = ?1");
    select.bind(1, m_server);
    select.step();
    return select.columnInt64(0);
}

std::optional<WaitingCount> Journal::find(std::int64_t key) const
{
    sqlite::Statement select(m_db, "SELECT key, CountId, Location, StockCode, Quantity, Sent FROM Journal"
                                   " WHERE key = ?1 AND Server = ?2");
    select.bind(1, key);
    select.bind(2, m_server);
    if (!select.step())
        return std::nullopt;
    return countAt(select);
}

std::optional<RecordResult> Journal::refuseChange(const StockRecord &shown) const
{
    const std::optional<WaitingCount> count = find(shown.id);
    if (!count)
        return RecordResult{RecordResult::Gone, {}};
    if (count->sent)
        return RecordResult{RecordResult::InTransit, count->texts};
    if (count->texts != shown)
        return RecordResult{RecordResult::Changed, count->texts};
    return std::nullopt;
}

RecordResult Journal::update(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                             std::string_view quantity)
{
    sqlite::Transaction transaction(m_db);
    if (std::optional<RecordResult> refused = refuseChange(shown))
        return *refused;
    sqlite::Statement update(m_db, "UPDATE Journal SET Location = ?2, StockCode = ?3, Quantity = ?4 WHERE key = ?1");
    update.bind(1, shown.id);
    update.bind(2, location);
    update.bind(3, stockCode);
    update.bind(4, quantity);
    update.step();
    transaction.commit();
    return {RecordResult::Done, {}};
}

RecordResult Journal::remove(const StockRecord &shown)
{
    sqlite::Transaction transaction(m_db);
    if (std::optional<RecordResult> refused = refuseChange(shown))
        return *refused;
    sqlite::Statement remove(m_db, "DELETE FROM Journal WHERE key = ?1");
    remove.bind(1, shown.id);
    remove.step();
    transaction.commit();
    return {RecordResult::Done, {}};
}

void Journal::markSent(const std::vector<std::int64_t> &keys)
{
    forEachKey(m_db, "UPDATE Journal SET Sent = 1 WHERE key = ?1", keys);
}

void Journal::forget(const std::vector<std::int64_t> &keys)
{
    forEachKey(m_db, "DELETE FROM Journal WHERE key = ?1", keys);
}

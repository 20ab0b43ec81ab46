#include "store/stock_store.h"

#include "store/sqlite_handle.h"
#include "store/utf8_path.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>


namespace {

// The file format that users and their tools rely on.
constexpr const char *createTable = "CREATE TABLE Stock (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                    " Location TEXT NOT NULL DEFAULT '', StockCode TEXT NOT NULL DEFAULT '',"
                                    " Quantity TEXT NOT NULL DEFAULT '')";

// A write that the table did not carry out as asked, a trigger's doing: what
// names the write (a count, a change, a deletion), how says what became of it.
[[noreturn]] void failNotKept(const std::string &what, const std::string &how, const std::string &path)
{
    throw StoreError(SQLITE_CONSTRAINT,
                     path + " did not keep the " + what + " as given: something in the file (a trigger) " + how
                         + ". The " + what + " was not stored.");
}

std::optional<StockRecord> recordOf(sqlite::Connection &db, std::int64_t id)
{
    sqlite::Statement select(db, "SELECT id, Location, StockCode, Quantity FROM Stock WHERE id = ?1");
    select.bind(1, id);
    if (!select.step())
        return std::nullopt;
    return StockRecord{select.columnInt64(0), std::string(select.columnText(1)), std::string(select.columnText(2)),
                       std::string(select.columnText(3))};
}

bool exists(sqlite::Connection &db, std::int64_t id)
{
    sqlite::Statement select(db, "SELECT count(*) FROM Stock WHERE id = ?1");
    select.bind(1, id);
    select.step();
    return select.columnInt64(0) > 0;
}

// The list shows a write as it was asked for, so the file must hold it so, and
// nothing else besides: a trigger that also adds, changes or removes another
// record, or rewrites the one written, would leave the list showing what the
// file does not hold. Each check costs the same however long the table.
void requireNoOtherRecordTouched(const sqlite::RowChanges &changes, std::int64_t id, const std::string &what,
                                 const std::string &path)
{
    const std::optional<sqlite::RowChanges::Change> other = changes.otherThan(id);
    if (!other)
        return;
    const char *done = other->kind == sqlite::RowChanges::Kind::Inserted ? "added"
        : other->kind == sqlite::RowChanges::Kind::Deleted               ? "removed"
                                                                         : "changed";
    failNotKept(what, std::string("also ") + done + " the record with id " + std::to_string(other->rowid), path);
}

void requireKeptAsGiven(sqlite::Connection &db, std::int64_t id, const std::array<std::string_view, 3> &texts,
                        const std::string &what)
{
    sqlite::Statement select(db, "SELECT Location, StockCode, Quantity FROM Stock WHERE id = ?1");
    select.bind(1, id);
    if (!select.step())
        failNotKept(what, "swallowed or dropped it", db.path());
    static constexpr std::array<const char *, 3> columns{"Location", "StockCode", "Quantity"};
    std::string changed;
    for (int column = 0; column < 3; ++column)
        if (select.columnText(column) != texts[std::size_t(column)])
            changed += std::string(changed.empty() ? "" : " and ") + columns[std::size_t(column)];
    if (!changed.empty())
        failNotKept(what, "changed its " + changed + " as it was stored", db.path());
}

// SQLite gives no id above the highest one it ever gave, even once that record is gone.
bool recordNumbersUsedUp(sqlite::Connection &db)
{
    constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();
    sqlite::Statement select(db, "SELECT max(id) FROM Stock");
    select.step();
    if (select.columnInt64(0) == highest)
        return true;
    sqlite::Statement sequence(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'sqlite_sequence'");
    sequence.step();
    if (sequence.columnInt64(0) == 0)
        return false;
    sqlite::Statement seq(db, "SELECT count(*) FROM sqlite_sequence WHERE name = 'Stock' AND seq = ?1");
    seq.bind(1, highest);
    seq.step();
    return seq.columnInt64(0) > 0;
}

enum class Schema { Empty, Ours, Foreign };

// What the file holds: nothing yet (a new or emptied file), our table, or only
// the objects of some other program.
Schema schemaOf(sqlite::Connection &db)
{
    sqlite::Statement select(db,
                             "SELECT count(*), count(*) FILTER (WHERE type = 'table' AND name = 'Stock'"
                             " COLLATE NOCASE) FROM sqlite_schema");
    select.step();
    if (select.columnInt64(1) > 0)
        return Schema::Ours;
    return select.columnInt64(0) == 0 ? Schema::Empty : Schema::Foreign;
}

// Whether a table's definition lets a UNIQUE constraint settle a conflict by
// REPLACE: a new record would then remove an earlier one that repeats its value,
// unseen by anything watching the records written. Read token by token, so
// that no name, text or comment is taken for the words.
bool uniqueReplacesOnConflict(std::string_view sql)
{
    const auto isWordCharacter = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || (c & 0x80);
    };
    std::array<std::string, 3> lastWords; // the latest three, upper-cased
    bool inUnique = false;                // since UNIQUE, within its constraint
    int depth = 0;
    for (std::size_t at = 0; at < sql.size();) {
        const char c = sql[at];
        if (sql.substr(at, 2) == "--") {
            at = std::min(sql.find('\n', at), sql.size());
        } else if (sql.substr(at, 2) == "/*") {
            at = std::min(sql.find("*/", at + 2), sql.size() - 2) + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            // A quoted text or name; inside, a doubled quote stands for itself.
            const char close = c == '[' ? ']' : c;
            for (++at; at < sql.size();) {
                if (sql[at++] != close)
                    continue;
                if (close == ']' || at == sql.size() || sql[at] != close)
                    break;
                ++at;
            }
        } else if (isWordCharacter(c)) {
            std::string word;
            for (; at < sql.size() && isWordCharacter(sql[at]); ++at)
                word += char(std::toupper(static_cast<unsigned char>(sql[at])));
            if (word == "UNIQUE")
                inUnique = true;
            else if (word == "PRIMARY" || word == "NOT" || word == "CHECK" || word == "DEFAULT" || word == "COLLATE"
                     || word == "REFERENCES" || word == "GENERATED")
                inUnique = false;
            lastWords = {lastWords[1], lastWords[2], std::move(word)};
            if (inUnique && lastWords == std::array<std::string, 3>{"ON", "CONFLICT", "REPLACE"})
                return true;
        } else {
            depth += (c == '(') - (c == ')');
            // A comma between columns or constraints starts the next one.
            if (c == ',' && depth == 1)
                inUnique = false;
            ++at;
        }
    }
    return false;
}

enum class Moment { Start, Later };

// Refuses, before anything is written, a table Stock whose shape would let an
// edit reach the wrong record, a count fail at the insert or remove an earlier
// one. Extra columns, indexes and triggers of the user's may stay. Later, a
// table of such a shape has taken the place of the one found at the start.
void requireOurColumns(sqlite::Connection &db, Moment moment)
{
    const auto refuse = [&](const std::string &problem) {
        throw StoreError(SQLITE_NOTADB,
                         moment == Moment::Start
                             ? db.path() + " is not a Quillmarch stock database: its table Stock " + problem
                                 + ". The file was left as it is."
                             : db.path() + " is no longer a Quillmarch stock database: its table Stock now " + problem
                                 + "; nothing was written to it.");
    };
    const auto named = [](std::string_view name, std::string_view wanted) {
        return name.size() == wanted.size() && sqlite3_strnicmp(name.data(), wanted.data(), int(wanted.size())) == 0;
    };

    bool idNumbersRecords = false;
    bool hasId = false;
    int keyColumns = 0;
    std::array<bool, 3> found{};
    static constexpr std::array<std::string_view, 3> texts{"Location", "StockCode", "Quantity"};
    sqlite::Statement columns(db,
                              "SELECT name, type, \"notnull\", dflt_value IS NOT NULL, pk, hidden"
                              " FROM pragma_table_xinfo('Stock')");
    while (columns.step()) {
        const std::string_view name = columns.columnText(0);
        const bool isKey = columns.columnInt64(4) > 0;
        keyColumns += isKey;
        // A generated column is never inserted into.
        if (columns.columnInt64(5) != 0)
            continue;
        if (named(name, "id")) {
            hasId = true;
            idNumbersRecords = isKey && named(columns.columnText(1), "INTEGER");
            continue;
        }
        const auto text = std::find_if(texts.begin(), texts.end(), [&](std::string_view t) { return named(name, t); });
        if (text != texts.end()) {
            found[std::size_t(text - texts.begin())] = true;
        } else if (columns.columnInt64(2) != 0 && columns.columnInt64(3) == 0) {
            refuse("has a column " + std::string(name)
                   + " that must be given a value (NOT NULL without a default),"
                     " which Quillmarch does not know");
        }
    }
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (!found[i])
            refuse("has no column " + std::string(texts[i]));
    if (!hasId)
        refuse("has no column id");

    // Only a lone INTEGER PRIMARY KEY of a rowid table is the record's own number;
    // any other key is kept in an index of its own.
    sqlite::Statement keyIndex(db, "SELECT count(*) FROM pragma_index_list('Stock') WHERE origin = 'pk'");
    keyIndex.step();
    if (!idNumbersRecords || keyColumns != 1 || keyIndex.columnInt64(0) != 0)
        refuse("has an id column that does not number the records (it must be the INTEGER PRIMARY KEY)");

    sqlite::Statement definition(db,
                                 "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = 'Stock'"
                                 " COLLATE NOCASE");
    if (definition.step() && uniqueReplacesOnConflict(definition.columnText(0)))
        refuse("has a UNIQUE constraint ON CONFLICT REPLACE, with which a new count would remove an earlier one"
               " that repeats its value");
}


// What the user can do about a folder that may not be written. On Windows it is most
// often the program's own under "Program Files", which only administrators may change.
#ifdef _WIN32
constexpr const char *makeFolderWritable = "Copy the Quillmarch folder to a folder you may write (your Documents,"
                                           " say) and start it from there, or install Quillmarch with its installer";
#else
constexpr const char *makeFolderWritable = "Make the folder writable and start again";
#endif

// Finds a file or folder that may not be written before the first count does.
void requireWritable(sqlite::Connection &db, const std::string &folder)
{
    if (sqlite3_db_readonly(db.handle(), "main") == 1)
        throw StoreError(SQLITE_READONLY,
                         db.path()
                             + " may not be written: it is read-only, or on a disk that is."
                               " Make the file writable and start again; it was left as it is.");
    // Each count writes its journal beside the file.
    if (!sqlite::folderWritable(folder))
        throw StoreError(SQLITE_READONLY,
                         "The folder " + folder + " of " + db.path()
                             + " may not be written, and Quillmarch writes beside the file while it"
                               " stores a count. "
                             + makeFolderWritable + "; the file was left as it is.");
}

// Makes the table in a file that holds nothing yet. The database of another
// program is refused and never written to, as is a file that may not be written.
void requireStockTable(sqlite::Connection &db, const std::string &folder)
{
    Schema schema = schemaOf(db);
    if (schema == Schema::Ours)
        requireOurColumns(db, Moment::Start);
    if (schema != Schema::Foreign)
        requireWritable(db, folder);
    if (schema == Schema::Empty) {
        // Look again under the write lock: another start may have made the table meanwhile.
        sqlite::Transaction transaction(db);
        schema = schemaOf(db);
        if (schema == Schema::Empty)
            db.execute(createTable);
        transaction.commit();
    }
    if (schema == Schema::Foreign)
        db.fail(SQLITE_NOTADB, "an SQLite database without the table Stock");
}

// An export reads the table as it is, and makes nothing.
void requireOurs(sqlite::Connection &db)
{
    if (schemaOf(db) != Schema::Ours)
        db.fail(SQLITE_NOTADB, "an SQLite database without the table Stock");
    requireOurColumns(db, Moment::Start);
}

// Each later operation finds the table as the start found it. One that is gone
// fails at the operation's own statement, in SQLite's words.
void requireStillOurs(sqlite::Connection &db)
{
    if (schemaOf(db) == Schema::Ours)
        requireOurColumns(db, Moment::Later);
}

// Every row takes a cell of at least 4 bytes and a 2-byte pointer to it in a page.
constexpr std::uint64_t smallestRowBytes = 6;

// Each figure is found through the id's index or the file's header, never by a walk.
StockListSize listSizeOf(sqlite::Connection &db)
{
    sqlite::Statement select(db,
                             "SELECT EXISTS (SELECT 1 FROM Stock), (SELECT min(id) FROM Stock),"
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

// Binds the record shown, its id then its texts, from the parameter first on.
void bindShown(sqlite::Statement &statement, const StockRecord &shown, int first)
{
    statement.bind(first, shown.id);
    statement.bind(first + 1, shown.location);
    statement.bind(first + 2, shown.stockCode);
    statement.bind(first + 3, shown.quantity);
}

// Why a write conditional on what the operator saw found nothing to write: the
// record changed meanwhile, or gone. Nothing when it is still as shown.
std::optional<RecordResult> changedMeanwhile(sqlite::Connection &db, const StockRecord &shown)
{
    std::optional<StockRecord> current = recordOf(db, shown.id);
    if (!current)
        return RecordResult{RecordResult::Gone, {}};
    if (*current != shown)
        return RecordResult{RecordResult::Changed, std::move(*current)};
    return std::nullopt;
}

} // namespace

std::string pathInFolder(const std::string &folder, std::string_view name)
{
    constexpr char separator = std::filesystem::path::preferred_separator;
    // Windows takes a slash for a separator too.
    if (!folder.empty() && (folder.back() == separator || folder.back() == '/'))
        return folder + std::string(name);
    return folder + separator + std::string(name);
}

std::string databasePath(const std::string &folder)
{
    return pathInFolder(folder, "stock.mdb");
}

StockStore::StockStore(std::string folder, Access access, int busyTimeoutMs)
    : m_folder(std::move(folder)), m_access(access), m_busyTimeoutMs(busyTimeoutMs)
{
}

sqlite::Connection StockStore::open(sqlite::Connection::Mode mode) const
{
    return sqlite::Connection(databasePath(m_folder), mode, m_busyTimeoutMs);
}

void StockStore::listAll(const std::function<void(const StockRecordView &)> &visit,
                         const std::function<void(const StockListSize &)> &expect)
{
    const std::string path = databasePath(m_folder);
    std::error_code missing;
    const bool absent = !std::filesystem::exists(pathFromUtf8(path), missing) && !missing;
    const bool making = absent && m_access == Access::Count;
    if (absent && m_access == Access::Read)
        throw StoreError(SQLITE_CANTOPEN, path + " is missing: no counts have been kept in this folder. Nothing was"
                                                 " written.");
    // Otherwise opening it would fail as if the file were missing.
    if (making && !sqlite::folderWritable(m_folder))
        throw StoreError(SQLITE_READONLY,
                         path + " cannot be made: its folder may not be written. " + makeFolderWritable + ".");
    const auto list = [&] {
        sqlite::Connection db = open(m_access == Access::Read ? sqlite::Connection::Mode::ReadOnly
                                                              : sqlite::Connection::Mode::ReadWriteCreate);
        // One pass reads each page once: a larger cache would only fill up for nothing.
        db.execute("PRAGMA cache_size = 16");
        if (m_access == Access::Read)
            requireOurs(db);
        else
            requireStockTable(db, m_folder);
        if (expect)
            expect(listSizeOf(db));
        sqlite::Statement select(db, "SELECT id, Location, StockCode, Quantity FROM Stock ORDER BY id");
        while (select.step())
            visit({select.columnInt64(0), select.columnText(1), select.columnText(2), select.columnText(3)});
    };
    try {
        list();
    } catch (const StoreError &) {
        // A file this start made and could not give its table (the disk is full)
        // is of no use to anyone; once closed, it goes.
        std::error_code ignored;
        if (making && std::filesystem::file_size(pathFromUtf8(path), ignored) == 0)
            std::filesystem::remove(pathFromUtf8(path), ignored);
        throw;
    }
}

RecordKey StockStore::append(std::string_view location, std::string_view stockCode, std::string_view quantity)
{
    sqlite::Connection db = open();
    // A count the table does not keep as given is not kept at all.
    sqlite::Transaction transaction(db);
    requireStillOurs(db);
    const sqlite::RowChanges changes(db, "Stock");
    sqlite::Statement insert(db, "INSERT INTO Stock (Location, Quantity, StockCode) VALUES (?1, ?2, ?3)");
    insert.bind(1, location);
    insert.bind(2, quantity);
    insert.bind(3, stockCode);
    try {
        insert.step();
    } catch (const StoreError &error) {
        if (error.code() == SQLITE_FULL && recordNumbersUsedUp(db))
            throw StoreError(SQLITE_FULL,
                             db.path()
                                 + " has no more record numbers: its table Stock has given out"
                                   " the highest id there is, and deleting records does not free"
                                   " one. Copy the records into a new stock.mdb to count on (see"
                                   " the README). The count was not stored.");
        throw;
    }
    // A trigger of the user's may swallow the insert.
    if (db.changes() != 1)
        failNotKept("count", "swallowed or dropped it", db.path());
    const std::int64_t id = db.lastInsertId();
    requireNoOtherRecordTouched(changes, id, "count", db.path());
    requireKeptAsGiven(db, id, {location, stockCode, quantity}, "count");
    transaction.commit();
    return {RecordKey::Place::Stored, id};
}

void StockStore::load(RecordKey key, Done done)
{
    sqlite::Connection db = open();
    requireStillOurs(db);
    std::optional<StockRecord> record = recordOf(db, key.number);
    if (!record)
        return done({RecordResult::Gone, {}});
    done({RecordResult::Done, std::move(*record)});
}

void StockStore::update(RecordKey, const StockRecord &shown, std::string_view location, std::string_view stockCode,
                        std::string_view quantity, Done done)
{
    sqlite::Connection db = open();
    sqlite::Transaction transaction(db);
    requireStillOurs(db);
    const sqlite::RowChanges changes(db, "Stock");
    // The texts compared as the list reads them, a NULL or a number of another tool's included.
    sqlite::Statement update(db,
                             "UPDATE Stock SET Location = ?1, StockCode = ?2, Quantity = ?3 WHERE id = ?4"
                             " AND CAST(ifnull(Location, '') AS TEXT) = ?5 AND CAST(ifnull(StockCode, '') AS TEXT) = ?6"
                             " AND CAST(ifnull(Quantity, '') AS TEXT) = ?7");
    update.bind(1, location);
    update.bind(2, stockCode);
    update.bind(3, quantity);
    bindShown(update, shown, 4);
    update.step();
    if (db.changes() == 0)
        if (std::optional<RecordResult> meanwhile = changedMeanwhile(db, shown))
            return done(*meanwhile);
    if (db.changes() != 1)
        failNotKept("change", "swallowed or dropped it", db.path());
    requireNoOtherRecordTouched(changes, shown.id, "change", db.path());
    requireKeptAsGiven(db, shown.id, {location, stockCode, quantity}, "change");
    transaction.commit();
    done({RecordResult::Done, {}});
}

void StockStore::remove(RecordKey, const StockRecord &shown, Done done)
{
    sqlite::Connection db = open();
    sqlite::Transaction transaction(db);
    requireStillOurs(db);
    const sqlite::RowChanges changes(db, "Stock");
    // Naming the columns finds a table that another program's has replaced.
    sqlite::Statement remove(db,
                             "DELETE FROM Stock WHERE id = ?1 AND CAST(ifnull(Location, '') AS TEXT) = ?2"
                             " AND CAST(ifnull(StockCode, '') AS TEXT) = ?3 AND CAST(ifnull(Quantity, '') AS TEXT) = ?4"
                             " RETURNING Location, StockCode, Quantity");
    bindShown(remove, shown, 1);
    bool deleted = false;
    while (remove.step())
        deleted = true;
    if (!deleted)
        if (std::optional<RecordResult> meanwhile = changedMeanwhile(db, shown))
            return done(*meanwhile);
    requireNoOtherRecordTouched(changes, shown.id, "deletion", db.path());
    if (exists(db, shown.id))
        failNotKept("deletion", "kept the record", db.path());
    transaction.commit();
    done({RecordResult::Done, {}});
}

std::string StockStore::place() const
{
    return databasePath(m_folder);
}

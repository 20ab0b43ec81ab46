#include "store/postgres_store.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace {

// Tells every listening station the id of each record stored, changed or deleted,
// whichever program changed it; the server sends it once the change is committed.
constexpr const char *changedBody = R"(
BEGIN
    IF TG_OP <> 'INSERT' THEN
        PERFORM pg_notify('Stock', OLD.id::text);
    END IF;
    IF TG_OP <> 'DELETE' THEN
        PERFORM pg_notify('Stock', NEW.id::text);
    END IF;
    RETURN NULL;
END
)";

// AFTER, FOR EACH ROW, on INSERT, DELETE and UPDATE, as the server numbers a trigger's kind.
constexpr int changedKind = 1 | 4 | 8 | 16;

constexpr const char *selectRecord =
    "SELECT id, \"Location\", \"StockCode\", \"Quantity\" FROM \"Stock\" WHERE id = $1";

StockRecord recordAt(const postgres::Result &result, int row)
{
    return {result.number(row, 0), std::string(result.text(row, 1)), std::string(result.text(row, 2)),
            std::string(result.text(row, 3))};
}

[[noreturn]] void failNotKept(const postgres::Connection &db, const std::string &what)
{
    db.fail(postgres::NotKept,
            db.name() + " did not keep the " + what
                + " as given: something in the database (a rule or a trigger) swallowed or changed it. The " + what
                + " was not stored.");
}

// Refuses, before anything is written, a table Stock that could number, store or
// change records otherwise than the stations expect.
void requireOurShape(postgres::Connection &db)
{
    const auto refuse = [&](const std::string &problem) {
        db.fail(postgres::NotOurs,
                db.name() + " is not a Quillmarch stock database: its table Stock " + problem
                    + ". Nothing was changed.");
    };
    const postgres::Result table =
        db.execute("SELECT c.relkind = 'r', c.relhasrules OR c.relrowsecurity,"
                   " (SELECT string_agg(t.tgname, ', ' ORDER BY t.tgname) FROM pg_trigger t"
                   "  WHERE t.tgrelid = c.oid AND NOT t.tgisinternal AND t.tgname <> 'Stock_changed'),"
                   " EXISTS (SELECT FROM pg_trigger t JOIN pg_proc p ON p.oid = t.tgfoid WHERE t.tgrelid = c.oid"
                   "  AND t.tgname = 'Stock_changed' AND t.tgenabled = 'O' AND t.tgtype = $1 AND p.prosrc = $2),"
                   " EXISTS (SELECT FROM pg_constraint k WHERE k.conrelid = c.oid AND k.confrelid = c.oid"
                   "  AND k.contype = 'f' AND (k.confdeltype NOT IN ('a', 'r') OR k.confupdtype NOT IN ('a', 'r')))"
                   " FROM pg_class c WHERE c.oid = to_regclass('\"Stock\"')",
                   {std::int64_t(changedKind), std::string_view(changedBody)});
    if (table.text(0, 0) != "t")
        refuse("is no plain table");
    const postgres::Result columns = db.execute(
        "SELECT a.attname, format_type(a.atttypid, NULL), a.attidentity <> ''"
        " AND EXISTS (SELECT FROM pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary"
        "  AND i.indnatts = 1 AND i.indkey[0] = a.attnum),"
        " a.attnotnull AND NOT a.atthasdef AND a.attidentity = '' AND a.attgenerated = ''"
        " FROM pg_attribute a WHERE a.attrelid = to_regclass('\"Stock\"') AND a.attnum > 0 AND NOT a.attisdropped");
    std::map<std::string_view, bool> found{
        {"id", false}, {"Location", false}, {"StockCode", false}, {"Quantity", false}};
    for (int row = 0; row < columns.rows(); ++row) {
        const std::string_view name = columns.text(row, 0);
        const std::string_view type = columns.text(row, 1);
        const auto known = found.find(name);
        if (known != found.end())
            known->second = true;
        if (name == "id") {
            if (columns.text(row, 2) != "t" || (type != "bigint" && type != "integer"))
                refuse("has an id column that the server does not number (it must be an identity column of"
                       " whole numbers and the primary key)");
        } else if (known != found.end()) {
            if (type != "text" && type != "character varying")
                refuse("keeps " + std::string(name) + " as " + std::string(type) + ", not as text");
        } else if (columns.text(row, 3) == "t") {
            refuse("has a column " + std::string(name)
                   + " that must be given a value (NOT NULL without a default), which Quillmarch does not know");
        }
    }
    for (const auto &[name, there] : found)
        if (!there)
            refuse("has no column " + std::string(name));
    if (table.text(0, 1) == "t")
        refuse("has rules or row security, which could divert or hide a count");
    if (!table.text(0, 2).empty())
        refuse("has triggers of its own (" + std::string(table.text(0, 2))
               + "), which could change or drop a count as it is stored");
    if (table.text(0, 3) != "t")
        refuse("lacks the trigger Stock_changed, as Quillmarch makes it, that tells the other stations of each"
               " change");
    if (table.text(0, 4) == "t")
        refuse("has a foreign key onto itself that changes other records when one is deleted");
}

// The lock that the stations making the table take, "Quillmar" in ASCII.
constexpr std::int64_t tableMakersLock = 0x5175696c6c6d6172;

// Makes the table where the database has none, or checks the one there.
void requireStockTable(postgres::Connection &db)
{
    constexpr const char *missing = "SELECT to_regclass('\"Stock\"') IS NULL";
    if (db.execute(missing).text(0, 0) == "t") {
        // Two stations that start at once make it once: the second waits here, then
        // finds it, looking in a transaction of its own that sees the other's commit.
        // A failure ends the session, and with it the lock.
        db.execute("SELECT pg_advisory_lock($1)", {tableMakersLock});
        if (db.execute(missing).text(0, 0) == "t") {
            postgres::Transaction transaction(db);
            db.execute("CREATE TABLE \"Stock\" (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
                       " \"Location\" text NOT NULL DEFAULT '', \"StockCode\" text NOT NULL DEFAULT '',"
                       " \"Quantity\" text NOT NULL DEFAULT '')");
            db.execute(("CREATE FUNCTION \"Stock_changed\"() RETURNS trigger LANGUAGE plpgsql AS $body$"
                        + std::string(changedBody) + "$body$")
                           .c_str());
            db.execute("CREATE TRIGGER \"Stock_changed\" AFTER INSERT OR UPDATE OR DELETE ON \"Stock\""
                       " FOR EACH ROW EXECUTE FUNCTION \"Stock_changed\"()");
            transaction.commit();
        }
        db.execute("SELECT pg_advisory_unlock($1)", {tableMakersLock});
    }
    requireOurShape(db);
}

// The ids of the records that other stations changed, as the server has told them so far, each once.
std::vector<std::int64_t> toldIds(postgres::Connection &db)
{
    std::vector<std::int64_t> ids;
    for (const std::string &payload : db.takeNotifications("Stock")) {
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(payload.data(), payload.data() + payload.size(), id);
        // Another program may say anything on the channel; only ids are the stations'.
        if (error == std::errc() && end == payload.data() + payload.size())
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// Every row on the server takes a tuple header, its id and three lengths, and a
// pointer to it: at least 40 bytes of the table's size.
constexpr std::int64_t smallestRowBytes = 40;

} // namespace

PostgresStore::PostgresStore(std::string url) : m_url(std::move(url))
{
}

PostgresStore::~PostgresStore() = default;

postgres::Connection &PostgresStore::connection() const
{
    if (!m_connection)
        m_connection = std::make_unique<postgres::Connection>(m_url);
    return *m_connection;
}

void PostgresStore::listAll(const std::function<void(const StockRecordView &)> &visit,
                            const std::function<void(const StockListSize &)> &expect) const
{
    postgres::Connection &db = connection();
    // Listening before the read: a change committed meanwhile is both read and told.
    db.execute("LISTEN \"Stock\"");
    requireStockTable(db);
    if (expect) {
        const postgres::Result size = db.execute(
            "SELECT least((SELECT max(id)::numeric - min(id) + 1 FROM \"Stock\"), pg_table_size('\"Stock\"') / $1),"
            " pg_table_size('\"Stock\"')",
            {smallestRowBytes});
        expect({static_cast<std::uint64_t>(size.number(0, 0)), static_cast<std::uint64_t>(size.number(0, 1))});
    }
    // Streamed in the server's binary form: nothing but the row at hand is held.
    db.copyOut("COPY (SELECT id::bigint, \"Location\", \"StockCode\", \"Quantity\" FROM \"Stock\" ORDER BY id)"
               " TO STDOUT (FORMAT binary)",
               [&](const std::vector<std::string_view> &fields) {
                   if (fields.size() != 4 || fields[0].size() != 8)
                       db.fail(postgres::Failed, db.name() + " sent a row Quillmarch cannot read.");
                   std::int64_t id = 0;
                   for (char byte : fields[0])
                       id = static_cast<std::int64_t>(static_cast<std::uint64_t>(id) << 8 | std::uint8_t(byte));
                   visit({id, fields[1], fields[2], fields[3]});
               });
}

std::int64_t PostgresStore::append(std::string_view location, std::string_view stockCode,
                                   std::string_view quantity) const
{
    postgres::Connection &db = connection();
    postgres::Transaction transaction(db);
    const postgres::Result stored = db.execute("INSERT INTO \"Stock\" (\"Location\", \"Quantity\", \"StockCode\")"
                                               " VALUES ($1, $2, $3) RETURNING id, \"Location\", \"StockCode\","
                                               " \"Quantity\"",
                                               {location, quantity, stockCode});
    if (stored.rows() != 1)
        failNotKept(db, "count");
    const StockRecord record = recordAt(stored, 0);
    if (record != StockRecord{record.id, std::string(location), std::string(stockCode), std::string(quantity)})
        failNotKept(db, "count");
    transaction.commit();
    return record.id;
}

std::optional<StockRecord> PostgresStore::loadById(std::int64_t id) const
{
    const postgres::Result found = connection().execute(selectRecord, {id});
    if (found.rows() == 0)
        return std::nullopt;
    return recordAt(found, 0);
}

UpdateResult PostgresStore::updateById(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                                       std::string_view quantity) const
{
    postgres::Connection &db = connection();
    postgres::Transaction transaction(db);
    const postgres::Result saved =
        db.execute("UPDATE \"Stock\" SET \"Location\" = $2, \"StockCode\" = $3, \"Quantity\" = $4 WHERE id = $1"
                   " AND coalesce(\"Location\", '') = $5 AND coalesce(\"StockCode\", '') = $6"
                   " AND coalesce(\"Quantity\", '') = $7 RETURNING id, \"Location\", \"StockCode\", \"Quantity\"",
                   {shown.id, location, stockCode, quantity, shown.location, shown.stockCode, shown.quantity});
    if (saved.rows() == 1) {
        if (recordAt(saved, 0)
            != StockRecord{shown.id, std::string(location), std::string(stockCode), std::string(quantity)})
            failNotKept(db, "change");
        transaction.commit();
        return {UpdateResult::Saved, {}};
    }
    std::optional<StockRecord> current = loadById(shown.id);
    if (!current)
        return {UpdateResult::Gone, {}};
    if (*current == shown)
        failNotKept(db, "change");
    return {UpdateResult::Changed, std::move(*current)};
}

void PostgresStore::deleteById(std::int64_t id) const
{
    postgres::Connection &db = connection();
    if (db.execute("DELETE FROM \"Stock\" WHERE id = $1 RETURNING id", {id}).rows() == 0 && loadById(id))
        failNotKept(db, "deletion");
}

int PostgresStore::changeSocket() const
{
    return m_connection ? m_connection->socket() : -1;
}

std::vector<StockChange> PostgresStore::takeChanges() const
{
    postgres::Connection &db = connection();
    std::vector<StockChange> changes;
    // What arrives while the records are read is read too: it would not make the socket readable again.
    for (std::vector<std::int64_t> ids = toldIds(db); !ids.empty(); ids = toldIds(db)) {
        std::string array = "{";
        for (std::int64_t id : ids)
            array += std::to_string(id) + ',';
        array.back() = '}';
        const postgres::Result found = db.execute("SELECT id, \"Location\", \"StockCode\", \"Quantity\" FROM"
                                                  " \"Stock\" WHERE id = ANY($1::bigint[]) ORDER BY id",
                                                  {std::string_view(array)});
        int row = 0;
        for (std::int64_t id : ids) {
            if (row < found.rows() && found.number(row, 0) == id)
                changes.push_back({id, recordAt(found, row++)});
            else
                changes.push_back({id, std::nullopt});
        }
    }
    return changes;
}

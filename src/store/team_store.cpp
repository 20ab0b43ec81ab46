#include "store/team_store.h"

#include "store/stock_store.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace {

using postgres::Clock;
using namespace std::chrono_literals;

// How long the station gives the server: to connect, to answer a statement of
// the start or of the background's, and to answer one the operator waits for.
constexpr auto connectLimit = 5s;
constexpr auto workLimit = 5s;
constexpr auto operatorLimit = 5s;
// Back out of reach, the station tries again soon, then less often.
constexpr auto firstRetry = 500ms;
constexpr auto lastRetry = 10s;
// Counts sent in one statement, and records read in one.
constexpr std::size_t uploadBatch = 1000;
constexpr std::size_t changesBatch = 5000;
// Told of more changed records than this, the station reads the table anew.
constexpr std::size_t relistAbove = 20000;

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
// The trigger's version, kept as its function's comment.
constexpr const char *changedVersion = "Quillmarch: tells the stations of each change of Stock (version 2)";
// AFTER, FOR EACH ROW, on INSERT, DELETE and UPDATE, as the server numbers a trigger's kind.
constexpr std::int64_t changedKind = 1 | 4 | 8 | 16;
// The lock that the stations making the table take, "Quillmar" in ASCII.
constexpr const char *makersLock = "SELECT pg_advisory_xact_lock(5869215386049179250)";

std::string changedFunction()
{
    return "CREATE OR REPLACE FUNCTION \"Stock_changed\"() RETURNS trigger LANGUAGE plpgsql AS $body$"
        + std::string(changedBody) + "$body$;\nCOMMENT ON FUNCTION \"Stock_changed\"() IS '" + changedVersion + "';\n";
}

// Every record as the list shows it, streamed in the server's binary form.
constexpr const char *copyAll = "COPY (SELECT id::bigint, coalesce(\"Location\", ''), coalesce(\"StockCode\", ''),"
                                " coalesce(\"Quantity\", '') FROM ONLY \"Stock\" ORDER BY id) TO STDOUT (FORMAT binary)";

constexpr const char *selectRecords = "SELECT id, coalesce(\"Location\", ''), coalesce(\"StockCode\", ''),"
                                      " coalesce(\"Quantity\", '') FROM ONLY \"Stock\"";

// A write whose record the server did not keep as given fails its own statement,
// and with it the whole of the write: a text that is no boolean is an error.
std::string keptAsGiven(const std::string &stored, const std::string &given)
{
    return "CASE WHEN (" + stored + ") IS DISTINCT FROM (" + given + ") THEN ('Quillmarch: record ' || id"
        + " || ' not kept as given')::boolean ELSE true END";
}

// The operator's Save and Delete, each one statement conditional on the texts
// shown: the record written, or else the record as it is now, or no row once it is gone.
const std::string updateRecord =
    "WITH saved AS (UPDATE ONLY \"Stock\" SET \"Location\" = $2, \"StockCode\" = $3, \"Quantity\" = $4"
    " WHERE id = $1 AND coalesce(\"Location\", '') = $5 AND coalesce(\"StockCode\", '') = $6"
    " AND coalesce(\"Quantity\", '') = $7 RETURNING id, \"Location\", \"StockCode\", \"Quantity\")"
    " SELECT true, id, \"Location\", \"StockCode\", \"Quantity\" FROM saved WHERE "
    + keptAsGiven("\"Location\", \"StockCode\", \"Quantity\"", "$2::text, $3::text, $4::text")
    + " UNION ALL SELECT false, id, coalesce(\"Location\", ''), coalesce(\"StockCode\", ''),"
      " coalesce(\"Quantity\", '') FROM ONLY \"Stock\" WHERE id = $1 AND NOT EXISTS (SELECT FROM saved)";
const std::string deleteRecord =
    "WITH gone AS (DELETE FROM ONLY \"Stock\" WHERE id = $1 AND coalesce(\"Location\", '') = $2"
    " AND coalesce(\"StockCode\", '') = $3 AND coalesce(\"Quantity\", '') = $4 RETURNING id)"
    " SELECT true, id, '', '', '' FROM gone UNION ALL SELECT false, id, coalesce(\"Location\", ''),"
    " coalesce(\"StockCode\", ''), coalesce(\"Quantity\", '') FROM ONLY \"Stock\" WHERE id = $1"
    " AND NOT EXISTS (SELECT FROM gone)";

// Waiting counts in one statement, in the order made; a count the server has
// already (sent before, its answer lost) is not stored again but answered as it
// is there. Each row: the count's place in the batch, its id, its texts.
const std::string uploadCounts =
    "WITH sent AS (SELECT * FROM unnest($1::text::uuid[], $2::text::text[], $3::text::text[], $4::text::text[])"
    " WITH ORDINALITY AS s(\"CountId\", \"Location\", \"StockCode\", \"Quantity\", n)),"
    " stored AS (INSERT INTO \"Stock\" (\"CountId\", \"Location\", \"StockCode\", \"Quantity\")"
    " SELECT \"CountId\", \"Location\", \"StockCode\", \"Quantity\" FROM sent ORDER BY n"
    " ON CONFLICT (\"CountId\") DO NOTHING RETURNING id, \"CountId\", \"Location\", \"StockCode\", \"Quantity\","
    " true AS fresh),"
    " found AS (SELECT * FROM stored UNION ALL SELECT id, \"CountId\", coalesce(\"Location\", ''),"
    " coalesce(\"StockCode\", ''), coalesce(\"Quantity\", ''), false FROM ONLY \"Stock\""
    " WHERE \"CountId\" IN (SELECT \"CountId\" FROM sent))"
    " SELECT sent.n, found.id, found.\"Location\", found.\"StockCode\", found.\"Quantity\" FROM sent"
    " JOIN found USING (\"CountId\") WHERE NOT found.fresh OR "
    + keptAsGiven("found.\"Location\", found.\"StockCode\", found.\"Quantity\"",
                  "sent.\"Location\", sent.\"StockCode\", sent.\"Quantity\"")
    + " ORDER BY sent.n";

// What the start reads of the database and its table Stock, in one statement:
// its encoding, the table's kind, rules, triggers, keys and family, and the rights
// of the role the station logs in as.
constexpr const char *tableFacts =
    "SELECT pg_encoding_to_char(d.encoding), c.oid IS NOT NULL, c.relkind = 'r', c.relhasrules OR c.relrowsecurity,"
    " (SELECT string_agg(t.tgname, ', ' ORDER BY t.tgname) FROM pg_trigger t"
    "  WHERE t.tgrelid = c.oid AND NOT t.tgisinternal AND t.tgname <> 'Stock_changed'),"
    " EXISTS (SELECT FROM pg_trigger t WHERE t.tgrelid = c.oid AND t.tgname = 'Stock_changed'"
    "  AND t.tgenabled = 'O' AND t.tgtype = $1 AND obj_description(t.tgfoid, 'pg_proc') = $2),"
    " EXISTS (SELECT FROM pg_trigger t JOIN pg_proc p ON p.oid = t.tgfoid WHERE t.tgrelid = c.oid"
    "  AND t.tgname = 'Stock_changed' AND t.tgenabled = 'O' AND t.tgtype = $1 AND p.prosrc = $3),"
    " EXISTS (SELECT FROM pg_constraint k WHERE k.conrelid = c.oid AND k.confrelid = c.oid"
    "  AND k.contype = 'f' AND (k.confdeltype NOT IN ('a', 'r') OR k.confupdtype NOT IN ('a', 'r'))),"
    " c.relispartition OR EXISTS (SELECT FROM pg_inherits i WHERE i.inhparent = c.oid OR i.inhrelid = c.oid),"
    " has_table_privilege(c.oid, 'SELECT'), has_table_privilege(c.oid, 'INSERT'),"
    " has_table_privilege(c.oid, 'UPDATE'), has_table_privilege(c.oid, 'DELETE'),"
    " pg_has_role(c.relowner, 'USAGE'), current_user"
    " FROM pg_database d LEFT JOIN pg_class c ON c.oid = to_regclass('\"Stock\"')"
    " WHERE d.datname = current_database()";
enum Fact {
    Encoding,
    TableThere,
    PlainTable,
    RulesOrSecurity,
    OwnTriggers,
    ChangedTrigger,
    EarlierTrigger,
    SelfCascade,
    Family,
    MaySelect,
    MayInsert,
    MayUpdate,
    MayDelete,
    MayAlter,
    Role,
};

constexpr const char *tableColumns =
    "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attidentity <> '' AND EXISTS (SELECT FROM pg_index i"
    "  WHERE i.indrelid = a.attrelid AND i.indisprimary AND i.indnatts = 1 AND i.indkey[0] = a.attnum),"
    " a.attnotnull AND NOT a.atthasdef AND a.attidentity = '' AND a.attgenerated = '',"
    " EXISTS (SELECT FROM pg_index i WHERE i.indrelid = a.attrelid AND i.indisunique AND i.indnatts = 1"
    "  AND i.indkey[0] = a.attnum AND i.indpred IS NULL AND i.indexprs IS NULL)"
    " FROM pg_attribute a WHERE a.attrelid = to_regclass('\"Stock\"') AND a.attnum > 0 AND NOT a.attisdropped";

enum class Shape { Missing, Ours, Earlier };

// How the table stands, or the reason it cannot be the stations' (error 26 or 23),
// nothing changed. An earlier version's table lacks the counts' identifiers;
// for reading, it serves as it is.
Shape shapeOf(const postgres::Result &facts, const postgres::Result &columns, const std::string &name, Access access)
{
    const auto refuse = [&](const std::string &problem) {
        throw StoreError(postgres::NotOurs,
                         name + " is not a Quillmarch stock database: its table Stock " + problem
                             + ". Nothing was changed.");
    };
    if (facts.text(0, Encoding) != "UTF8")
        throw StoreError(postgres::NotOurs,
                         name + " keeps its texts in the encoding " + std::string(facts.text(0, Encoding))
                             + ", not UTF-8, so a text another program stores there could be unreadable. Make a"
                               " database with ENCODING 'UTF8' (createdb --encoding=UTF8) and count into that one."
                               " Nothing was changed.");
    if (!facts.flag(0, TableThere))
        return Shape::Missing;
    if (!facts.flag(0, PlainTable))
        refuse("is no plain table");
    if (facts.flag(0, Family))
        refuse("has tables that inherit from it or is one of them, or is partitioned, so that one change could"
               " reach records the stations do not show");
    std::map<std::string_view, bool> found{
        {"id", false}, {"Location", false}, {"StockCode", false}, {"Quantity", false}, {"CountId", false}};
    for (int row = 0; row < columns.rows(); ++row) {
        const std::string_view column = columns.text(row, 0);
        const std::string_view type = columns.text(row, 1);
        const auto known = found.find(column);
        if (known != found.end())
            known->second = true;
        if (column == "id") {
            if (!columns.flag(row, 2) || (type != "bigint" && type != "integer"))
                refuse("has an id column that the server does not number (it must be an identity column of"
                       " whole numbers and the primary key)");
        } else if (column == "CountId") {
            if (type != "uuid" || !columns.flag(row, 4))
                refuse("keeps CountId otherwise than as a UUID of its own for each count (uuid UNIQUE)");
        } else if (known != found.end()) {
            if (type != "text" && type != "character varying")
                refuse("keeps " + std::string(column) + " as " + std::string(type) + ", not as text of any length");
        } else if (columns.flag(row, 3)) {
            refuse("has a column " + std::string(column)
                   + " that must be given a value (NOT NULL without a default), which Quillmarch does not know");
        }
    }
    for (const auto &[column, there] : found)
        if (!there && column != "CountId")
            refuse("has no column " + std::string(column));
    if (facts.flag(0, RulesOrSecurity))
        refuse("has rules or row security, which could divert or hide a count");
    if (!facts.text(0, OwnTriggers).empty())
        refuse("has triggers of its own (" + std::string(facts.text(0, OwnTriggers))
               + "), which could change or drop a count as it is stored");
    if (facts.flag(0, SelfCascade))
        refuse("has a foreign key onto itself that changes other records when one is deleted");
    const bool earlier = !found["CountId"] && facts.flag(0, EarlierTrigger);
    if (!earlier && !facts.flag(0, ChangedTrigger))
        refuse("lacks the trigger Stock_changed, as Quillmarch makes it, that tells the other stations of each"
               " change");
    if (!earlier && !found["CountId"])
        refuse("has no column CountId");
    const bool reads = facts.flag(0, MaySelect);
    const bool counts = reads && facts.flag(0, MayInsert) && facts.flag(0, MayUpdate) && facts.flag(0, MayDelete);
    if (!(access == Access::Read ? reads : counts))
        throw StoreError(postgres::NotAllowed,
                         name + " does not let the role " + std::string(facts.text(0, Role))
                             + (access == Access::Read ? " read the table Stock" : " count into the table Stock")
                             + ": its owner must grant it SELECT"
                             + (access == Access::Read ? "" : ", INSERT, UPDATE and DELETE")
                             + " on \"Stock\". Nothing was written.");
    return earlier ? Shape::Earlier : Shape::Ours;
}

// An array literal of texts, each quoted, for a statement's one value.
std::string arrayOf(const std::vector<std::string_view> &texts)
{
    std::string array = "{";
    for (std::string_view text : texts) {
        array += '"';
        for (char c : text) {
            if (c == '"' || c == '\\')
                array += '\\';
            array += c;
        }
        array += "\",";
    }
    if (array.size() > 1)
        array.pop_back();
    return array + '}';
}

StockRecord recordAt(const postgres::Result &result, int row, int first)
{
    return {result.number(row, first), std::string(result.text(row, first + 1)),
            std::string(result.text(row, first + 2)), std::string(result.text(row, first + 3))};
}

// A write the server did not keep as given: a rule or a trigger added since the start swallowed or changed it.
StoreError notKept(const std::string &name, const std::string &what)
{
    return StoreError(postgres::NotKept, name + " did not keep the " + what
                                             + " as given: something in the database (a rule or a trigger) swallowed"
                                               " or changed it. The "
                                             + what + " was not stored.");
}

// A record's id from the binary COPY's eight bytes.
std::int64_t idOf(std::string_view bytes)
{
    std::uint64_t id = 0;
    for (char byte : bytes)
        id = id << 8 | std::uint8_t(byte);
    return static_cast<std::int64_t>(id);
}

// Every row on the server takes a tuple header, its id and three lengths, and a
// pointer to it: at least 40 bytes of the table's size.
constexpr std::int64_t smallestRowBytes = 40;

} // namespace

TeamStore::TeamStore(std::string url, std::string folder, Access access)
    : m_url(std::move(url)), m_folder(std::move(folder)), m_access(access)
{
    postgres::refuseUnsafe(m_url);
}

TeamStore::~TeamStore() = default;

bool TeamStore::connectNow()
{
    m_session = std::make_unique<postgres::Session>(m_url, connectLimit);
    m_name = m_session->name();
    m_session->runUntil([&] { return m_session->state() == postgres::Session::State::Open; });
    if (m_session->state() == postgres::Session::State::Open)
        return true;
    if (m_session->refused())
        throw StoreError(postgres::NotAllowed, "Quillmarch could not log in to " + m_name + " ("
                                                   + m_session->lostBecause() + "). Nothing was written.");
    return false;
}

postgres::Result TeamStore::query(std::string sql, std::vector<postgres::Value> values)
{
    postgres::Reply reply;
    bool answered = false;
    m_session->send(std::move(sql), std::move(values), workLimit, [&](const postgres::Reply &answer) {
        reply = answer;
        answered = true;
    });
    m_session->runUntil([&] { return answered; });
    if (reply.lost || !answered)
        throw StoreError(postgres::Unreachable, "The connection to " + m_name + " was lost ("
                                                    + m_session->lostBecause() + "). Nothing was written.");
    return reply.rows();
}

void TeamStore::requireStockTable()
{
    const auto read = [&] {
        const postgres::Result facts =
            query(tableFacts, {changedKind, std::string_view(changedVersion), std::string_view(changedBody)});
        return shapeOf(facts, query(tableColumns), m_name, m_access);
    };
    Shape shape = read();
    if (m_access == Access::Read) {
        if (shape == Shape::Missing)
            throw StoreError(postgres::NotOurs, m_name + " holds no table Stock: no counts have been kept there."
                                                         " Nothing was written.");
        return;
    }
    if (shape == Shape::Missing) {
        // Two stations that start at once make it once: the second waits for the
        // first's lock, then finds the table there.
        query("BEGIN;\n" + std::string(makersLock)
              + ";\nDO $do$ BEGIN IF to_regclass('\"Stock\"') IS NULL THEN\n"
                "CREATE TABLE \"Stock\" (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
                " \"Location\" text NOT NULL DEFAULT '', \"StockCode\" text NOT NULL DEFAULT '',"
                " \"Quantity\" text NOT NULL DEFAULT '', \"CountId\" uuid UNIQUE);\n"
              + changedFunction()
              + "CREATE TRIGGER \"Stock_changed\" AFTER INSERT OR UPDATE OR DELETE ON \"Stock\""
                " FOR EACH ROW EXECUTE FUNCTION \"Stock_changed\"();\n"
                "END IF; END $do$;\nCOMMIT");
        shape = read();
    } else if (shape == Shape::Earlier) {
        const postgres::Result facts =
            query(tableFacts, {changedKind, std::string_view(changedVersion), std::string_view(changedBody)});
        if (!facts.flag(0, MayAlter))
            throw StoreError(postgres::NotOurs,
                             m_name + " holds a table Stock made by an earlier version of Quillmarch, which only"
                                      " its owner may bring up to date: ask the owner to start this version of"
                                      " Quillmarch once. Nothing was changed.");
        // In one transaction: the identifiers' column and the trigger's version.
        query("BEGIN;\n" + std::string(makersLock)
              + ";\nALTER TABLE ONLY \"Stock\" ADD COLUMN IF NOT EXISTS \"CountId\" uuid UNIQUE;\n" + changedFunction()
              + "COMMIT");
        shape = read();
    }
    if (shape != Shape::Ours)
        throw StoreError(postgres::NotOurs, m_name + " is not a Quillmarch stock database. Nothing was changed.");
}

void TeamStore::listAll(const std::function<void(const StockRecordView &)> &visit,
                        const std::function<void(const StockListSize &)> &expect)
{
    if (m_access == Access::Read) {
        // An export of the server's records alone would pass for all of them.
        if (const std::int64_t waiting = Journal::waitingIn(m_folder, m_url))
            throw StoreError(1, std::to_string(waiting) + (waiting == 1 ? " count" : " counts")
                                    + " of this station's journal (" + pathInFolder(m_folder, Journal::fileName)
                                    + (waiting == 1 ? ") has" : ") have")
                                    + " not reached the server yet, so the server's records are not all the"
                                      " counts. Start Quillmarch here while the server is in reach, until its"
                                      " status line says that every count is on the server, then export again."
                                      " Nothing was written.");
    } else if (!m_journal && Journal::existsIn(m_folder)) {
        m_journal = std::make_unique<Journal>(m_folder, m_url);
    }
    if (!connectNow()) {
        if (!m_journal)
            throw StoreError(postgres::Unreachable, "Quillmarch cannot reach " + m_name + " ("
                                                        + m_session->lostBecause() + "). Nothing was written.");
        // The station has counted into this server before: it counts on into its journal.
        m_status = {false, m_journal->size(), m_session->lostBecause()};
        m_session.reset();
        listWaiting(visit);
        connectLater();
        return;
    }
    // Listening before the read: a change committed meanwhile is both read and told.
    query(m_access == Access::Read ? "SET lock_timeout = 3000"
                                   : "SET lock_timeout = 3000; LISTEN \"Stock\"");
    requireStockTable();
    if (!m_journal && m_access == Access::Count)
        m_journal = std::make_unique<Journal>(m_folder, m_url);
    if (expect) {
        const postgres::Result size = query(
            "SELECT least((SELECT max(id)::numeric - min(id) + 1 FROM ONLY \"Stock\"), pg_table_size('\"Stock\"') / $1),"
            " pg_table_size('\"Stock\"')",
            {smallestRowBytes});
        expect({static_cast<std::uint64_t>(size.number(0, 0)) + (m_journal ? std::uint64_t(m_journal->size()) : 0),
                static_cast<std::uint64_t>(size.number(0, 1))});
    }
    postgres::Reply reply;
    bool copied = false;
    m_session->copyOut(
        copyAll, workLimit,
        [&](const std::vector<std::string_view> &fields) {
            if (fields.size() == 4 && fields[0].size() == 8)
                visit({idOf(fields[0]), fields[1], fields[2], fields[3]});
        },
        [&](const postgres::Reply &answer) {
            reply = answer;
            copied = true;
        });
    m_session->runUntil([&] { return copied; });
    if (!copied || reply.lost)
        throw StoreError(postgres::Unreachable, "The connection to " + m_name + " was lost while Quillmarch read"
                                                    " its records (" + m_session->lostBecause()
                                                    + "). Nothing was written.");
    reply.rows();
    if (m_journal)
        listWaiting(visit);
    m_ready = true;
    m_status = {true, m_journal ? m_journal->size() : 0, {}};
    m_retryDelay = firstRetry;
}

void TeamStore::listWaiting(const std::function<void(const StockRecordView &)> &visit) const
{
    for (const WaitingCount &count : m_journal->waiting(std::size_t(-1) >> 1))
        visit({count.key, count.texts.location, count.texts.stockCode, count.texts.quantity, true});
}

RecordKey TeamStore::append(std::string_view location, std::string_view stockCode, std::string_view quantity)
{
    const WaitingCount count = m_journal->add(location, stockCode, quantity);
    ++m_status.waiting;
    tellStatus();
    return {RecordKey::Place::Waiting, count.key};
}

void TeamStore::load(RecordKey key, Done done)
{
    if (key.place == RecordKey::Place::Waiting) {
        const std::optional<WaitingCount> count = m_journal->find(key.number);
        return done(count ? RecordResult{RecordResult::Done, count->texts} : RecordResult{RecordResult::Gone, {}});
    }
    if (!m_ready)
        return done({RecordResult::Unreachable, {}});
    m_session->send(std::string(selectRecords) + " WHERE id = $1", {key.number}, operatorLimit,
                    [done](const postgres::Reply &reply) {
                        if (reply.lost)
                            return done({RecordResult::Unreachable, {}});
                        const postgres::Result &found = reply.rows();
                        if (found.rows() == 0)
                            return done({RecordResult::Gone, {}});
                        done({RecordResult::Done, recordAt(found, 0, 0)});
                    });
}

void TeamStore::update(RecordKey key, const StockRecord &shown, std::string_view location, std::string_view stockCode,
                       std::string_view quantity, Done done)
{
    if (key.place == RecordKey::Place::Waiting) {
        done(m_journal->update(shown, location, stockCode, quantity));
        return tellStatus();
    }
    if (!m_ready)
        return done({RecordResult::Unreachable, {}});
    m_session->send(updateRecord,
                    {shown.id, location, stockCode, quantity, shown.location, shown.stockCode, shown.quantity},
                    operatorLimit,
                    [this, done, shown](const postgres::Reply &reply) { answerWrite(reply, shown, "change", done); });
}

void TeamStore::remove(RecordKey key, const StockRecord &shown, Done done)
{
    if (key.place == RecordKey::Place::Waiting) {
        const RecordResult result = m_journal->remove(shown);
        if (result.outcome == RecordResult::Done)
            --m_status.waiting;
        done(result);
        return tellStatus();
    }
    if (!m_ready)
        return done({RecordResult::Unreachable, {}});
    m_session->send(deleteRecord, {shown.id, shown.location, shown.stockCode, shown.quantity}, operatorLimit,
                    [this, done, shown](const postgres::Reply &reply) { answerWrite(reply, shown, "deletion", done); });
}

void TeamStore::answerWrite(const postgres::Reply &reply, const StockRecord &shown, const char *what,
                            const Done &done) const
{
    if (reply.lost)
        return done({reply.unanswered ? RecordResult::Unconfirmed : RecordResult::Unreachable, {}});
    const postgres::Result &rows = reply.rows();
    if (rows.rows() == 0)
        return done({RecordResult::Gone, {}});
    if (rows.flag(0, 0))
        return done({RecordResult::Done, {}});
    const StockRecord current = recordAt(rows, 0, 1);
    // Still as shown, yet not written: the server would not let it be.
    if (current == shown)
        throw notKept(m_name, what);
    done({RecordResult::Changed, current});
}

std::string TeamStore::place() const
{
    return m_name;
}

StoreWake TeamStore::wake() const
{
    if (!m_session) {
        StoreWake wake;
        if (m_access == Access::Count && m_journal)
            wake.at = m_retryAt;
        return wake;
    }
    const postgres::Wake session = m_session->wake();
    StoreWake wake{session.socket, session.write, session.at};
    // Work waits to be started.
    if (m_ready && !m_working && (m_status.waiting > 0 || m_relistDue || !m_toldIds.empty()))
        wake.at = std::max(Clock::now(), m_workAt);
    return wake;
}

void TeamStore::advance()
{
    if (!m_session) {
        if (!m_journal || Clock::now() < m_retryAt)
            return;
        m_session = std::make_unique<postgres::Session>(m_url, connectLimit);
        m_name = m_session->name();
        prepare();
    }
    m_session->advance();
    if (m_session->state() == postgres::Session::State::Lost)
        return lost();
    for (const std::string &payload : m_session->takeNotifications()) {
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(payload.data(), payload.data() + payload.size(), id);
        // Another program may say anything on the channel; only ids are the stations'.
        if (error == std::errc() && end == payload.data() + payload.size())
            m_toldIds.push_back(id);
    }
    startWork();
}

void TeamStore::connectLater()
{
    m_retryAt = Clock::now() + m_retryDelay;
    m_retryDelay = std::min<Clock::duration>(std::max<Clock::duration>(m_retryDelay * 2, firstRetry), lastRetry);
}

// A new connection is readied as the start readied the first, but without
// waiting: the table checked again (it may have been changed meanwhile), then
// the whole table read anew, as notifications sent while the station was away
// are lost.
void TeamStore::prepare()
{
    m_session->send("SET lock_timeout = 3000; LISTEN \"Stock\"", {}, workLimit, [](const postgres::Reply &) {});
    auto facts = std::make_shared<postgres::Result>();
    m_session->send(tableFacts, {changedKind, std::string_view(changedVersion), std::string_view(changedBody)},
                    workLimit, [facts](const postgres::Reply &reply) {
                        if (!reply.lost)
                            *facts = reply.rows();
                    });
    m_session->send(tableColumns, {}, workLimit, [this, facts](const postgres::Reply &reply) {
        if (reply.lost)
            return;
        if (shapeOf(*facts, reply.rows(), m_name, m_access) != Shape::Ours)
            throw StoreError(postgres::NotOurs, m_name + " no longer holds Quillmarch's table Stock as the station"
                                                         " found it at its start. Nothing was written.");
        m_ready = true;
        m_relistDue = true;
        m_retryDelay = firstRetry;
        m_status.reachable = true;
        m_status.reason.clear();
        tellStatus();
    });
}

void TeamStore::lost()
{
    const std::string why = m_session->lostBecause();
    m_session.reset();
    m_ready = false;
    m_working = false;
    connectLater();
    if (m_status.reachable || m_status.reason != why) {
        m_status.reachable = false;
        m_status.reason = why;
        tellStatus();
    }
}

void TeamStore::waitAWhile()
{
    m_workAt = Clock::now() + firstRetry;
}

void TeamStore::startWork()
{
    if (!m_ready || m_working || Clock::now() < m_workAt)
        return;
    // Counts first, but taking turns with the others' changes, so that a station
    // that never stops scanning still follows the others.
    const bool others = m_relistDue || !m_toldIds.empty();
    m_uploadedLast = m_status.waiting > 0 && (!others || !m_uploadedLast);
    if (m_uploadedLast)
        upload();
    else if (m_relistDue || m_toldIds.size() > relistAbove)
        relist();
    else if (!m_toldIds.empty())
        fetchChanges();
}

void TeamStore::upload()
{
    const std::vector<WaitingCount> counts = m_journal->waiting(uploadBatch);
    if (counts.empty()) {
        m_status.waiting = 0;
        return;
    }
    std::vector<std::int64_t> unsent;
    std::vector<std::string_view> ids, locations, codes, quantities;
    for (const WaitingCount &count : counts) {
        if (!count.sent)
            unsent.push_back(count.key);
        ids.push_back(count.countId);
        locations.push_back(count.texts.location);
        codes.push_back(count.texts.stockCode);
        quantities.push_back(count.texts.quantity);
    }
    // From here on the server may have them: they are no longer the station's to change.
    m_journal->markSent(unsent);
    m_working = true;
    m_session->send(uploadCounts, {arrayOf(ids), arrayOf(locations), arrayOf(codes), arrayOf(quantities)}, workLimit,
                    [this, counts](const postgres::Reply &reply) {
                        m_working = false;
                        if (reply.lost)
                            return; // sent again once back in reach
                        // The server's refusal, for the counts are the station's to keep until it takes them.
                        const auto stay = [](const StoreError &error) {
                            return StoreError(error.code(), std::string(error.what())
                                                                + " The counts stay in this station's journal, to"
                                                                  " be sent again once this is mended.");
                        };
                        // Another session holds what the counts need (one cut off mid-commit, say): later.
                        if (reply.error && reply.error->code() == postgres::Busy)
                            return waitAWhile();
                        if (reply.error)
                            throw stay(*reply.error);
                        const postgres::Result &rows = reply.result;
                        if (rows.rows() != int(counts.size()))
                            throw stay(notKept(m_name, "change"));
                        std::vector<std::int64_t> keys;
                        for (const WaitingCount &count : counts)
                            keys.push_back(count.key);
                        m_journal->forget(keys);
                        m_status.waiting = m_journal->size();
                        for (int row = 0; row < rows.rows(); ++row)
                            if (m_observer)
                                m_observer->countStored(counts[std::size_t(rows.number(row, 0) - 1)].key,
                                                        recordAt(rows, row, 1));
                        tellStatus();
                    });
}

void TeamStore::fetchChanges()
{
    std::sort(m_toldIds.begin(), m_toldIds.end());
    m_toldIds.erase(std::unique(m_toldIds.begin(), m_toldIds.end()), m_toldIds.end());
    const std::size_t count = std::min(m_toldIds.size(), changesBatch);
    std::vector<std::int64_t> ids(m_toldIds.begin(), m_toldIds.begin() + std::ptrdiff_t(count));
    m_toldIds.erase(m_toldIds.begin(), m_toldIds.begin() + std::ptrdiff_t(count));
    std::string array = "{";
    for (std::int64_t id : ids)
        array += std::to_string(id) + ',';
    array.back() = '}';
    m_working = true;
    m_session->send(std::string(selectRecords) + " WHERE id = ANY($1::text::bigint[]) ORDER BY id", {array},
                    workLimit, [this, ids](const postgres::Reply &reply) {
                        m_working = false;
                        if (reply.lost || (reply.error && reply.error->code() == postgres::Busy)) {
                            m_toldIds.insert(m_toldIds.end(), ids.begin(), ids.end());
                            if (!reply.lost)
                                waitAWhile();
                            return;
                        }
                        const postgres::Result &found = reply.rows();
                        std::vector<StockChange> changes;
                        int row = 0;
                        for (std::int64_t id : ids) {
                            if (row < found.rows() && found.number(row, 0) == id)
                                changes.push_back({id, recordAt(found, row++, 0)});
                            else
                                changes.push_back({id, std::nullopt});
                        }
                        if (m_observer)
                            m_observer->recordsChanged(changes);
                    });
}

void TeamStore::relist()
{
    m_relistDue = false;
    // The whole table tells of every change made before it is read; those made after are told.
    m_toldIds.clear();
    m_working = true;
    if (m_observer)
        m_observer->relistBegins();
    m_session->copyOut(
        copyAll, workLimit,
        [this](const std::vector<std::string_view> &fields) {
            if (m_observer && fields.size() == 4 && fields[0].size() == 8)
                m_observer->relisted({idOf(fields[0]), fields[1], fields[2], fields[3]});
        },
        [this](const postgres::Reply &reply) {
            m_working = false;
            if (reply.lost) {
                m_relistDue = true;
                if (m_observer)
                    m_observer->relistEnds(false);
                return;
            }
            reply.rows();
            if (m_observer)
                m_observer->relistEnds(true);
        });
}

void TeamStore::tellStatus()
{
    if (m_observer)
        m_observer->linkChanged(m_status);
}

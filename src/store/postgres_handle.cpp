#include "store/postgres_handle.h"

#include "store/store_error.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace postgres {

namespace {

// The client library, loaded by the first connection: a station that counts into
// its file neither loads it, with all it brings along, nor needs it installed.
// clang-format off
#define QUILLMARCH_LIBPQ_FUNCTIONS(use) \
    use(PQbackendPID) \
    use(PQclear) \
    use(PQconnectdbParams) \
    use(PQconninfoFree) \
    use(PQconninfoParse) \
    use(PQconsumeInput) \
    use(PQdb) \
    use(PQerrorMessage) \
    use(PQexec) \
    use(PQexecParams) \
    use(PQfinish) \
    use(PQfreemem) \
    use(PQgetCopyData) \
    use(PQgetResult) \
    use(PQgetlength) \
    use(PQgetvalue) \
    use(PQhost) \
    use(PQnotifies) \
    use(PQntuples) \
    use(PQport) \
    use(PQresultErrorField) \
    use(PQresultStatus) \
    use(PQsetNoticeProcessor) \
    use(PQsocket) \
    use(PQstatus)
// clang-format on

struct ClientLibrary {
#define QUILLMARCH_DECLARE(name) decltype(&::name) name = nullptr;
    QUILLMARCH_LIBPQ_FUNCTIONS(QUILLMARCH_DECLARE)
#undef QUILLMARCH_DECLARE
};

#ifdef _WIN32
constexpr const char *clientLibraryName = "libpq.dll";
#elif defined(__APPLE__)
constexpr const char *clientLibraryName = "libpq.5.dylib";
#else
constexpr const char *clientLibraryName = "libpq.so.5";
#endif

const ClientLibrary &libpq()
{
    // Loaded once, for the rest of the run; a failed load is tried again at the next connection.
    static const ClientLibrary library = [] {
#ifdef _WIN32
        const HMODULE handle = LoadLibraryA(clientLibraryName);
        const auto symbol = [&](const char *name) { return reinterpret_cast<void *>(GetProcAddress(handle, name)); };
#else
        void *const handle = dlopen(clientLibraryName, RTLD_NOW | RTLD_LOCAL);
        const auto symbol = [&](const char *name) { return dlsym(handle, name); };
#endif
        ClientLibrary loaded;
        bool complete = handle != nullptr;
#define QUILLMARCH_RESOLVE(name)                                                                                       \
    complete = complete && (loaded.name = reinterpret_cast<decltype(&::name)>(symbol(#name))) != nullptr;
        QUILLMARCH_LIBPQ_FUNCTIONS(QUILLMARCH_RESOLVE)
#undef QUILLMARCH_RESOLVE
        if (!complete)
            throw StoreError(Unreachable,
                             std::string("Quillmarch cannot count into a PostgreSQL database on this machine: its"
                                         " client library ")
                                 + clientLibraryName
                                 + " is missing or too old (on Debian, install libpq5). Nothing was written.");
        return loaded;
    }();
    return library;
}

// Type numbers of the server's own catalogue, fixed since its first release.
constexpr Oid int8Type = 20;
constexpr Oid textType = 25;

// libpq's messages run over several lines; the user's error line is one.
std::string oneLine(const char *text)
{
    std::string line;
    for (const char *c = text ? text : ""; *c; ++c) {
        if (*c != '\n' && *c != '\t' && *c != '\r')
            line += *c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    return line;
}

// A password in the URI would show in every process list and in a shared file:
// libpq takes it from the password file instead, or logs in without one.
void refuseUnsafe(const std::string &uri)
{
    const auto refuse = [](const std::string &why) {
        throw StoreError(NotAllowed, "The stock database's address " + why + " Nothing was written.");
    };
    const std::string notAUrl = "is not a PostgreSQL URL of the form postgresql://user@host:port/database.";
    if (!uri.starts_with("postgresql://") && !uri.starts_with("postgres://"))
        refuse(notAUrl);
    // The user part ends at the first '@' before the path; user:password@ holds a password.
    const std::size_t authority = uri.find("://") + 3;
    const std::size_t at = uri.find('@', authority);
    bool password = at != std::string::npos && at < uri.find_first_of("/?", authority) && uri.find(':', authority) < at;
    if (!password) {
        char *error = nullptr;
        PQconninfoOption *options = libpq().PQconninfoParse(uri.c_str(), &error);
        // libpq's own words could quote the address, password and all.
        libpq().PQfreemem(error);
        if (!options)
            refuse(notAUrl);
        for (const PQconninfoOption *option = options; option->keyword; ++option)
            password = password || (std::strcmp(option->keyword, "password") == 0 && option->val);
        libpq().PQconninfoFree(options);
    }
    if (password)
        refuse("holds a password, which would show to anyone who lists the running programs or reads the"
               " setting. Put the password in the password file (~/.pgpass, or the file PGPASSFILE names) or"
               " log in without one, and name only the user in the address.");
}

std::string nameOf(const pg_conn *connection)
{
    const auto value = [](const char *text) { return std::string(text ? text : ""); };
    return "the stock database \"" + value(libpq().PQdb(connection)) + "\" on " + value(libpq().PQhost(connection))
        + ", port " + value(libpq().PQport(connection));
}

// Reads the big-endian numbers of the server's binary rows, never past their end.
class RowReader {
public:
    explicit RowReader(std::string_view bytes) : m_bytes(bytes) {}

    bool take(std::size_t count, std::string_view &taken)
    {
        if (m_bytes.size() < count)
            return false;
        taken = m_bytes.substr(0, count);
        m_bytes.remove_prefix(count);
        return true;
    }
    bool number(std::size_t size, std::int64_t &value)
    {
        std::string_view bytes;
        if (!take(size, bytes))
            return false;
        std::uint64_t bits = 0;
        for (char byte : bytes)
            bits = bits << 8 | static_cast<unsigned char>(byte);
        // Sign-extended from its width.
        const int unused = 64 - int(size) * 8;
        value = static_cast<std::int64_t>(bits << unused) >> unused;
        return true;
    }

private:
    std::string_view m_bytes;
};

} // namespace

Value::Value(std::int64_t number) : m_type(int8Type)
{
    auto bits = static_cast<std::uint64_t>(number);
    for (int i = 7; i >= 0; --i, bits >>= 8)
        m_number[std::size_t(i)] = static_cast<char>(bits & 0xff);
    m_bytes = {m_number.data(), m_number.size()};
}

// An empty text is still a text, never NULL: data() of an empty view may be null.
Value::Value(std::string_view text) : m_type(textType), m_bytes(text.empty() ? std::string_view("") : text)
{
}

void Result::Clear::operator()(pg_result *result) const
{
    libpq().PQclear(result);
}

int Result::rows() const
{
    return libpq().PQntuples(m_result.get());
}

std::string_view Result::text(int row, int column) const
{
    return {libpq().PQgetvalue(m_result.get(), row, column),
            static_cast<std::size_t>(libpq().PQgetlength(m_result.get(), row, column))};
}

std::int64_t Result::number(int row, int column) const
{
    const std::string_view digits = text(row, column);
    std::int64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

void Connection::Finish::operator()(pg_conn *connection) const
{
    libpq().PQfinish(connection);
}

Connection::Connection(const std::string &uri)
{
    refuseUnsafe(uri);
    // Defaults the address may override, then what the program relies on. Across a
    // network a server that vanishes without a word is noticed within half a minute.
    const char *const keywords[] = {"connect_timeout",  "keepalives_idle",  "keepalives_interval",
                                    "keepalives_count", "tcp_user_timeout", "application_name",
                                    "dbname",           "client_encoding",  nullptr};
    const char *const values[] = {"10", "10", "5", "3", "10000", "Quillmarch", uri.c_str(), "UTF8", nullptr};
    m_connection.reset(libpq().PQconnectdbParams(keywords, values, 1));
    if (!m_connection)
        throw StoreError(Unreachable, "Quillmarch ran out of memory while connecting to the stock database.");
    m_name = nameOf(m_connection.get());
    if (libpq().PQstatus(m_connection.get()) != CONNECTION_OK)
        throw StoreError(Unreachable,
                         "Quillmarch cannot reach " + m_name + " ("
                             + oneLine(libpq().PQerrorMessage(m_connection.get())) + "). Nothing was written.");
    // The server's notices are for its log, not the program's standard error.
    libpq().PQsetNoticeProcessor(
        m_connection.get(), [](void *, const char *) {}, nullptr);
    // A record another session holds in an open transaction is waited for as long as a locked file.
    execute("SET lock_timeout = 3000");
}

Result Connection::execute(const char *sql, std::initializer_list<Value> values)
{
    std::vector<Oid> types;
    std::vector<const char *> data;
    std::vector<int> lengths;
    for (const Value &value : values) {
        types.push_back(value.m_type);
        data.push_back(value.m_bytes.data());
        lengths.push_back(static_cast<int>(value.m_bytes.size()));
    }
    // Every value is sent in binary, its length given: a text is taken whole, whatever bytes it holds.
    const std::vector<int> formats(values.size(), 1);
    Result result(libpq().PQexecParams(m_connection.get(), sql, int(values.size()), types.data(), data.data(),
                                       lengths.data(), formats.data(), 0));
    const ExecStatusType status = libpq().PQresultStatus(result.m_result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result.m_result.get());
    return result;
}

void Connection::copyOut(const char *sql, const std::function<void(const std::vector<std::string_view> &)> &row)
{
    pg_conn *connection = m_connection.get();
    {
        const Result started(libpq().PQexec(connection, sql));
        if (libpq().PQresultStatus(started.m_result.get()) != PGRES_COPY_OUT)
            fail(started.m_result.get());
    }
    const auto malformed = [&] { fail(Failed, m_name + " sent a row Quillmarch cannot read. Nothing was written."); };
    std::vector<std::string_view> fields;
    bool first = true;
    for (;;) {
        char *buffer = nullptr;
        const int bytes = libpq().PQgetCopyData(connection, &buffer, 0);
        if (bytes < 0)
            break;
        const std::unique_ptr<char, void (*)(void *)> owned(buffer, libpq().PQfreemem);
        RowReader reader({buffer, std::size_t(bytes)});
        std::string_view skipped;
        std::int64_t count = 0;
        // The first message opens with the format's signature, its flags and an extension of given length.
        if (first
            && (!reader.take(11, skipped) || skipped != std::string_view("PGCOPY\n\377\r\n\0", 11)
                || !reader.number(4, count) || !reader.number(4, count) || count < 0
                || !reader.take(std::size_t(count), skipped)))
            malformed();
        first = false;
        if (!reader.number(2, count))
            malformed();
        if (count < 0)
            continue; // the end
        fields.clear();
        for (std::int64_t field = 0; field < count; ++field) {
            std::int64_t length = 0;
            std::string_view value;
            if (!reader.number(4, length) || (length >= 0 && !reader.take(std::size_t(length), value)))
                malformed();
            fields.push_back(value);
        }
        row(fields);
    }
    for (pg_result *end; (end = libpq().PQgetResult(connection));) {
        const Result finished(end);
        if (libpq().PQresultStatus(end) != PGRES_COMMAND_OK)
            fail(end);
    }
}

std::vector<std::string> Connection::takeNotifications(std::string_view channel)
{
    if (!libpq().PQconsumeInput(m_connection.get()))
        fail(nullptr);
    std::vector<std::string> payloads;
    const int self = libpq().PQbackendPID(m_connection.get());
    while (PGnotify *notification = libpq().PQnotifies(m_connection.get())) {
        const std::unique_ptr<PGnotify, void (*)(void *)> owned(notification, libpq().PQfreemem);
        if (notification->be_pid != self && channel == notification->relname)
            payloads.emplace_back(notification->extra);
    }
    return payloads;
}

int Connection::socket() const
{
    return libpq().PQsocket(m_connection.get());
}

void Connection::fail(const pg_result *result) const
{
    const char *state = result ? libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string_view code = state ? state : "";
    if (libpq().PQstatus(m_connection.get()) == CONNECTION_BAD || code.starts_with("08") || code.starts_with("57P"))
        fail(Unreachable,
             "The connection to " + m_name + " was lost (" + oneLine(libpq().PQerrorMessage(m_connection.get()))
                 + "). A change being made was not confirmed and is not shown as stored; every count the list"
                   " showed as stored is kept on the server.");
    const char *primary = result ? libpq().PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string words = oneLine(primary ? primary : libpq().PQerrorMessage(m_connection.get()));
    // A rule that diverts a write is refused by the server itself: RETURNING cannot follow it.
    if (code.starts_with("23") || code == "0A000")
        fail(NotKept, m_name + " refused the change (" + words + "). The change was not stored.");
    if (code == "42501")
        fail(NotAllowed,
             m_name + " does not allow it (" + words
                 + "): the role Quillmarch logs in as lacks a right it needs. Nothing was written.");
    if (code.starts_with("53"))
        fail(Full, m_name + " has no room for the change (" + words + "). The change was not stored.");
    if (code == "55P03" || code == "40P01" || code == "40001" || code == "57014")
        fail(Busy, m_name + " is busy: another session holds the record (" + words + "). Nothing was written.");
    if (code == "42P01" || code == "42703")
        fail(Failed, m_name + " no longer holds Quillmarch's table Stock (" + words + "). Nothing was written.");
    fail(Failed, words + " (" + m_name + ")");
}

void Connection::fail(int number, const std::string &text) const
{
    throw StoreError(number, text);
}

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    m_connection.execute("BEGIN");
}

Transaction::~Transaction()
{
    if (m_committed)
        return;
    try {
        m_connection.execute("ROLLBACK");
    } catch (const StoreError &) {
        // The connection is gone, and with it the transaction.
    }
}

void Transaction::commit()
{
    m_connection.execute("COMMIT");
    m_committed = true;
}

} // namespace postgres

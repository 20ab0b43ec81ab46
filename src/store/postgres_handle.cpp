#include "store/postgres_handle.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace postgres {

namespace {

// The client library, loaded by the first connection: a station that counts into
// its file neither loads it, with all it brings along, nor needs it installed.
// clang-format off
#define QUILLMARCH_LIBPQ_FUNCTIONS(use) \
    use(PQbackendPID) \
    use(PQclear) \
    use(PQconnectPoll) \
    use(PQconnectStartParams) \
    use(PQconnectionNeedsPassword) \
    use(PQconninfoFree) \
    use(PQconninfoParse) \
    use(PQconsumeInput) \
    use(PQdb) \
    use(PQerrorMessage) \
    use(PQfinish) \
    use(PQflush) \
    use(PQfreemem) \
    use(PQgetCopyData) \
    use(PQgetResult) \
    use(PQgetlength) \
    use(PQgetvalue) \
    use(PQhost) \
    use(PQisBusy) \
    use(PQnotifies) \
    use(PQntuples) \
    use(PQport) \
    use(PQresultErrorField) \
    use(PQresultStatus) \
    use(PQsendQuery) \
    use(PQsendQueryParams) \
    use(PQsetNoticeProcessor) \
    use(PQsetnonblocking) \
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

// Answers are read for at most this long at a time, so that a long list arriving
// never holds up the window; the rest is read at the next turn.
constexpr auto readingSlice = std::chrono::milliseconds(20);

std::string secondsOf(Clock::duration limit)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) + " seconds";
}

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

// The options of a URI as libpq reads them, or nothing for one it cannot read.
// libpq's own words on a URI it cannot read are not kept: they could quote it,
// password and all.
std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption *)> optionsOf(const std::string &uri)
{
    char *error = nullptr;
    PQconninfoOption *options = libpq().PQconninfoParse(uri.c_str(), &error);
    libpq().PQfreemem(error);
    return {options, [](PQconninfoOption *parsed) {
                if (parsed)
                    libpq().PQconninfoFree(parsed);
            }};
}

std::string optionOf(const PQconninfoOption *options, const char *keyword)
{
    for (const PQconninfoOption *option = options; option && option->keyword; ++option)
        if (std::strcmp(option->keyword, keyword) == 0 && option->val)
            return option->val;
    return {};
}

// Whether the server (or the certificate it showed) turned the station away, as
// against a connection that never got an answer. Read from libpq's words: the
// server's refusals come as its FATAL errors, the certificate's from TLS.
bool turnedAway(pg_conn *connection, const std::string &words)
{
    if (libpq().PQconnectionNeedsPassword(connection))
        return true;
    // A server starting, stopping or full answers, but only for now.
    for (const char *passing : {"starting up", "shutting down", "recovery mode", "too many"})
        if (words.find(passing) != std::string::npos)
            return false;
    for (const char *refusal : {"FATAL", "authentication", "password", "certificate", "SSL error"})
        if (words.find(refusal) != std::string::npos)
            return true;
    return false;
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

bool isNumericAddress(const std::string &host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string numericAddress(const addrinfo &found)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void *address = found.ai_family == AF_INET6
        ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 *>(found.ai_addr)->sin6_addr)
        : static_cast<const void *>(&reinterpret_cast<const sockaddr_in *>(found.ai_addr)->sin_addr);
    return inet_ntop(found.ai_family, address, text, sizeof text) ? text : "";
}

// Whether a socket can be read (or written) now, without waiting.
bool socketReady(int socket, bool write)
{
#ifdef _WIN32
    WSAPOLLFD watched{static_cast<SOCKET>(socket), short(write ? POLLWRNORM : POLLRDNORM), 0};
    return WSAPoll(&watched, 1, 0) > 0;
#else
    pollfd watched{socket, short(write ? POLLOUT : POLLIN), 0};
    return poll(&watched, 1, 0) > 0;
#endif
}

} // namespace

// The host names of a URI looked up on a thread of its own: the system's lookup
// may wait on a name server for half a minute and cannot be interrupted. A lookup
// outlived by its session finishes unheeded.
struct Session::Lookup {
    std::mutex mutex;
    bool done = false;
    std::string addresses; // libpq's hostaddr: one per host, empty for a socket folder
    std::string failure;
};

struct Session::Statement {
    std::string sql;
    std::vector<Value> values;
    bool plain = false; // no values: sent as it is, several statements allowed
    bool copy = false;
    Clock::duration limit{};
    std::function<void(const std::vector<std::string_view> &)> row;
    std::function<void(const Reply &)> done;

    bool sent = false;
    bool copying = false;
    bool signatureRead = false;
    Clock::time_point deadline;
    Reply reply;
};

Value::Value(std::int64_t number) : m_type(int8Type), m_bytes(8, '\0')
{
    auto bits = static_cast<std::uint64_t>(number);
    for (int i = 7; i >= 0; --i, bits >>= 8)
        m_bytes[std::size_t(i)] = static_cast<char>(bits & 0xff);
}

Value::Value(std::string_view text) : m_type(textType), m_bytes(text)
{
}

void Result::Clear::operator()(pg_result *result) const
{
    libpq().PQclear(result);
}

Result::Result(pg_result *result) : m_result(result, Clear())
{
}

int Result::rows() const
{
    return m_result ? libpq().PQntuples(m_result.get()) : 0;
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

const Result &Reply::rows() const
{
    if (error)
        throw *error;
    return result;
}

void Session::Finish::operator()(pg_conn *connection) const
{
    libpq().PQfinish(connection);
}

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
        const auto options = optionsOf(uri);
        if (!options)
            refuse(notAUrl);
        // The key of a client certificate is as secret as a password.
        password = !optionOf(options.get(), "password").empty() || !optionOf(options.get(), "sslpassword").empty();
    }
    if (password)
        refuse("holds a password, which would show to anyone who lists the running programs or reads the"
               " setting. Put the password in the password file (~/.pgpass, or the file PGPASSFILE names) or"
               " log in without one, and name only the user in the address.");
}

Session::Session(const std::string &uri, Clock::duration connectLimit)
    : m_uri(uri), m_connectLimit(connectLimit), m_connectDeadline(Clock::now() + connectLimit)
{
    refuseUnsafe(uri);
    const auto options = optionsOf(uri);
    const std::string host = optionOf(options.get(), "host");
    m_name = "the stock database \"" + optionOf(options.get(), "dbname") + "\" on "
        + (host.empty() ? std::string("this machine") : host)
        + (optionOf(options.get(), "port").empty() ? "" : ", port " + optionOf(options.get(), "port"));

    // Only names need the lookup: numeric addresses and socket folders are used as they are.
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= host.size();) {
        const std::size_t end = std::min(host.find(',', start), host.size());
        names.push_back(host.substr(start, end - start));
        start = end + 1;
    }
    bool lookUp = false;
    for (const std::string &name : names)
        lookUp = lookUp || (!name.empty() && name.front() != '/' && !isNumericAddress(name));
    if (!lookUp || !optionOf(options.get(), "hostaddr").empty()) {
        startConnecting();
        return;
    }
    m_lookup = std::make_shared<Lookup>();
    std::thread([lookup = m_lookup, names] {
#ifdef _WIN32
        WSADATA winsock;
        WSAStartup(MAKEWORD(2, 2), &winsock);
#endif
        std::string addresses;
        std::string failure;
        for (const std::string &name : names) {
            if (&name != &names.front())
                addresses += ',';
            if (name.empty() || name.front() == '/' || isNumericAddress(name)) {
                addresses += name.empty() || name.front() == '/' ? "" : name;
                continue;
            }
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo *found = nullptr;
            const int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
            if (error != 0 || !found) {
                failure = "could not find the server's address " + name + " (" + gai_strerror(error) + ")";
                break;
            }
            addresses += numericAddress(*found);
            freeaddrinfo(found);
        }
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->addresses = std::move(addresses);
        lookup->failure = std::move(failure);
        lookup->done = true;
    }).detach();
}

Session::~Session()
{
    // What is queued or under way goes unanswered: its owner is gone too.
    m_current.reset();
    m_queue.clear();
}

void Session::startConnecting()
{
    std::string addresses;
    if (m_lookup) {
        const std::lock_guard<std::mutex> lock(m_lookup->mutex);
        addresses = m_lookup->addresses;
    }
    m_lookup.reset();
    // Defaults the address may override, then what the program relies on. Across a
    // network, a server that vanishes without a word is noticed within half a minute.
    const char *const keywords[] = {"keepalives_idle", "keepalives_interval", "keepalives_count",
                                    "tcp_user_timeout", "application_name",   "dbname",
                                    "client_encoding",  "hostaddr",           nullptr};
    const char *const values[] = {"10",         "5",    "3",
                                  "10000",      "Quillmarch", m_uri.c_str(),
                                  "UTF8",       addresses.empty() ? nullptr : addresses.c_str(), nullptr};
    m_connection.reset(libpq().PQconnectStartParams(keywords, values, 1));
    if (!m_connection || libpq().PQstatus(m_connection.get()) == CONNECTION_BAD)
        lose(m_connection ? oneLine(libpq().PQerrorMessage(m_connection.get())) : "out of memory");
    m_pollWrites = true;
}

void Session::pollConnection()
{
    pg_conn *connection = m_connection.get();
    switch (libpq().PQconnectPoll(connection)) {
    case PGRES_POLLING_READING:
        m_pollWrites = false;
        return;
    case PGRES_POLLING_WRITING:
        m_pollWrites = true;
        return;
    case PGRES_POLLING_OK:
        break;
    default: {
        const std::string words = oneLine(libpq().PQerrorMessage(connection));
        lose(words, turnedAway(connection, words));
        return;
    }
    }
    // The server's notices are for its log, not the program's standard error.
    libpq().PQsetNoticeProcessor(
        connection, [](void *, const char *) {}, nullptr);
    if (libpq().PQsetnonblocking(connection, 1) != 0) {
        lose(oneLine(libpq().PQerrorMessage(connection)));
        return;
    }
    m_state = State::Open;
}

Wake Session::wake() const
{
    Wake wake;
    switch (m_state) {
    case State::Lost:
        return wake;
    case State::Connecting:
        wake.at = m_connectDeadline;
        if (m_lookup) {
            // The lookup's thread has no socket to wake the owner by: it is asked after.
            wake.at = std::min(m_connectDeadline, Clock::now() + std::chrono::milliseconds(20));
            return wake;
        }
        wake.socket = libpq().PQsocket(m_connection.get());
        wake.write = m_pollWrites;
        return wake;
    case State::Open:
        wake.socket = libpq().PQsocket(m_connection.get());
        if (m_current) {
            wake.write = m_current->sent && libpq().PQflush(m_connection.get()) == 1;
            wake.at = m_current->deadline;
        }
        if (m_moreToRead || (!m_current && !m_queue.empty()))
            wake.at = Clock::now();
        return wake;
    }
    return wake;
}

void Session::advance()
{
    if (m_state == State::Connecting) {
        if (Clock::now() >= m_connectDeadline) {
            lose("no answer within " + secondsOf(m_connectLimit));
            return;
        }
        if (m_lookup) {
            std::string failure;
            {
                const std::lock_guard<std::mutex> lock(m_lookup->mutex);
                if (!m_lookup->done)
                    return;
                failure = m_lookup->failure;
            }
            if (!failure.empty()) {
                lose(failure);
                return;
            }
            // Polled once the new socket is ready, as libpq asks.
            startConnecting();
            return;
        }
        if (socketReady(libpq().PQsocket(m_connection.get()), m_pollWrites))
            pollConnection();
        if (m_state != State::Open)
            return;
    }
    if (m_state != State::Open)
        return;
    pg_conn *connection = m_connection.get();
    if (!libpq().PQconsumeInput(connection)) {
        lose(oneLine(libpq().PQerrorMessage(connection)));
        return;
    }
    readAnswers();
    if (m_state != State::Open)
        return;
    const int self = libpq().PQbackendPID(connection);
    while (PGnotify *notification = libpq().PQnotifies(connection)) {
        const std::unique_ptr<PGnotify, void (*)(void *)> owned(notification, libpq().PQfreemem);
        if (notification->be_pid != self && std::strcmp(notification->relname, "Stock") == 0)
            m_notifications.emplace_back(notification->extra);
    }
    if (!m_current && !m_queue.empty())
        sendNext();
    if (m_state == State::Open && m_current && Clock::now() >= m_current->deadline)
        lose("no answer within " + secondsOf(m_current->limit));
}

bool Session::runUntil(const std::function<bool()> &done)
{
    while (!done() && m_state != State::Lost) {
        const Wake next = wake();
        int waitMs = -1;
        if (next.at)
            waitMs = int(std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(*next.at - Clock::now()).count() + 1));
        if (next.socket >= 0) {
#ifdef _WIN32
            WSAPOLLFD watched{static_cast<SOCKET>(next.socket), POLLRDNORM, 0};
            if (next.write)
                watched.events |= POLLWRNORM;
            WSAPoll(&watched, 1, waitMs);
#else
            pollfd watched{next.socket, short(POLLIN | (next.write ? POLLOUT : 0)), 0};
            poll(&watched, 1, waitMs);
#endif
        } else if (waitMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        }
        advance();
    }
    return done();
}

void Session::send(std::string sql, std::vector<Value> values, Clock::duration limit,
                   std::function<void(const Reply &)> done)
{
    auto statement = std::make_unique<Statement>();
    statement->plain = values.empty();
    statement->sql = std::move(sql);
    statement->values = std::move(values);
    statement->limit = limit;
    statement->done = std::move(done);
    if (m_state == State::Lost) {
        statement->reply.lost = true;
        statement->reply.error = StoreError(Unreachable, "The connection to " + m_name + " was lost (" + m_lostBecause + ").");
        statement->done(statement->reply);
        return;
    }
    m_queue.push_back(std::move(statement));
}

void Session::copyOut(std::string sql, Clock::duration limit,
                      std::function<void(const std::vector<std::string_view> &)> row,
                      std::function<void(const Reply &)> done)
{
    send(std::move(sql), {}, limit, std::move(done));
    if (!m_queue.empty()) {
        m_queue.back()->copy = true;
        m_queue.back()->row = std::move(row);
    }
}

std::vector<std::string> Session::takeNotifications()
{
    return std::exchange(m_notifications, {});
}

void Session::sendNext()
{
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    Statement &statement = *m_current;
    pg_conn *connection = m_connection.get();
    int sent = 0;
    if (statement.plain) {
        sent = libpq().PQsendQuery(connection, statement.sql.c_str());
    } else {
        std::vector<Oid> types;
        std::vector<const char *> data;
        std::vector<int> lengths;
        for (const Value &value : statement.values) {
            types.push_back(value.m_type);
            data.push_back(value.m_bytes.data());
            lengths.push_back(static_cast<int>(value.m_bytes.size()));
        }
        // Every value is sent in binary, its length given: a text is taken whole, whatever bytes it holds.
        const std::vector<int> formats(statement.values.size(), 1);
        sent = libpq().PQsendQueryParams(connection, statement.sql.c_str(), int(statement.values.size()),
                                         types.data(), data.data(), lengths.data(), formats.data(), 0);
    }
    statement.sent = true;
    statement.deadline = Clock::now() + statement.limit;
    if (!sent || libpq().PQflush(connection) == -1)
        lose(oneLine(libpq().PQerrorMessage(connection)));
}

void Session::readAnswers()
{
    pg_conn *connection = m_connection.get();
    const Clock::time_point until = Clock::now() + readingSlice;
    m_moreToRead = false;
    int rows = 0;
    while (m_current && m_state == State::Open) {
        Statement &statement = *m_current;
        while (statement.copying) {
            char *buffer = nullptr;
            const int bytes = libpq().PQgetCopyData(connection, &buffer, 1);
            if (bytes == 0)
                return; // the rest is still on its way
            if (bytes < 0) {
                statement.copying = false; // the end, or a failure its result tells
                break;
            }
            const std::unique_ptr<char, void (*)(void *)> owned(buffer, libpq().PQfreemem);
            statement.deadline = Clock::now() + statement.limit;
            RowReader reader({buffer, std::size_t(bytes)});
            std::string_view skipped;
            std::int64_t count = 0;
            // The first row opens with the format's signature, its flags and an extension of given length.
            const bool readable =
                (statement.signatureRead
                 || (reader.take(11, skipped) && skipped == std::string_view("PGCOPY\n\377\r\n\0", 11)
                     && reader.number(4, count) && reader.number(4, count) && count >= 0
                     && reader.take(std::size_t(count), skipped)))
                && reader.number(2, count);
            statement.signatureRead = true;
            if (!readable)
                return failCopy();
            if (count < 0)
                continue; // the end of the rows
            std::vector<std::string_view> fields;
            for (std::int64_t field = 0; field < count; ++field) {
                std::int64_t length = 0;
                std::string_view value;
                if (!reader.number(4, length) || (length >= 0 && !reader.take(std::size_t(length), value)))
                    return failCopy();
                fields.push_back(value);
            }
            statement.row(fields);
            if (++rows % 256 == 0 && Clock::now() >= until) {
                m_moreToRead = true;
                return;
            }
        }
        if (libpq().PQisBusy(connection))
            return;
        pg_result *answer = libpq().PQgetResult(connection);
        if (!answer) {
            finishCurrent();
            continue;
        }
        Result result(answer);
        switch (libpq().PQresultStatus(answer)) {
        case PGRES_COPY_OUT:
            statement.copying = true;
            break;
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
            if (!statement.reply.error)
                statement.reply.result = std::move(result);
            break;
        default: {
            const char *state = libpq().PQresultErrorField(answer, PG_DIAG_SQLSTATE);
            const std::string_view code = state ? state : "";
            // The connection's end, not the statement's failure.
            if (libpq().PQstatus(connection) == CONNECTION_BAD || code.starts_with("08") || code == "57P01"
                || code == "57P02" || code == "57P03") {
                lose(oneLine(libpq().PQresultErrorField(answer, PG_DIAG_MESSAGE_PRIMARY)));
                return;
            }
            if (!statement.reply.error)
                statement.reply.error = errorOf(answer);
        }
        }
    }
}

void Session::failCopy()
{
    // The rest of the answer cannot be trusted: the session goes with it.
    const std::unique_ptr<Statement> statement = std::move(m_current);
    statement->reply.error = StoreError(Failed, m_name + " sent a row Quillmarch cannot read. Nothing was written.");
    lose("it sent a row Quillmarch cannot read");
    statement->done(statement->reply);
}

void Session::finishCurrent()
{
    const std::unique_ptr<Statement> statement = std::move(m_current);
    statement->done(statement->reply);
}

void Session::lose(std::string why, bool refused)
{
    if (m_state == State::Lost)
        return;
    m_state = State::Lost;
    m_lostBecause = std::move(why);
    m_refused = refused;
    m_connection.reset();
    m_lookup.reset();
    std::vector<std::unique_ptr<Statement>> cut;
    if (m_current)
        cut.push_back(std::move(m_current));
    for (auto &statement : m_queue)
        cut.push_back(std::move(statement));
    m_queue.clear();
    for (const auto &statement : cut) {
        statement->reply.lost = true;
        statement->reply.unanswered = statement->sent;
        statement->reply.error =
            StoreError(Unreachable, "The connection to " + m_name + " was lost (" + m_lostBecause + ").");
        statement->done(statement->reply);
    }
}

StoreError Session::errorOf(const pg_result *result) const
{
    const char *state = libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string_view code = state ? state : "";
    const char *primary = libpq().PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const std::string words = oneLine(primary ? primary : libpq().PQerrorMessage(m_connection.get()));
    // A write that would not keep the record as given fails its own statement (see the team store).
    if (code == "22P02" && words.find("Quillmarch: record") != std::string::npos)
        return StoreError(NotKept, m_name
                                       + " did not keep the change as given: something in the database (a rule or a"
                                         " trigger) swallowed or changed it. The change was not stored.");
    // A rule that diverts a write is refused by the server itself: RETURNING cannot follow it.
    if (code.starts_with("23") || code == "0A000")
        return StoreError(NotKept, m_name + " refused the change (" + words + "). The change was not stored.");
    if (code == "42501")
        return StoreError(NotAllowed, m_name + " does not allow it (" + words
                                          + "): the role Quillmarch logs in as lacks a right it needs. Nothing was"
                                            " written.");
    if (code.starts_with("53"))
        return StoreError(Full, m_name + " has no room for the change (" + words + "). The change was not stored.");
    if (code == "55P03" || code == "40P01" || code == "40001" || code == "57014")
        return StoreError(Busy, m_name + " is busy: another session holds the record (" + words
                                    + "). Nothing was written.");
    if (code == "42P01" || code == "42703")
        return StoreError(Failed, m_name + " no longer holds Quillmarch's table Stock (" + words
                                      + "). Nothing was written.");
    return StoreError(Failed, words + " (" + m_name + ")");
}

} // namespace postgres

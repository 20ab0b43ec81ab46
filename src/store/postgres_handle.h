#pragma once

#include "store/store_error.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace postgres {

using Clock = std::chrono::steady_clock;

// The numbers under which the server's failures are reported: those of the
// file's failures of the same kind, so that a number means one thing whichever
// store the counts are kept in.
enum ErrorNumber {
    Failed = 1,
    Busy = 5,
    Full = 13,
    Unreachable = 14,
    NotKept = 19,
    NotAllowed = 23,
    NotOurs = 26,
};

// A value bound to a statement, sent apart from its text: never pasted into SQL.
// It keeps its own bytes, so a statement may wait in a queue.
class Value {
public:
    Value(std::int64_t number);
    Value(std::string_view text);
    Value(const std::string &text) : Value(std::string_view(text)) {}
    Value(const char *text) : Value(std::string_view(text)) {}

private:
    friend class Session;
    unsigned m_type;
    std::string m_bytes;
};

// The rows a statement returned; freed when it goes out of scope.
class Result {
public:
    Result() = default;

    int rows() const;
    // A NULL reads as the empty text.
    std::string_view text(int row, int column) const;
    std::int64_t number(int row, int column) const;
    bool flag(int row, int column) const { return text(row, column) == "t"; }

private:
    friend class Session;
    struct Clear {
        void operator()(pg_result *result) const;
    };
    explicit Result(pg_result *result);
    std::shared_ptr<pg_result> m_result;
};

// How a statement ended: its rows, or the failure in the user's words. A
// statement cut off by a lost connection was never sent, or was sent and not
// answered: then whether the server carried it out is not known.
struct Reply {
    std::optional<StoreError> error;
    Result result;
    bool lost = false;       // the connection ended before the answer came
    bool unanswered = false; // ... after the statement had gone out

    // The rows, or the failure thrown.
    const Result &rows() const;
};

// What the owner of a session waits for before it calls advance(): its socket
// turning readable (or writable), or a moment passing.
struct Wake {
    int socket = -1;
    bool write = false;
    std::optional<Clock::time_point> at;
};

// One connection to a database server, driven without ever waiting on the
// network: its owner watches the socket and calls advance() when it is ready or
// when the moment wake() names has come. Host names are looked up on a thread of
// their own, as the system's lookup cannot be interrupted. Statements queue up
// and go one at a time; each must be answered within its time, or the session
// is lost, as it is when the network or the server fails.
class Session {
public:
    enum class State { Connecting, Open, Lost };

    // Starts connecting to the database the URI names, within connectLimit.
    // Throws StoreError (23) for a URI that is none or that holds a password.
    Session(const std::string &uri, Clock::duration connectLimit);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    State state() const { return m_state; }
    // What the user knows the server by: the database, its host and port.
    const std::string &name() const { return m_name; }
    // Once lost: why, in the network's or the server's words; and whether the
    // server itself turned the station away (a wrong password, a certificate that
    // does not verify, no such database), as a connection cut short never does.
    const std::string &lostBecause() const { return m_lostBecause; }
    bool refused() const { return m_refused; }

    Wake wake() const;
    // Moves the session on as far as it goes without waiting: connects, sends,
    // reads answers and hands them to their statements. Throws nothing.
    void advance();
    // Runs the session until done() holds or the session is lost, waiting on its
    // socket, for the start-up and the export, which have no window to keep
    // answering; true when done() holds.
    bool runUntil(const std::function<bool()> &done);

    // Queues a statement; done hears how it ended, from advance(), once. Without
    // values it may hold several statements, and its last result is handed on.
    // It must be answered within limit of being sent, or the session is lost.
    void send(std::string sql, std::vector<Value> values, Clock::duration limit,
              std::function<void(const Reply &)> done);
    // Queues a COPY ... TO STDOUT (FORMAT binary); row hears each row's fields as
    // they arrive. Silence of limit between two parts of the answer loses the session.
    void copyOut(std::string sql, Clock::duration limit, std::function<void(const std::vector<std::string_view> &)> row,
                 std::function<void(const Reply &)> done);
    // No statement queued or under way.
    bool idle() const { return !m_current && m_queue.empty(); }

    // The payloads of the notifications on the channel "Stock" that other
    // sessions sent, as far as they have arrived.
    std::vector<std::string> takeNotifications();

    // Ends the session: what was queued and under way hears that it was lost.
    void lose(std::string why, bool refused = false);

private:
    struct Statement;
    struct Lookup;
    struct Finish {
        void operator()(pg_conn *connection) const;
    };

    void startConnecting();
    void pollConnection();
    void sendNext();
    void readAnswers();
    void finishCurrent();
    void failCopy();
    StoreError errorOf(const pg_result *result) const;

    std::unique_ptr<pg_conn, Finish> m_connection;
    State m_state = State::Connecting;
    std::string m_uri;
    Clock::duration m_connectLimit;
    std::string m_name;
    std::string m_lostBecause;
    bool m_refused = false;
    std::shared_ptr<Lookup> m_lookup;
    bool m_pollWrites = true; // as the connection's last poll asked
    Clock::time_point m_connectDeadline;
    std::unique_ptr<Statement> m_current;
    std::deque<std::unique_ptr<Statement>> m_queue;
    bool m_moreToRead = false; // answers left unread when the last advance() stopped for time
    std::vector<std::string> m_notifications;
};

// Refuses (StoreError 23) an address that is no PostgreSQL URL, or that holds a
// password, which would show to anyone who lists the running programs or reads
// the setting. Never quotes the address.
void refuseUnsafe(const std::string &uri);

} // namespace postgres

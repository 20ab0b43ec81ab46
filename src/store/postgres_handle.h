#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace postgres {

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
class Value {
public:
    Value(std::int64_t number);
    Value(std::string_view text);
    Value(const std::string &text) : Value(std::string_view(text)) {}

private:
    friend class Connection;
    unsigned m_type;
    std::array<char, 8> m_number{};
    std::string_view m_bytes;
};

// The rows a statement returned; freed when it goes out of scope.
class Result {
public:
    int rows() const;
    // A NULL reads as the empty text.
    std::string_view text(int row, int column) const;
    std::int64_t number(int row, int column) const;

private:
    friend class Connection;
    struct Clear {
        void operator()(pg_result *result) const;
    };
    explicit Result(pg_result *result) : m_result(result) {}
    std::unique_ptr<pg_result, Clear> m_result;
};

// An open connection to a database server; closed when it goes out of scope.
class Connection {
public:
    // Connects as a libpq URI says; throws StoreError for a URI that is none or that
    // holds a password, and for a server that cannot be reached.
    explicit Connection(const std::string &uri);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    Result execute(const char *sql, std::initializer_list<Value> values = {});
    // Runs a COPY ... TO STDOUT (FORMAT binary) and hands row each row's fields.
    void copyOut(const char *sql, const std::function<void(const std::vector<std::string_view> &)> &row);

    // The payloads of the notifications on channel that other connections sent,
    // as far as they have arrived; never waits.
    std::vector<std::string> takeNotifications(std::string_view channel);
    int socket() const;

    // What the user knows the server by: the database, its host and port.
    const std::string &name() const { return m_name; }

    // Throws a failure of the server's in the user's words.
    [[noreturn]] void fail(const pg_result *result) const;
    [[noreturn]] void fail(int number, const std::string &text) const;

private:
    struct Finish {
        void operator()(pg_conn *connection) const;
    };
    std::unique_ptr<pg_conn, Finish> m_connection;
    std::string m_name;
};

// A transaction that is rolled back unless it is committed.
class Transaction {
public:
    explicit Transaction(Connection &connection);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit();

private:
    Connection &m_connection;
    bool m_committed = false;
};

} // namespace postgres

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlite {

// Whether the program may make files in a folder, as SQLite does beside a
// database while it writes to it.
bool folderWritable(const std::string &folder);

// An open connection; closed when it goes out of scope.
class Connection {
public:
    enum class Mode { ReadOnly, ReadWrite, ReadWriteCreate };

    // Opens the file, waiting up to busyTimeoutMs for a lock held by another program.
    Connection(const std::string &path, Mode mode, int busyTimeoutMs);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void execute(const char *sql);
    // Runs a statement whose failure has nothing left to report, such as the
    // rollback of a transaction that has failed already.
    void executeQuietly(const char *sql) noexcept;
    std::int64_t lastInsertId() const;
    int changes() const;
    const std::string &path() const { return m_path; }

    // Throws the error SQLite reports for this connection, in words the user can act on.
    [[noreturn]] void fail(int code) const;
    // Throws an error SQLite does not see as one, put in the same words.
    [[noreturn]] void fail(int code, const char *sqliteText) const;

    sqlite3 *handle() const { return m_db.get(); }

private:
    struct Close {
        void operator()(sqlite3 *db) const;
    };
    // Owned from the open on, so a set-up that fails in the constructor still closes it.
    std::unique_ptr<sqlite3, Close> m_db;
    std::string m_path;
};

// A prepared statement with bound values; finalized when it goes out of scope.
class Statement {
public:
    Statement(Connection &connection, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void bind(int index, std::int64_t value);
    void bind(int index, std::string_view text);

    // Runs one step: true while a row is ready, false when done.
    bool step();
    // Makes the statement ready to run again, with new values bound.
    void reset();

    std::int64_t columnInt64(int column) const;
    // A NULL column reads as the empty text.
    std::string_view columnText(int column) const;

private:
    Connection &m_connection;
    sqlite3_stmt *m_statement = nullptr;
};

// A write transaction: it takes the file's write lock at once (waiting for
// another program's as long as the connection's busy timeout allows) and takes
// back everything written in it unless it is committed.
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

// Notes, for as long as it lives, the records of one table that the connection's
// statements insert, update or delete, a trigger's among them. SQLite tells of
// every such record but those that an ON CONFLICT REPLACE resolution removes.
class RowChanges {
public:
    enum class Kind { Inserted, Updated, Deleted };
    struct Change {
        std::int64_t rowid;
        Kind kind; // the last thing done to it
    };

    RowChanges(Connection &connection, std::string table);
    ~RowChanges();
    RowChanges(const RowChanges &) = delete;
    RowChanges &operator=(const RowChanges &) = delete;

    // A record changed other than the one with this rowid, if any.
    std::optional<Change> otherThan(std::int64_t rowid) const;

private:
    // SQLite's update hook, in its own types.
    static void note(void *self, int operation, const char *database, const char *table, long long rowid);

    Connection &m_connection;
    std::string m_table;
    // The first records changed, each once: two tell whether any other than the
    // one meant was touched, however many a trigger changes.
    std::vector<Change> m_changed;
};

} // namespace sqlite

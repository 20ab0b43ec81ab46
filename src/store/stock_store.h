#pragma once

#include "store/sqlite_handle.h"
#include "store/store.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The path of a file in a folder: exactly one separator between them.
std::string pathInFolder(const std::string &folder, std::string_view name);
// The path of the stock database in a folder.
std::string databasePath(const std::string &folder);

// Every access to the table Stock in the file stock.mdb of one folder. Each
// operation opens its own connection, does its work and closes it again, so
// nothing is held between two user actions. Every failure throws StoreError.
class StockStore : public Store {
public:
    // How long an operation waits for a lock held by another program.
    static constexpr int defaultBusyTimeoutMs = 3000;

    explicit StockStore(std::string folder, Access access = Access::Count, int busyTimeoutMs = defaultBusyTimeoutMs);

    // Hands every record to visit, in ascending id. For counting, creates the file
    // and the table when the file is missing or holds nothing: this is the
    // program's first operation. An SQLite database without the table, or with a
    // table Stock whose id does not number the records or that would refuse a count,
    // is refused (SQLITE_NOTADB), as is a file or folder that may not be written
    // (SQLITE_READONLY). For reading, makes and writes nothing. Before the first
    // record, expect (when given) learns the table's size.
    void listAll(const std::function<void(const StockRecordView &)> &visit,
                 const std::function<void(const StockListSize &)> &expect = {}) override;

    // Stores a new record under the id the file gives it. A record the table does
    // not keep (a trigger's doing) is not stored and throws SQLITE_CONSTRAINT.
    RecordKey append(std::string_view location, std::string_view stockCode, std::string_view quantity) override;

    void load(RecordKey key, Done done) override;
    // Throw SQLITE_CONSTRAINT, changing nothing, when the table does not keep the change.
    void update(RecordKey key, const StockRecord &shown, std::string_view location, std::string_view stockCode,
                std::string_view quantity, Done done) override;
    void remove(RecordKey key, const StockRecord &shown, Done done) override;

    std::string place() const override;

private:
    // Every operation's connection: the one place the file is opened.
    sqlite::Connection open(sqlite::Connection::Mode mode = sqlite::Connection::Mode::ReadWrite) const;

    std::string m_folder;
    Access m_access;
    int m_busyTimeoutMs;
};

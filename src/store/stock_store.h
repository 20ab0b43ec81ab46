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

    explicit StockStore(std::string folder, int busyTimeoutMs = defaultBusyTimeoutMs);

    // Hands every record to visit, in ascending id. Creates the file and the
    // table when the file is missing or holds nothing: this is the program's first
    // operation. An SQLite database without the table, or with a table Stock whose
    // id does not number the records or that would refuse a count, is refused
    // (SQLITE_NOTADB), as is a file or folder that may not be written (SQLITE_READONLY).
    // Before the first record, expect (when given) learns the table's size.
    void listAll(const std::function<void(const StockRecordView &)> &visit,
                 const std::function<void(const StockListSize &)> &expect = {}) const override;

    // Stores a new record and returns the id the store gave it. A record the table
    // does not keep (a trigger's doing) is not stored and throws SQLITE_CONSTRAINT.
    std::int64_t append(std::string_view location, std::string_view stockCode,
                        std::string_view quantity) const override;

    std::optional<StockRecord> loadById(std::int64_t id) const override;

    // Throws SQLITE_CONSTRAINT, changing nothing, when the table does not keep the change.
    UpdateResult updateById(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                            std::string_view quantity) const override;

    void deleteById(std::int64_t id) const override;

private:
    // Every operation's connection: the one place the file is opened.
    sqlite::Connection open(sqlite::Connection::Mode mode = sqlite::Connection::Mode::ReadWrite) const;

    std::string m_folder;
    int m_busyTimeoutMs;
};

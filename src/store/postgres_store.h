#pragma once

#include "store/postgres_handle.h"
#include "store/store.h"

#include <memory>
#include <string>

// The table Stock in a PostgreSQL database that several stations count into at
// once. One connection, opened by the first operation, serves the whole run, and
// through it the server tells of every change another station commits.
class PostgresStore : public Store {
public:
    // url: libpq's URI form, postgresql://user@host:port/database?sslmode=...,
    // without a password: the first operation refuses one that holds a password.
    explicit PostgresStore(std::string url);
    ~PostgresStore() override;

    // Makes the table, and the trigger that tells the stations of each change, in a
    // database that has no table Stock; refuses (error 26) a Stock of another shape.
    void listAll(const std::function<void(const StockRecordView &)> &visit,
                 const std::function<void(const StockListSize &)> &expect = {}) const override;
    std::int64_t append(std::string_view location, std::string_view stockCode,
                        std::string_view quantity) const override;
    std::optional<StockRecord> loadById(std::int64_t id) const override;
    UpdateResult updateById(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                            std::string_view quantity) const override;
    void deleteById(std::int64_t id) const override;

    int changeSocket() const override;
    std::vector<StockChange> takeChanges() const override;

private:
    postgres::Connection &connection() const;

    std::string m_url;
    // Opened at the first operation and kept: the operations change what it holds
    // (results, notifications), not what the store is.
    mutable std::unique_ptr<postgres::Connection> m_connection;
};

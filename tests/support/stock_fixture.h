#pragma once

#include "store/stock_store.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A row of the table as the tests read it back, past the program's store.
struct TableRow {
    std::int64_t id;
    std::string location;
    std::string stockCode;
    std::string quantity;
    bool operator==(const TableRow &) const = default;
};

// The two kinds of store the program counts into; the server where the tests have
// one of their own (QUILLMARCH_TEST_SERVER).
enum class StoreKind { File, Server };

// Where one test's counts are kept: a temporary folder named beyond ASCII with its
// stock.mdb, and for the server a fresh database on the tests' PostgreSQL server
// too; read and written past the program's store.
class StockPlace {
public:
    explicit StockPlace(StoreKind kind = StoreKind::File);

    // As the program's folder comes: UTF-8, with the system's separators.
    std::string path() const { return QDir::toNativeSeparators(m_dir.path()).toStdString(); }
    std::string databasePath() const { return ::databasePath(path()); }
    // The program's store of this place, its journal in the place's folder; a
    // locked file is waited for 50 ms.
    std::unique_ptr<Store> store(Access access = Access::Count) const;
    // The table as the program makes it, holding these rows, ids and all; the
    // store numbers new records on from the highest.
    void createWith(const std::vector<TableRow> &rows) const;
    std::vector<TableRow> rows() const;
    // Runs SQL on the file (made when missing), or on the server as its superuser,
    // and returns the first value it yields, as text.
    std::string run(const std::string &sql) const;
    // Runs SQL on another program's connection, kept open while the result lives.
    std::shared_ptr<void> hold(const std::string &sql) const;
    // Reads or writes stock.mdb, or another file of the folder.
    QByteArray fileBytes(const QString &name = "stock.mdb") const;
    void writeFile(const QByteArray &bytes, const QString &name = "stock.mdb") const;

    const StoreKind kind;
    const std::string database; // on PostgresServer::shared(), for the server

private:
    QTemporaryDir m_dir;
};

// Hears what a store tells and lets it pass, but for what a test's own says otherwise.
struct QuietObserver : StoreObserver {
    void recordsChanged(const std::vector<StockChange> &) override {}
    void countStored(std::int64_t, const StockRecord &) override {}
    void relistBegins() override {}
    void relisted(const StockRecordView &) override {}
    void relistEnds(bool) override {}
    void linkChanged(const LinkStatus &) override {}
};

// Makes a file or folder read-only as chmod a-w does (on Windows, by its read-only
// attribute) and, for root on Linux, whom that does not stop, as chattr +i does; or
// lifts both again.
void markReadOnly(const std::string &path, bool readOnly);

// Drives a store's link to its server as the window's event loop does, until
// done() holds; false when it does not within 20 s.
bool driveUntil(Store &store, const std::function<bool()> &done);
// The answer to an operation on a record, the store driven meanwhile.
RecordResult answerOf(Store &store, const std::function<void(Store::Done)> &start);
// Keeps a count and, for a server, waits until the server has it: its id there.
std::int64_t countNow(Store &store, std::string_view location, std::string_view stockCode, std::string_view quantity);

inline QString toQString(const std::string &text)
{
    return QString::fromStdString(text);
}

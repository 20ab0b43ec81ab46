#pragma once

#include "error_reporter.h"
#include "scan_sounds.h"
#include "stock_store.h"
#include "store.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A row of the table as the tests read it back, straight from the file.
struct TableRow {
    std::int64_t id;
    std::string location;
    std::string stockCode;
    std::string quantity;
    bool operator==(const TableRow &) const = default;
};

// A temporary folder for one test, named beyond ASCII, with direct access to its
// stock.mdb that does not go through the program's store.
class StockFolder {
public:
    StockFolder();

    // As the program's folder comes: UTF-8, with the system's separators.
    std::string path() const { return QDir::toNativeSeparators(m_dir.path()).toStdString(); }
    std::string databasePath() const { return ::databasePath(path()); }

    // Runs SQL on the file, creating it when missing.
    void execute(const std::string &sql) const;
    // The first column of the first row a query yields, as text.
    std::string queryText(const std::string &sql) const;
    // Creates the table as the program does and stores the given rows in order.
    void createWith(const std::vector<TableRow> &rows) const;
    std::vector<TableRow> rows() const;
    QByteArray fileBytes() const;
    void writeFile(const QByteArray &bytes) const;

private:
    QTemporaryDir m_dir;
};

// The two kinds of store the program counts into; the server where the tests have
// one of their own (QUILLMARCH_TEST_SERVER).
enum class StoreKind { File, Server };

// Where one test's counts are kept: a temporary folder with its stock.mdb, or a
// fresh database on the tests' PostgreSQL server; read and written past the
// program's store.
class StockPlace {
public:
    explicit StockPlace(StoreKind kind);

    // The program's store of this place; a locked file is waited for 50 ms.
    std::unique_ptr<Store> store() const;
    // The table as the program makes it, holding these rows, ids and all; the
    // store numbers new records on from the highest.
    void createWith(const std::vector<TableRow> &rows) const;
    std::vector<TableRow> rows() const;
    // Runs SQL on the file, or on the server as its superuser.
    void execute(const std::string &sql) const;

    const StoreKind kind;
    const StockFolder folder;
    const std::string database; // on PostgresServer::shared(), for the server
};

// Takes the place of the program's error reporter for as long as it lives.
class ReportedErrors {
public:
    ReportedErrors();
    ~ReportedErrors() { ErrorReporter::setReporter({}); }

    // The numbers of the failures reported, in order.
    QList<int> numbers() const;
    std::vector<Failure> failures;
};

// Stands in for the program's sound player: the sounds played, in order, by
// name ("stored", "accepted", "refused").
class HeardSounds {
public:
    SoundOutput output();

    QStringList sounds;
};

// Holds an exclusive lock on a database file for as long as it lives.
class DatabaseLock {
public:
    explicit DatabaseLock(const std::string &path);
    ~DatabaseLock();

private:
    struct sqlite3 *m_db = nullptr;
};

// Makes a file or folder read-only as chmod a-w does (on Windows, by its read-only
// attribute) and, for root on Linux, whom that does not stop, as chattr +i does; or
// lifts both again.
void markReadOnly(const std::string &path, bool readOnly);

inline QString toQString(const std::string &text)
{
    return QString::fromStdString(text);
}

#include "store/sqlite_handle.h"

#include "store/store_error.h"
#include "store/utf8_path.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sqlite {

namespace {

// A Microsoft Access file starts with 00 01 00 00 and its engine's name.
bool isAccessDatabase(const std::string &path)
{
    std::array<char, 19> head{};
    std::ifstream file(pathFromUtf8(path), std::ios::binary);
    if (!file.read(head.data(), head.size()))
        return false;
    static constexpr char magic[4] = {0x00, 0x01, 0x00, 0x00};
    return std::memcmp(head.data(), magic, sizeof magic) == 0
        && (std::memcmp(head.data() + 4, "Standard Jet DB", 15) == 0
            || std::memcmp(head.data() + 4, "Standard ACE DB", 15) == 0);
}

// The text the user sees for a failure: what is wrong with which file, in SQLite's
// words too, and whether the file was changed. systemError is the system's own
// number for the failure, where there is one.
std::string describe(int code, const char *sqliteText, const std::string &path, int systemError)
{
    if (systemError == EMFILE || systemError == ENFILE)
        return path + " could not be opened: Quillmarch has as many files open as the system allows ("
            + std::strerror(systemError) + "). Nothing was written.";
    if (code == SQLITE_NOTADB) {
        if (isAccessDatabase(path))
            return path
                + " is a Microsoft Access database. Quillmarch keeps its stock in an SQLite"
                  " database and cannot read it; the file was left as it is.";
        return path + " is not a Quillmarch stock database (" + sqliteText + "); the file was left as it is.";
    }
    if (code == SQLITE_FULL)
        return path + " cannot be written: the disk is full or the file may not grow (" + sqliteText
            + "). The change was not stored.";
    if (code == SQLITE_IOERR)
        return path + " could not be read or written (" + sqliteText
            + "): the disk may be full or failing, or the file may not grow; nothing was written to it.";
    if (code == SQLITE_CORRUPT)
        return path + " is damaged and cannot be read (" + sqliteText + "); the file was left as it is.";
    if (code == SQLITE_BUSY)
        return path + " is in use by another program (" + sqliteText + "); nothing was written to it.";
    if (code == SQLITE_READONLY)
        return path + " may not be written (" + sqliteText
            + "): the file or its folder was made read-only. The change was not stored.";
    if (code == SQLITE_CONSTRAINT)
        return path + " refused the change (" + sqliteText + "). The change was not stored.";
    // The table was there at start: another program's database has taken the file's place.
    if (code == SQLITE_ERROR
        && (std::strncmp(sqliteText, "no such table", 13) == 0 || std::strncmp(sqliteText, "no such column", 14) == 0
            || std::strstr(sqliteText, " has no column named ")))
        return path + " is no longer a Quillmarch stock database: another program's database has taken its place ("
            + sqliteText + "); nothing was written to it.";
    if (code == SQLITE_CANTOPEN) {
        std::error_code ignored;
        if (std::filesystem::is_directory(pathFromUtf8(path), ignored))
            return path + " is a folder, not a Quillmarch stock database; it was left as it is.";
        return path + " is missing or may not be opened (" + sqliteText + "); nothing was written.";
    }
    return path + " could not be used (" + sqliteText + "); nothing was written to it.";
}

#ifdef _WIN32
// Whether another program holds the file open without sharing it for writing,
// as Windows lets it: SQLite then cannot open it, or only for reading.
bool heldWithoutSharing(const std::string &path)
{
    const HANDLE file = CreateFileW(pathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}
#endif

} // namespace

#ifdef _WIN32
// Windows decides by the folder's access list, which only an attempt reads
// rightly: a file of a name no one else uses, gone again when it is closed.
bool folderWritable(const std::string &folder)
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::wstring name =
            L"quillmarch-write-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(tries);
        const HANDLE file = CreateFileW((pathFromUtf8(folder) / name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}
#else
bool folderWritable(const std::string &folder)
{
    return faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0;
}
#endif

Connection::Connection(const std::string &path, Mode mode, int busyTimeoutMs) : m_path(path)
{
    // A connection lives within one operation, on the thread that runs it: SQLite's
    // own locks would guard against nothing.
    int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::ReadWriteCreate)
        flags |= SQLITE_OPEN_CREATE;
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    // A failed open still hands back a handle that holds the error and must be closed;
    // only when memory ran out is there none, and SQLite's text then says so.
    m_db.reset(db);
#ifdef _WIN32
    // Told apart from a missing or read-only file, which SQLite would call it.
    if ((rc != SQLITE_OK || sqlite3_db_readonly(db, "main") == 1) && heldWithoutSharing(path))
        fail(SQLITE_BUSY, "the file is held open without sharing");
#endif
    if (rc != SQLITE_OK)
        fail(rc);
    sqlite3_busy_timeout(handle(), busyTimeoutMs);
    // Every commit reaches the disk before the handler that made it returns. This
    // reads the file first, so a file that is no database fails here.
    execute("PRAGMA synchronous = FULL");
}

void Connection::Close::operator()(sqlite3 *db) const
{
    sqlite3_close(db);
}

void Connection::execute(const char *sql)
{
    const int rc = sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

void Connection::executeQuietly(const char *sql) noexcept
{
    sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr);
}

std::int64_t Connection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(handle());
}

int Connection::changes() const
{
    return sqlite3_changes(handle());
}

void Connection::fail(int code) const
{
    throw StoreError(code & 0xff,
                     describe(code & 0xff, sqlite3_errmsg(handle()), m_path,
                              (code & 0xff) == SQLITE_CANTOPEN ? sqlite3_system_errno(handle()) : 0));
}

void Connection::fail(int code, const char *sqliteText) const
{
    throw StoreError(code & 0xff, describe(code & 0xff, sqliteText, m_path, 0));
}

Statement::Statement(Connection &connection, const char *sql) : m_connection(connection)
{
    const int rc = sqlite3_prepare_v2(connection.handle(), sql, -1, &m_statement, nullptr);
    if (rc != SQLITE_OK)
        connection.fail(rc);
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

void Statement::bind(int index, std::int64_t value)
{
    const int rc = sqlite3_bind_int64(m_statement, index, value);
    if (rc != SQLITE_OK)
        m_connection.fail(rc);
}

void Statement::bind(int index, std::string_view text)
{
    // An empty text is still a text, never NULL: data() of an empty view may be null.
    const char *data = text.empty() ? "" : text.data();
    const int rc = sqlite3_bind_text64(m_statement, index, data, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        m_connection.fail(rc);
}

void Statement::reset()
{
    sqlite3_reset(m_statement);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_connection.fail(rc);
}

std::int64_t Statement::columnInt64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string_view Statement::columnText(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    if (!text)
        return {};
    return {text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column))};
}

Transaction::Transaction(Connection &connection) : m_connection(connection)
{
    m_connection.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!m_committed)
        m_connection.executeQuietly("ROLLBACK");
}

void Transaction::commit()
{
    m_connection.execute("COMMIT");
    m_committed = true;
}

RowChanges::RowChanges(Connection &connection, std::string table) : m_connection(connection), m_table(std::move(table))
{
    sqlite3_update_hook(m_connection.handle(), &RowChanges::note, this);
}

RowChanges::~RowChanges()
{
    sqlite3_update_hook(m_connection.handle(), nullptr, nullptr);
}

void RowChanges::note(void *self, int operation, const char *database, const char *table, long long rowid)
{
    auto &changes = *static_cast<RowChanges *>(self);
    if (std::strcmp(database, "main") != 0 || sqlite3_stricmp(table, changes.m_table.c_str()) != 0)
        return;
    const Kind kind = operation == SQLITE_INSERT ? Kind::Inserted
        : operation == SQLITE_DELETE             ? Kind::Deleted
                                                 : Kind::Updated;
    const auto known = std::find_if(changes.m_changed.begin(), changes.m_changed.end(),
                                    [&](const Change &change) { return change.rowid == rowid; });
    if (known != changes.m_changed.end())
        known->kind = kind;
    else if (changes.m_changed.size() < 2)
        changes.m_changed.push_back({rowid, kind});
}

std::optional<RowChanges::Change> RowChanges::otherThan(std::int64_t rowid) const
{
    for (const Change &change : m_changed)
        if (change.rowid != rowid)
            return change;
    return std::nullopt;
}

} // namespace sqlite

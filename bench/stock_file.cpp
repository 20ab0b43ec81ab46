#include "bench/stock_file.h"

#include "bench/label_texts.h"
#include "store/stock_store.h"

#include <poll.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace {

void check(sqlite3 *db, int rc, int expected)
{
    if (rc != expected)
        throw std::runtime_error(std::string("making stock.mdb: ") + sqlite3_errmsg(db));
}

} // namespace

// The records go in through one prepared statement in one transaction.
void makeStockFile(const std::string &folder, long records)
{
    StockStore(folder).listAll([](const StockRecordView &) {});
    sqlite3 *db = nullptr;
    check(db, sqlite3_open(databasePath(folder).c_str(), &db), SQLITE_OK);
    check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt *insert = nullptr;
    check(db,
          sqlite3_prepare_v2(db, "INSERT INTO Stock (Location, StockCode, Quantity) VALUES (?1, ?2, ?3)", -1, &insert,
                             nullptr),
          SQLITE_OK);
    LabelTexts texts;
    for (long i = 0; i < records; ++i) {
        const std::string location = texts.location(), code = texts.stockCode(), qty = texts.quantity();
        sqlite3_bind_text(insert, 1, location.data(), static_cast<int>(location.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, code.data(), static_cast<int>(code.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, qty.data(), static_cast<int>(qty.size()), SQLITE_STATIC);
        check(db, sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TemporaryFolder::TemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmarch-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    std::filesystem::remove_all(m_path);
}

std::string windowSystem()
{
    if (const char *platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform)
        return platform;
    if (const char *display = std::getenv("DISPLAY"); display && *display)
        return std::string("xcb (DISPLAY ") + display + ")";
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return "offscreen";
}

bool driveUntil(Store &store, const std::function<bool()> &done, std::chrono::milliseconds most)
{
    const auto end = std::chrono::steady_clock::now() + most;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return false;
        const StoreWake wake = store.wake();
        auto until = wake.at ? std::min(*wake.at, end) : end;
        pollfd watched{wake.socket, short(POLLIN | (wake.write ? POLLOUT : 0)), 0};
        poll(&watched, wake.socket >= 0 ? 1 : 0,
             int(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(until - now).count())));
        store.advance();
    }
    return true;
}

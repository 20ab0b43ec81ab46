#pragma once

#include "store/sqlite_handle.h"
#include "store/store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A count made at the station that the server may not have yet.
struct WaitingCount {
    std::int64_t key = 0;    // its place in the order the station made its counts
    std::string countId;     // its own identifier, which the server keeps with it: 32 hex digits
    StockRecord texts;       // its id is the key
    bool sent = false;       // sent at least once: the server may have it already
};

// A team station's outbox: the file journal.db in the station's folder, an
// SQLite database of one table, Journal. A count goes in, committed to the disk,
// before its tone sounds, and leaves once the server has it, so the file stays
// small. Each count is kept with the address of the server it is for; counts
// for another server than the one named now keep the station from starting.
// One program at a time holds the journal, for the whole of its run.
class Journal {
public:
    static constexpr const char *fileName = "journal.db";

    // The journal of a folder, for counting into server; made when absent. Throws
    // StoreError for a journal of another program, a damaged one, one that may
    // not be written, one another program holds, or one that holds counts for
    // another server.
    Journal(const std::string &folder, std::string server);

    static bool existsIn(const std::string &folder);
    // How many counts for server wait in a folder's journal, read without making,
    // changing or holding it, as an export reads it; none where there is no journal.
    static std::int64_t waitingIn(const std::string &folder, const std::string &server);

    // Keeps a count, on the disk by the time it returns.
    WaitingCount add(std::string_view location, std::string_view stockCode, std::string_view quantity);
    // The counts waiting, oldest first, at most most of them.
    std::vector<WaitingCount> waiting(std::size_t most) const;
    std::int64_t size() const;
    std::optional<WaitingCount> find(std::int64_t key) const;
    // A count never sent is the station's own, changed or deleted here; one sent
    // may be on the server already, and waits for it (InTransit).
    RecordResult update(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                        std::string_view quantity);
    RecordResult remove(const StockRecord &shown);
    // Noted before the counts go out: from then on the server may have them.
    void markSent(const std::vector<std::int64_t> &keys);
    // The server has them.
    void forget(const std::vector<std::int64_t> &keys);

private:
    // Whether a count may still be changed here, and how it stands.
    std::optional<RecordResult> refuseChange(const StockRecord &shown) const;

    mutable sqlite::Connection m_db;
    std::string m_server;
};

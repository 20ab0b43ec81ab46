#pragma once

#include "store/stock_record.h"
#include "store/store_error.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a record is: stored, in the file or on the server, under the id the store
// gave it; or waiting on a team station, under the number its journal gave it,
// until the server has it.
struct RecordKey {
    enum class Place : std::uint8_t { Stored, Waiting };
    Place place = Place::Stored;
    std::int64_t number = 0;

    bool operator==(const RecordKey &) const = default;
};

// How an operation on one record ended.
struct RecordResult {
    enum Outcome {
        Done,        // loaded, saved or deleted
        Changed,     // changed meanwhile by someone else: record holds it as it is now, and nothing was written
        Gone,        // deleted meanwhile: nothing was written
        Unreachable, // the server is out of reach: nothing was sent, nothing changed
        Unconfirmed, // sent, but not answered in time: whether the server carried it out is not known
        InTransit,   // a count on its way to the server, which is to be changed there once it has it
    };
    Outcome outcome = Done;
    StockRecord record; // as loaded, or as it is now when Changed
};

// A record another station stored, changed or deleted: as it is now, or nothing once it is gone.
struct StockChange {
    std::int64_t id = 0;
    std::optional<StockRecord> record;
};

// How a team station stands with its server, for the window's status line.
struct LinkStatus {
    bool reachable = true;
    std::int64_t waiting = 0; // counts the server does not have yet
    std::string reason;       // why it is out of reach, in the network's or the server's words
};

// What a window hears, as it follows a server, of what it did not do itself.
class StoreObserver {
public:
    virtual ~StoreObserver() = default;
    // Records that other stations stored, changed or deleted, in ascending id.
    virtual void recordsChanged(const std::vector<StockChange> &changes) = 0;
    // A count that waited on the station is on the server now, under the id it gave it.
    virtual void countStored(std::int64_t key, const StockRecord &stored) = 0;
    // Back in reach after a while, the station reads the table anew: every
    // record, in ascending id, from begins to ends, over a few turns of the event
    // loop. A reading cut short ends incomplete, and its records count for nothing.
    virtual void relistBegins() = 0;
    virtual void relisted(const StockRecordView &record) = 0;
    virtual void relistEnds(bool complete) = 0;
    virtual void linkChanged(const LinkStatus &status) = 0;
};

// When a store wants advance() called: its socket readable (or writable), or a moment come.
struct StoreWake {
    int socket = -1;
    bool write = false;
    std::optional<std::chrono::steady_clock::time_point> at;
};

// What a store is opened for: counting, or reading every record for an export,
// which makes and changes nothing, in a file or on a server.
enum class Access { Count, Read };

// Where the counts are kept: the table Stock, in stock.mdb or on a database
// server that several stations share. Every failure throws StoreError; the
// operations on a record answer through done, at once for the file and, for the
// server, from a later advance() within seconds.
class Store {
public:
    using Done = std::function<void(const RecordResult &)>;

    virtual ~Store() = default;

    // Hands every record to visit, in ascending id, then the counts waiting on a
    // team station, oldest first; before the first, expect (when given) learns how
    // many to make room for. The program's first operation: it makes the table
    // where there is none and refuses one that is not the program's.
    virtual void listAll(const std::function<void(const StockRecordView &)> &visit,
                         const std::function<void(const StockListSize &)> &expect = {}) = 0;

    // Keeps a new count: stored in the file, or waiting on a team station until the
    // server has it. A count the table does not keep exactly as given is not kept at all.
    virtual RecordKey append(std::string_view location, std::string_view stockCode, std::string_view quantity) = 0;

    // The record as it is now (Done), or Gone.
    virtual void load(RecordKey key, Done done) = 0;
    // Rewrites the record with the edited texts, or deletes it, but only while it
    // still holds the texts shown, so that no one's change is lost unseen.
    virtual void update(RecordKey key, const StockRecord &shown, std::string_view location,
                        std::string_view stockCode, std::string_view quantity, Done done) = 0;
    virtual void remove(RecordKey key, const StockRecord &shown, Done done) = 0;

    // Where the counts go, as the operator is told: the file, or the server.
    virtual std::string place() const = 0;

    // Following a server: what other stations change, and how the link stands,
    // told to observer from advance(), which the window calls as wake() asks.
    virtual void follow(StoreObserver *) {}
    // How the link to the server stands; nothing for the file.
    virtual std::optional<LinkStatus> link() const { return std::nullopt; }
    virtual StoreWake wake() const { return {}; }
    virtual void advance() {}
};

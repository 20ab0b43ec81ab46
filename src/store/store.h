#pragma once

#include "store/stock_record.h"
#include "store/store_error.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// What a Save found: the record rewritten, changed meanwhile by someone else
// (current then holds it as it is now), or gone.
struct UpdateResult {
    enum Outcome { Saved, Changed, Gone };
    Outcome outcome = Saved;
    StockRecord current;
};

// A record another station stored, changed or deleted: as it is now, or nothing once it is gone.
struct StockChange {
    std::int64_t id = 0;
    std::optional<StockRecord> record;
};

// Where the counts are kept: the table Stock, in stock.mdb beside the program or
// on a database server that several stations share. Every failure throws StoreError.
class Store {
public:
    virtual ~Store() = default;

    // Hands every record to visit, in ascending id; before the first, expect (when
    // given) learns how many to make room for. The program's first operation: it
    // makes the table where there is none and refuses one that is not the program's.
    virtual void listAll(const std::function<void(const StockRecordView &)> &visit,
                         const std::function<void(const StockListSize &)> &expect = {}) const = 0;

    // Stores a new record and returns the id the store gave it. A record the table
    // does not keep exactly as given is not stored at all.
    virtual std::int64_t append(std::string_view location, std::string_view stockCode,
                                std::string_view quantity) const = 0;

    // Nothing when no record has this id.
    virtual std::optional<StockRecord> loadById(std::int64_t id) const = 0;

    // Rewrites the record shown.id with the edited texts, but only while it still holds
    // the texts shown, so that no one's change is overwritten unseen.
    virtual UpdateResult updateById(const StockRecord &shown, std::string_view location, std::string_view stockCode,
                                    std::string_view quantity) const = 0;

    // Deleting an id that names no record changes nothing and is no error.
    virtual void deleteById(std::int64_t id) const = 0;

    // A socket that turns readable when another station may have changed the table,
    // or -1 where no one else counts into it. Valid from listAll on.
    virtual int changeSocket() const { return -1; }
    // What other stations changed since the last call, each record as it is now;
    // never waits for the network.
    virtual std::vector<StockChange> takeChanges() const { return {}; }
};

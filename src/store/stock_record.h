#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One row of the table Stock. The id is given by the store; the three texts are
// kept exactly as they were scanned or typed.
struct StockRecord {
    std::int64_t id = 0;
    std::string location;
    std::string stockCode;
    std::string quantity;

    bool operator==(const StockRecord &) const = default;
};

// The same row as seen while the store walks the table: the texts point into
// the store's own buffers and are valid only during the call that hands them out.
struct StockRecordView {
    std::int64_t id = 0;
    std::string_view location;
    std::string_view stockCode;
    std::string_view quantity;
    // A count on a team station that the server does not have yet; its id is the journal's.
    bool waiting = false;
};

// What ListAll learns of the table before its first record, at a cost that does
// not grow with the table, so that a caller can size its buffers once.
struct StockListSize {
    // Never fewer than the records that follow: their span of ids, clamped by how
    // many rows the file has room for, so one far-off id asks for little.
    std::uint64_t records = 0;
    // The file's size. The texts of a file written as UTF-8 text fit in it; any
    // others may take more.
    std::uint64_t textBytes = 0;
};

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
};

// The same row as seen while the store walks the table: the texts point into
// the store's own buffers and are valid only during the call that hands them out.
struct StockRecordView {
    std::int64_t id = 0;
    std::string_view location;
    std::string_view stockCode;
    std::string_view quantity;
};

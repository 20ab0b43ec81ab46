#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Places buffers of a couple of megabytes and more on whole huge pages and asks
// the kernel to back them so where it may (transparent huge pages in madvise
// mode): filling a million rows then takes tens of page faults, not thousands.
// Where it may not, they are ordinary memory.
void *allocateBulk(std::size_t bytes);
void freeBulk(void *buffer, std::size_t bytes);

template<typename T>
struct BulkAllocator {
    using value_type = T;

    BulkAllocator() = default;
    template<typename U>
    BulkAllocator(const BulkAllocator<U> &)
    {
    }

    T *allocate(std::size_t count) { return static_cast<T *>(allocateBulk(count * sizeof(T))); }
    void deallocate(T *buffer, std::size_t count) { freeBulk(buffer, count * sizeof(T)); }

    template<typename U>
    bool operator==(const BulkAllocator<U> &) const
    {
        return true;
    }
};

// The rows of the stock list, kept compactly: per row only where its id and its
// three cells lie in one shared text buffer, so a million rows cost a few tens of
// megabytes and no allocation each. Cells are UTF-8.
class StockRows {
public:
    enum Cell { LocationCell, CodeCell, QtyCell };

    std::size_t size() const { return m_rows.size(); }

    // Sizes both buffers once for this many rows and text bytes, and room to spare
    // for the run's scans and edits, so that filling them moves nothing.
    void reserve(std::size_t rows, std::size_t textBytes);

    void append(std::int64_t id, std::string_view location, std::string_view code, std::string_view qty);
    void insert(std::size_t position, std::int64_t id, std::string_view location, std::string_view code,
                std::string_view qty);
    // Rewrites the three cells; the id stays.
    void setCells(std::size_t position, std::string_view location, std::string_view code, std::string_view qty);
    void erase(std::size_t position);

    // A row stored, changed or removed, among many at once.
    struct Change {
        std::int64_t id;
        bool removed;
        std::string_view location, code, qty;
    };
    // Carries out changes in ascending id in one pass that copies the rows
    // between them whole: what the list's length costs once, not once a change.
    void merge(const std::vector<Change> &changes);

    std::int64_t id(std::size_t position) const;
    // Rows stay in ascending id: the position of the first row whose id is not below
    // id, by halving, so that no index of ids is kept beside the rows.
    std::size_t lowerBound(std::int64_t id) const;
    std::string_view cell(std::size_t position, Cell cell) const;

private:
    std::uint64_t appendRow(std::int64_t id, std::string_view location, std::string_view code, std::string_view qty);

    // Where each row starts in m_text.
    std::vector<std::uint64_t, BulkAllocator<std::uint64_t>> m_rows;
    // Each row as its id, then each cell as its length and its bytes; numbers take
    // 7 bits a byte, the high bit set on all but the last. Rewritten and removed rows
    // leave their old bytes behind; that is at most what the team edits in one run.
    std::basic_string<char, std::char_traits<char>, BulkAllocator<char>> m_text;
};

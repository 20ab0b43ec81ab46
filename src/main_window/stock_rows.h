#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The rows of the stock list, kept compactly: per row only its tag and where its
// three cells lie in one shared text buffer, so a million rows cost a few tens of
// megabytes and no allocation each. Cells are UTF-8.
class StockRows {
public:
    enum Cell { LocationCell, CodeCell, QtyCell };

    std::size_t size() const { return m_rows.size(); }

    void insert(std::size_t position, std::int64_t tag, std::string_view location, std::string_view code,
                std::string_view qty);
    void append(std::int64_t tag, std::string_view location, std::string_view code, std::string_view qty)
    {
        insert(m_rows.size(), tag, location, code, qty);
    }
    // Rewrites the three cells; the tag stays.
    void setCells(std::size_t position, std::string_view location, std::string_view code, std::string_view qty);
    void erase(std::size_t position);

    std::int64_t tag(std::size_t position) const { return m_rows[position].tag; }
    std::string_view cell(std::size_t position, Cell cell) const;

private:
    struct Row {
        std::int64_t tag;
        std::uint64_t offset; // where the row's cells start in m_text
    };

    std::uint64_t appendCells(std::string_view location, std::string_view code, std::string_view qty);

    std::vector<Row> m_rows;
    // Each cell as its length (7 bits a byte, high bit set on all but the last) and
    // its bytes. Rewritten and removed rows leave their old cells behind; that is
    // at most what the operator edits in one run.
    std::string m_text;
};

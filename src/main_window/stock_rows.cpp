#include "stock_rows.h"

namespace {

void appendLength(std::string &text, std::size_t length)
{
    while (length >= 0x80) {
        text.push_back(static_cast<char>(0x80 | (length & 0x7f)));
        length >>= 7;
    }
    text.push_back(static_cast<char>(length));
}

std::size_t readLength(const std::string &text, std::size_t &at)
{
    std::size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(text[at++]);
        length |= std::size_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return length;
    }
}

} // namespace

void StockRows::insert(std::size_t position, std::int64_t tag, std::string_view location, std::string_view code,
                       std::string_view qty)
{
    const std::uint64_t offset = appendCells(location, code, qty);
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(position), Row{tag, offset});
}

void StockRows::setCells(std::size_t position, std::string_view location, std::string_view code,
                         std::string_view qty)
{
    m_rows[position].offset = appendCells(location, code, qty);
}

void StockRows::erase(std::size_t position)
{
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
}

std::string_view StockRows::cell(std::size_t position, Cell cell) const
{
    std::size_t at = m_rows[position].offset;
    for (int skipped = 0; skipped < cell; ++skipped)
        at += readLength(m_text, at);
    const std::size_t length = readLength(m_text, at);
    return std::string_view(m_text).substr(at, length);
}

std::uint64_t StockRows::appendCells(std::string_view location, std::string_view code, std::string_view qty)
{
    const std::uint64_t offset = m_text.size();
    for (std::string_view cell : {location, code, qty}) {
        appendLength(m_text, cell.size());
        m_text.append(cell);
    }
    return offset;
}

#include "main_window/stock_rows.h"

#include <QtGlobal>

#include <algorithm>
#include <new>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t hugePageBytes = std::size_t(2) << 20;

// Room for a long day's scans and edits on top of the rows read at start.
constexpr std::size_t spareRows = 16384;
constexpr std::size_t spareTextBytes = spareRows * 64;

template<typename Text>
void appendNumber(Text &text, std::uint64_t number)
{
    while (number >= 0x80) {
        text.push_back(static_cast<char>(0x80 | (number & 0x7f)));
        number >>= 7;
    }
    text.push_back(static_cast<char>(number));
}

std::uint64_t readNumber(std::string_view text, std::size_t &at)
{
    std::uint64_t number = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(text[at++]);
        number |= std::uint64_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return number;
    }
}

} // namespace

void *allocateBulk(std::size_t bytes)
{
    if (bytes < hugePageBytes)
        return ::operator new(bytes);
    const std::size_t whole = (bytes + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    void *buffer = ::operator new(whole, std::align_val_t(hugePageBytes));
#ifdef Q_OS_LINUX
    // Only advice: where huge pages are off or unknown the call fails and nothing changes.
    madvise(buffer, whole, MADV_HUGEPAGE);
#endif
    return buffer;
}

void freeBulk(void *buffer, std::size_t bytes)
{
    if (bytes < hugePageBytes)
        ::operator delete(buffer);
    else
        ::operator delete(buffer, std::align_val_t(hugePageBytes));
}

void StockRows::reserve(std::size_t rows, std::size_t textBytes)
{
    m_rows.reserve(rows + spareRows);
    m_text.reserve(textBytes + spareTextBytes);
}

void StockRows::append(std::int64_t id, std::string_view location, std::string_view code, std::string_view qty)
{
    m_rows.push_back(appendRow(id, location, code, qty));
}

void StockRows::insert(std::size_t position, std::int64_t id, std::string_view location, std::string_view code,
                       std::string_view qty)
{
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(position), appendRow(id, location, code, qty));
}

void StockRows::setCells(std::size_t position, std::string_view location, std::string_view code, std::string_view qty)
{
    m_rows[position] = appendRow(id(position), location, code, qty);
}

void StockRows::erase(std::size_t position)
{
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
}

void StockRows::merge(const std::vector<Change> &changes)
{
    decltype(m_rows) rows;
    rows.reserve(m_rows.size() + changes.size() + spareRows);
    std::size_t from = 0;
    for (const Change &change : changes) {
        const std::size_t at = std::max(from, lowerBound(change.id));
        rows.insert(rows.end(), m_rows.begin() + std::ptrdiff_t(from), m_rows.begin() + std::ptrdiff_t(at));
        from = at < m_rows.size() && id(at) == change.id ? at + 1 : at;
        if (!change.removed)
            rows.push_back(appendRow(change.id, change.location, change.code, change.qty));
    }
    rows.insert(rows.end(), m_rows.begin() + std::ptrdiff_t(from), m_rows.end());
    m_rows = std::move(rows);
}

std::int64_t StockRows::id(std::size_t position) const
{
    std::size_t at = m_rows[position];
    return static_cast<std::int64_t>(readNumber(m_text, at));
}

std::size_t StockRows::lowerBound(std::int64_t id) const
{
    // Another station's count is nearly always the newest: one look at the last row finds its place.
    if (m_rows.empty() || this->id(m_rows.size() - 1) < id)
        return m_rows.size();
    std::size_t first = 0, count = m_rows.size();
    while (count > 0) {
        const std::size_t half = count / 2;
        if (this->id(first + half) < id) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

std::string_view StockRows::cell(std::size_t position, Cell cell) const
{
    std::size_t at = m_rows[position];
    readNumber(m_text, at); // the id
    for (int skipped = 0; skipped < cell; ++skipped)
        at += readNumber(m_text, at);
    const std::size_t length = readNumber(m_text, at);
    return std::string_view(m_text).substr(at, length);
}

std::uint64_t StockRows::appendRow(std::int64_t id, std::string_view location, std::string_view code,
                                   std::string_view qty)
{
    const std::uint64_t offset = m_text.size();
    appendNumber(m_text, static_cast<std::uint64_t>(id));
    for (std::string_view cell : {location, code, qty}) {
        appendNumber(m_text, cell.size());
        m_text.append(cell);
    }
    return offset;
}

#include "main_window/stock_list_model.h"

#include <QBrush>
#include <QFont>

namespace {

std::string_view utf8(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The list shows no more of a cell than this many characters, then an ellipsis:
// laying out a text of megabytes would hold up every paint of its row. The
// store and the item editor keep the whole text.
constexpr std::size_t shownCharacters = 300;

QString shown(std::string_view cell)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        // A character starts at every byte that does not continue one.
        if ((static_cast<unsigned char>(cell[i]) & 0xC0) != 0x80 && characters++ == shownCharacters)
            return fromUtf8(cell.substr(0, i)) + QChar(0x2026);
    }
    return fromUtf8(cell);
}

// Up to this many changes are shown row by row, each moving the rows after it;
// more are merged into the list in one pass.
constexpr std::size_t changesOneByOne = 16;

bool sameCells(const StockRows &a, std::size_t row, const StockRows &b, std::size_t other)
{
    for (StockRows::Cell cell : {StockRows::LocationCell, StockRows::CodeCell, StockRows::QtyCell})
        if (a.cell(row, cell) != b.cell(other, cell))
            return false;
    return true;
}

StockRecord recordOf(const StockRows &rows, std::size_t row)
{
    return {rows.id(row), std::string(rows.cell(row, StockRows::LocationCell)),
            std::string(rows.cell(row, StockRows::CodeCell)), std::string(rows.cell(row, StockRows::QtyCell))};
}

} // namespace

int StockListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_stored.size() + m_waiting.size());
}

int StockListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StockListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    std::size_t position = 0;
    const StockRows &rows = section(index.row(), position);
    const auto cell = static_cast<StockRows::Cell>(index.column());
    const bool waiting = &rows == &m_waiting;
    switch (role) {
    case Qt::DisplayRole:
        return shown(rows.cell(position, cell));
    case Qt::AccessibleTextRole:
        // Read last of the row, so that a screen reader says it after the texts.
        if (waiting && index.column() == QtyColumn)
            return shown(rows.cell(position, cell)) + tr(", waiting for the server");
        return {};
    case Qt::ToolTipRole:
        return waiting ? tr("Waiting to reach the server") : QVariant();
    case Qt::FontRole:
        if (waiting) {
            QFont italic;
            italic.setItalic(true);
            return italic;
        }
        return {};
    case Qt::ForegroundRole:
        return waiting ? QBrush(QColor(0x59, 0x59, 0x59)) : QVariant();
    default:
        return {};
    }
}

QVariant StockListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case LocationColumn:
        return tr("Location");
    case CodeColumn:
        return tr("Code");
    case QtyColumn:
        return tr("QTY");
    }
    return {};
}

Qt::ItemFlags StockListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return QAbstractTableModel::flags(index);
    // Rows never have children; telling the view spares it a question per row.
    return QAbstractTableModel::flags(index) | Qt::ItemNeverHasChildren;
}

void StockListModel::setRows(StockRows stored, StockRows waiting)
{
    beginResetModel();
    m_stored = std::move(stored);
    m_waiting = std::move(waiting);
    endResetModel();
}

int StockListModel::insertRecord(RecordKey key, const RecordTexts &texts)
{
    const bool stored = key.place == RecordKey::Place::Stored;
    StockRows &rows = stored ? m_stored : m_waiting;
    const std::size_t position = rows.lowerBound(key.number);
    const int row = static_cast<int>(position) + (stored ? 0 : storedRows());
    beginInsertRows({}, row, row);
    rows.insert(position, key.number, utf8(texts.location.toUtf8()), utf8(texts.stockCode.toUtf8()),
                utf8(texts.quantity.toUtf8()));
    endInsertRows();
    return row;
}

void StockListModel::setRecord(int row, const RecordTexts &texts)
{
    std::size_t position = 0;
    auto &rows = const_cast<StockRows &>(section(row, position));
    rows.setCells(position, utf8(texts.location.toUtf8()), utf8(texts.stockCode.toUtf8()),
                  utf8(texts.quantity.toUtf8()));
    emit dataChanged(index(row, LocationColumn), index(row, QtyColumn));
}

void StockListModel::removeRecord(int row)
{
    std::size_t position = 0;
    auto &rows = const_cast<StockRows &>(section(row, position));
    beginRemoveRows({}, row, row);
    rows.erase(position);
    endRemoveRows();
}

void StockListModel::countStored(qint64 key, qint64 id, const RecordTexts &texts)
{
    const int from = rowOf({RecordKey::Place::Waiting, key});
    if (from < 0)
        return;
    // Read anew from the server meanwhile (its answer lost, it was sent again): listed already.
    if (const int listed = rowOf({RecordKey::Place::Stored, id}); listed >= 0) {
        setRecord(listed, texts);
        removeRecord(from);
        return;
    }
    const int to = static_cast<int>(m_stored.lowerBound(id));
    const auto move = [&] {
        m_waiting.erase(std::size_t(from - storedRows()));
        m_stored.insert(std::size_t(to), id, utf8(texts.location.toUtf8()), utf8(texts.stockCode.toUtf8()),
                        utf8(texts.quantity.toUtf8()));
    };
    // Nearly always the newest record: its row stays where it is, only no longer waiting.
    if (to == from) {
        move();
        emit dataChanged(index(to, LocationColumn), index(to, QtyColumn));
        return;
    }
    beginMoveRows({}, from, from, {}, to);
    move();
    endMoveRows();
}

void StockListModel::applyChanges(const std::vector<StockChange> &changes)
{
    if (changes.size() <= changesOneByOne) {
        for (const StockChange &change : changes) {
            const int row = rowOf({RecordKey::Place::Stored, change.id});
            if (!change.record) {
                if (row >= 0)
                    removeRecord(row);
                continue;
            }
            const RecordTexts texts{QString::fromStdString(change.record->location),
                                    QString::fromStdString(change.record->stockCode),
                                    QString::fromStdString(change.record->quantity)};
            if (row >= 0)
                setRecord(row, texts);
            else
                insertRecord({RecordKey::Place::Stored, change.id}, texts);
        }
        return;
    }
    std::vector<StockRows::Change> merged;
    merged.reserve(changes.size());
    for (const StockChange &change : changes)
        merged.push_back(change.record ? StockRows::Change{change.id, false, change.record->location,
                                                           change.record->stockCode, change.record->quantity}
                                       : StockRows::Change{change.id, true, {}, {}, {}});
    relayout([&] { m_stored.merge(merged); });
}

void StockListModel::replaceStored(StockRows fresh)
{
    // What differs, as changes; many of them, and the fresh rows take the place of the old at once.
    std::vector<StockChange> changes;
    std::size_t old = 0, now = 0;
    while ((old < m_stored.size() || now < fresh.size()) && changes.size() <= changesOneByOne) {
        const bool oldFirst = now == fresh.size() || (old < m_stored.size() && m_stored.id(old) < fresh.id(now));
        if (oldFirst) {
            changes.push_back({m_stored.id(old++), std::nullopt});
        } else if (old < m_stored.size() && m_stored.id(old) == fresh.id(now)) {
            if (!sameCells(m_stored, old, fresh, now))
                changes.push_back({fresh.id(now), recordOf(fresh, now)});
            ++old, ++now;
        } else {
            changes.push_back({fresh.id(now), recordOf(fresh, now)});
            ++now;
        }
    }
    if (changes.size() <= changesOneByOne)
        applyChanges(changes);
    else
        relayout([&] { m_stored = std::move(fresh); });
}

void StockListModel::relayout(const std::function<void()> &change)
{
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<RecordKey> keys;
    keys.reserve(std::size_t(before.size()));
    for (const QModelIndex &index : before)
        keys.push_back(key(index.row()));
    change();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = rowOf(keys[std::size_t(i)]);
        after.append(row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

const StockRows &StockListModel::section(int row, std::size_t &position) const
{
    if (row < storedRows()) {
        position = std::size_t(row);
        return m_stored;
    }
    position = std::size_t(row - storedRows());
    return m_waiting;
}

RecordKey StockListModel::key(int row) const
{
    std::size_t position = 0;
    const StockRows &rows = section(row, position);
    return {&rows == &m_stored ? RecordKey::Place::Stored : RecordKey::Place::Waiting, rows.id(position)};
}

int StockListModel::rowOf(RecordKey key) const
{
    const bool stored = key.place == RecordKey::Place::Stored;
    const StockRows &rows = stored ? m_stored : m_waiting;
    const std::size_t position = rows.lowerBound(key.number);
    if (position == rows.size() || rows.id(position) != key.number)
        return -1;
    return static_cast<int>(position) + (stored ? 0 : storedRows());
}

RecordTexts StockListModel::texts(int row) const
{
    std::size_t position = 0;
    const StockRows &rows = section(row, position);
    return {fromUtf8(rows.cell(position, StockRows::LocationCell)), fromUtf8(rows.cell(position, StockRows::CodeCell)),
            fromUtf8(rows.cell(position, StockRows::QtyCell))};
}

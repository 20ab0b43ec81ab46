#include "main_window/stock_list_model.h"

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

} // namespace

int StockListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StockListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StockListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return shown(m_rows.cell(index.row(), static_cast<StockRows::Cell>(index.column())));
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

void StockListModel::setRows(StockRows rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int StockListModel::insertRecord(qint64 id, const RecordTexts &texts)
{
    const int row = static_cast<int>(m_rows.lowerBound(id));
    beginInsertRows({}, row, row);
    m_rows.insert(row, id, utf8(texts.location.toUtf8()), utf8(texts.stockCode.toUtf8()),
                  utf8(texts.quantity.toUtf8()));
    endInsertRows();
    return row;
}

void StockListModel::setRecord(int row, const RecordTexts &texts)
{
    m_rows.setCells(row, utf8(texts.location.toUtf8()), utf8(texts.stockCode.toUtf8()), utf8(texts.quantity.toUtf8()));
    emit dataChanged(index(row, LocationColumn), index(row, QtyColumn), {Qt::DisplayRole});
}

void StockListModel::removeRecord(int row)
{
    beginRemoveRows({}, row, row);
    m_rows.erase(row);
    endRemoveRows();
}

qint64 StockListModel::id(int row) const
{
    return m_rows.id(row);
}

int StockListModel::rowOf(qint64 id) const
{
    const std::size_t row = m_rows.lowerBound(id);
    return row < m_rows.size() && m_rows.id(row) == id ? static_cast<int>(row) : -1;
}

RecordTexts StockListModel::texts(int row) const
{
    return {fromUtf8(m_rows.cell(row, StockRows::LocationCell)), fromUtf8(m_rows.cell(row, StockRows::CodeCell)),
            fromUtf8(m_rows.cell(row, StockRows::QtyCell))};
}

#include "widgets/stock_list_accessible.h"

#include "widgets/stock_list_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace {

// One cell of the list, one column title, or the stand-in for a cell that is
// not there (row or column out of range).
class StockListCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    enum class Kind { Cell, ColumnTitle, NoCell };

    StockListCell(StockListView *view, Kind kind, int row, int column)
        : m_view(view), m_kind(kind), m_row(row), m_column(column)
    {
    }

    void moveToRow(int row) { m_row = row; }

    bool isValid() const override
    {
        if (!m_view || !m_view->model())
            return false;
        switch (m_kind) {
        case Kind::Cell:
            return m_row >= 0 && m_row < m_view->model()->rowCount(m_view->rootIndex()) && columnInRange();
        case Kind::ColumnTitle:
            return columnInRange();
        case Kind::NoCell:
            return true;
        }
        return false;
    }

    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QAccessible::Role role() const override
    {
        return m_kind == Kind::ColumnTitle ? QAccessible::ColumnHeader : QAccessible::Cell;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        if (m_kind == Kind::ColumnTitle)
            return m_view->model()->headerData(m_column, Qt::Horizontal).toString();
        if (m_kind == Kind::Cell) {
            // What the model says a screen reader should read, else what the cell shows.
            const QVariant spoken = index().data(Qt::AccessibleTextRole);
            return spoken.isValid() ? spoken.toString() : index().data().toString();
        }
        return {};
    }

    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override
    {
        if (!isValid() || m_kind == Kind::NoCell)
            return {};
        if (m_kind == Kind::ColumnTitle) {
            const QHeaderView *header = m_view->header();
            const QRect title(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column),
                              header->height());
            return {header->mapToGlobal(title.topLeft()), title.size()};
        }
        const QRect cell = m_view->visualRect(index());
        return {m_view->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (m_kind != Kind::Cell || !isValid()) {
            state.invisible = m_kind == Kind::NoCell;
            return state;
        }
        const QModelIndex cell = index();
        state.selectable = true;
        state.focusable = true;
        state.selected = isSelected();
        state.focused = m_view->hasFocus() && m_view->currentIndex() == cell;
        state.offscreen = !m_view->viewport()->rect().intersects(m_view->visualRect(cell));
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface && m_kind != Kind::ColumnTitle)
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override
    {
        return m_kind == Kind::Cell && isValid() && m_view->selectionModel()
            && m_view->selectionModel()->isSelected(index());
    }
    int columnExtent() const override { return m_kind == Kind::Cell ? 1 : 0; }
    int rowExtent() const override { return m_kind == Kind::Cell ? 1 : 0; }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        if (m_kind != Kind::Cell || !isValid())
            return {};
        return {static_cast<StockListAccessible *>(table())->headerCell(m_column)};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_kind == Kind::Cell ? m_column : -1; }
    int rowIndex() const override { return m_kind == Kind::Cell ? m_row : -1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    bool columnInRange() const { return m_column >= 0 && m_column < m_view->model()->columnCount(m_view->rootIndex()); }
    QModelIndex index() const { return m_view->model()->index(m_row, m_column, m_view->rootIndex()); }

    QPointer<StockListView> m_view;
    Kind m_kind;
    int m_row;
    int m_column;
};

} // namespace

QAccessibleInterface *accessibleStockList(const QString &className, QObject *object)
{
    if (className == QLatin1String("StockListView"))
        if (auto *view = qobject_cast<StockListView *>(object))
            return new StockListAccessible(view);
    return nullptr;
}

StockListAccessible::StockListAccessible(StockListView *view) : QAccessibleWidget(view, QAccessible::Table)
{
}

StockListAccessible::~StockListAccessible()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_modelConnections))
        QObject::disconnect(connection);
    forgetCells();
    if (m_noCell)
        QAccessible::deleteAccessibleInterface(m_noCell);
}

StockListView *StockListAccessible::view() const
{
    return static_cast<StockListView *>(widget());
}

int StockListAccessible::rowCount() const
{
    const QAbstractItemModel *model = view()->model();
    return model ? model->rowCount(view()->rootIndex()) : 0;
}

int StockListAccessible::columnCount() const
{
    const QAbstractItemModel *model = view()->model();
    return model ? model->columnCount(view()->rootIndex()) : 0;
}

int StockListAccessible::childCount() const
{
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface *StockListAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0 || index >= childCount())
        return nullptr;
    if (index < columns)
        return headerCell(index);
    return cellAt(index / columns - 1, index % columns);
}

int StockListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->parent() != this)
        return -1;
    if (child->role() == QAccessible::ColumnHeader) {
        for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return static_cast<int>(it.key() & 0xffffffffu);
        return -1;
    }
    QAccessibleTableCellInterface *cell = const_cast<QAccessibleInterface *>(child)->tableCellInterface();
    if (!cell || cell->rowIndex() < 0)
        return -1;
    return view()->accessibleChild(view()->model()->index(cell->rowIndex(), cell->columnIndex(), view()->rootIndex()));
}

QAccessibleInterface *StockListAccessible::childAt(int x, int y) const
{
    const QPoint global(x, y);
    const QHeaderView *header = view()->header();
    const QPoint inHeader = header->mapFromGlobal(global);
    if (header->isVisible() && header->rect().contains(inHeader)) {
        const int column = header->logicalIndexAt(inHeader.x());
        return column < 0 ? nullptr : headerCell(column);
    }
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(global));
    return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
}

QAccessibleInterface *StockListAccessible::focusChild() const
{
    const QModelIndex current = view()->currentIndex();
    return current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
}

void *StockListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

quint64 StockListAccessible::key(int row, int column)
{
    return (static_cast<quint64>(static_cast<quint32>(row)) << 32) | static_cast<quint32>(column);
}

QAccessibleInterface *StockListAccessible::cached(int row, int column) const
{
    followModel();
    const quint64 cellKey = key(row, column);
    if (const auto found = m_cells.constFind(cellKey); found != m_cells.cend())
        return QAccessible::accessibleInterface(found.value());
    const auto kind = row < 0 ? StockListCell::Kind::ColumnTitle : StockListCell::Kind::Cell;
    QAccessibleInterface *cell = new StockListCell(view(), kind, row, column);
    m_cells.insert(cellKey, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

QAccessibleInterface *StockListAccessible::headerCell(int column) const
{
    if (column < 0 || column >= columnCount())
        return nullptr;
    return cached(-1, column);
}

QAccessibleInterface *StockListAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        if (!m_noCell)
            m_noCell = QAccessible::registerAccessibleInterface(
                new StockListCell(view(), StockListCell::Kind::NoCell, -1, -1));
        return QAccessible::accessibleInterface(m_noCell);
    }
    return cached(row, column);
}

int StockListAccessible::selectedCellCount() const
{
    return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface *> StockListAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    const int columns = columnCount();
    for (int row : selectedRows())
        for (int column = 0; column < columns; ++column)
            cells.append(cellAt(row, column));
    return cells;
}

QString StockListAccessible::columnDescription(int column) const
{
    const QAbstractItemModel *model = view()->model();
    return model ? model->headerData(column, Qt::Horizontal).toString() : QString();
}

int StockListAccessible::selectedRowCount() const
{
    return static_cast<int>(selectedRows().size());
}

QList<int> StockListAccessible::selectedRows() const
{
    QList<int> rows;
    if (const QItemSelectionModel *selection = view()->selectionModel())
        for (const QModelIndex &index : selection->selectedRows())
            rows.append(index.row());
    return rows;
}

bool StockListAccessible::isRowSelected(int row) const
{
    const QItemSelectionModel *selection = view()->selectionModel();
    return selection && row >= 0 && row < rowCount() && selection->isRowSelected(row, view()->rootIndex());
}

bool StockListAccessible::selectRow(int row)
{
    QItemSelectionModel *selection = view()->selectionModel();
    if (!selection || row < 0 || row >= rowCount() || view()->selectionMode() == QAbstractItemView::NoSelection)
        return false;
    const auto how = view()->selectionMode() == QAbstractItemView::SingleSelection ? QItemSelectionModel::ClearAndSelect
                                                                                   : QItemSelectionModel::Select;
    selection->select(view()->model()->index(row, 0, view()->rootIndex()), how | QItemSelectionModel::Rows);
    return true;
}

bool StockListAccessible::unselectRow(int row)
{
    QItemSelectionModel *selection = view()->selectionModel();
    if (!selection || row < 0 || row >= rowCount())
        return false;
    selection->select(view()->model()->index(row, 0, view()->rootIndex()),
                      QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void StockListAccessible::followModel() const
{
    QAbstractItemModel *model = view()->model();
    if (model == m_model)
        return;
    forgetCells();
    for (const QMetaObject::Connection &connection : std::as_const(m_modelConnections))
        QObject::disconnect(connection);
    m_modelConnections.clear();
    m_model = model;
    if (!model)
        return;
    // Before the change, so that whoever hears of it afterwards finds the cells in place.
    const auto forget = [this] { forgetCells(); };
    m_modelConnections = {
        QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, view(),
                         [this](const QModelIndex &, int first, int last) { rowsMoving(first, last, true); }),
        QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, view(),
                         [this](const QModelIndex &, int first, int last) { rowsMoving(first, last, false); }),
        QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, view(), forget),
        QObject::connect(model, &QAbstractItemModel::layoutAboutToBeChanged, view(), forget),
        QObject::connect(model, &QAbstractItemModel::rowsAboutToBeMoved, view(), forget),
        QObject::connect(model, &QAbstractItemModel::columnsAboutToBeInserted, view(), forget),
        QObject::connect(model, &QAbstractItemModel::columnsAboutToBeRemoved, view(), forget),
        QObject::connect(model, &QAbstractItemModel::columnsAboutToBeMoved, view(), forget),
    };
}

void StockListAccessible::rowsMoving(int first, int last, bool inserted) const
{
    const int count = last - first + 1;
    QHash<quint64, QAccessible::Id> kept;
    for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it) {
        const int row = static_cast<qint32>(it.key() >> 32);
        const int column = static_cast<int>(it.key() & 0xffffffffu);
        if (row < first) {
            kept.insert(it.key(), it.value());
        } else if (!inserted && row <= last) {
            QAccessible::deleteAccessibleInterface(it.value());
        } else {
            const int moved = inserted ? row + count : row - count;
            static_cast<StockListCell *>(QAccessible::accessibleInterface(it.value()))->moveToRow(moved);
            kept.insert(key(moved, column), it.value());
        }
    }
    m_cells = std::move(kept);
}

void StockListAccessible::forgetCells() const
{
    for (QAccessible::Id id : std::as_const(m_cells))
        QAccessible::deleteAccessibleInterface(id);
    m_cells.clear();
}

#include "widgets/stock_list_view.h"

#include <QAccessible>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

StockListView::StockListView(QWidget *parent)
    : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this))
{
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
}

void StockListView::setModel(QAbstractItemModel *model)
{
    m_header->setModel(model);
    QAbstractItemView::setModel(model);
    if (!model)
        return;
    // Rows that move in a new layout keep the one at the top of the view where it was.
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        const int height = rowHeight();
        m_topRow = this->model()->index(verticalOffset() / height, 0, rootIndex());
        m_topRowShift = verticalOffset() % height;
    });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] {
        updateGeometries();
        if (m_topRow.isValid())
            verticalScrollBar()->setValue(m_topRow.row() * rowHeight() + m_topRowShift);
        m_topRow = QPersistentModelIndex();
        viewport()->update();
    });
    connect(model, &QAbstractItemModel::rowsMoved, viewport(), qOverload<>(&QWidget::update));
}

int StockListView::rowHeight() const
{
    // A line of text and 4 pixels of air, asked of the font each time so that
    // it follows whatever font the window gives the list.
    return fontMetrics().height() + 4;
}

int StockListView::accessibleChild(const QModelIndex &index) const
{
    return (index.row() + 1) * model()->columnCount(rootIndex()) + index.column();
}

int StockListView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

std::pair<int, int> StockListView::rowsBetween(int top, int bottom) const
{
    const int offset = verticalOffset();
    const int height = rowHeight();
    if (bottom + offset < 0)
        return {0, -1};
    return {qMax(0, (top + offset) / height), qMin(rowCount() - 1, (bottom + offset) / height)};
}

QRect StockListView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || isIndexHidden(index))
        return {};
    return {m_header->sectionViewportPosition(index.column()), index.row() * rowHeight() - verticalOffset(),
            m_header->sectionSize(index.column()), rowHeight()};
}

void StockListView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    const QRect cell = visualRect(index);
    if (cell.isEmpty())
        return;

    const int viewportHeight = viewport()->height();
    const int top = verticalOffset() + cell.top();
    const int height = cell.height();
    switch (hint) {
    case EnsureVisible:
        if (cell.top() < 0)
            verticalScrollBar()->setValue(top);
        else if (cell.bottom() >= viewportHeight)
            verticalScrollBar()->setValue(top + height - viewportHeight);
        break;
    case PositionAtTop:
        verticalScrollBar()->setValue(top);
        break;
    case PositionAtBottom:
        verticalScrollBar()->setValue(top + height - viewportHeight);
        break;
    case PositionAtCenter:
        verticalScrollBar()->setValue(top - (viewportHeight - height) / 2);
        break;
    }

    // A column wider than the viewport shows its start.
    const int viewportWidth = viewport()->width();
    if (cell.left() < 0)
        horizontalScrollBar()->setValue(horizontalOffset() + cell.left());
    else if (cell.right() >= viewportWidth)
        horizontalScrollBar()->setValue(horizontalOffset() + qMin(cell.left(), cell.right() + 1 - viewportWidth));
}

QModelIndex StockListView::indexAt(const QPoint &point) const
{
    const auto [row, lastRow] = rowsBetween(point.y(), point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row > lastRow || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

void StockListView::keyboardSearch(const QString &)
{
    // Letters typed into the list are a code scanned while it had the keyboard,
    // not a search: jumping to a row whose location starts with them helps no one,
    // and looking costs a pass over every row at each letter.
}

QModelIndex StockListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());

    const int rowsInPage = qMax(1, viewport()->height() / rowHeight());
    int row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= rowsInPage;
        break;
    case MovePageDown:
        row += rowsInPage;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        // Cell by cell along the row, where a screen reader names each cell's column.
        return model()->index(
            row,
            qBound(0, current.column() + (cursorAction == MoveLeft ? -1 : 1), model()->columnCount(rootIndex()) - 1),
            rootIndex());
    }
    return model()->index(qBound(0, row, rows - 1), current.column(), rootIndex());
}

int StockListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int StockListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool StockListView::isIndexHidden(const QModelIndex &index) const
{
    return m_header->isSectionHidden(index.column());
}

void StockListView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const auto [first, last] = rowsBetween(area.top(), area.bottom());
    if (first > last)
        return;
    // Whole rows, whatever columns the rectangle spans: the operator picks records, not cells.
    const QModelIndex root = rootIndex();
    selectionModel()->select(
        QItemSelection(model()->index(first, 0, root), model()->index(last, model()->columnCount(root) - 1, root)),
        command);
}

QRegion StockListView::visualRegionForSelection(const QItemSelection &selection) const
{
    // Only the rows on screen: a selection may span the whole list.
    const auto [firstShown, lastShown] = rowsBetween(0, viewport()->height() - 1);
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int top = qMax(range.top(), firstShown);
        const int bottom = qMin(range.bottom(), lastShown);
        if (top > bottom)
            continue;
        const QModelIndex topLeft = model()->index(top, range.left(), rootIndex());
        const QModelIndex bottomRight = model()->index(bottom, range.right(), rootIndex());
        region += QRect(visualRect(topLeft).topLeft(), visualRect(bottomRight).bottomRight());
    }
    return region;
}

void StockListView::updateGeometries()
{
    const int headerHeight = m_header->isHidden()
        ? 0
        : qBound(m_header->minimumHeight(), m_header->sizeHint().height(), m_header->maximumHeight());
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect viewportArea = viewport()->geometry();
    m_header->setGeometry(viewportArea.left(), viewportArea.top() - headerHeight, viewportArea.width(), headerHeight);

    // Scroll bars only where the rows or the columns do not fit.
    const int contentWidth = m_header->length();
    const int contentHeight = rowCount() * rowHeight();
    QSize shown = viewport()->size();
    const QSize most = maximumViewportSize();
    if (most.width() >= contentWidth && most.height() >= contentHeight)
        shown = most;

    // An arrow click moves a row, and sideways as far.
    horizontalScrollBar()->setSingleStep(rowHeight());
    horizontalScrollBar()->setPageStep(shown.width());
    horizontalScrollBar()->setRange(0, qMax(0, contentWidth - shown.width()));
    verticalScrollBar()->setSingleStep(rowHeight());
    verticalScrollBar()->setPageStep(shown.height());
    verticalScrollBar()->setRange(0, qMax(0, contentHeight - shown.height()));
    m_header->setOffset(horizontalOffset());

    QAbstractItemView::updateGeometries();
}

void StockListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    // Rows another station stored above those in view move them nowhere: the view moves along.
    const int above = start * rowHeight() < verticalOffset() ? (end - start + 1) * rowHeight() : 0;
    updateGeometries();
    if (above) {
        verticalScrollBar()->setValue(verticalOffset() + above);
        viewport()->update();
        return;
    }
    // The rows from the first new one down move; those above stay as they are.
    const int top = start * rowHeight() - verticalOffset();
    if (top < viewport()->height())
        viewport()->update(0, qMax(0, top), viewport()->width(), viewport()->height() - qMax(0, top));
}

void StockListView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    // Nor do rows that leave from above them.
    const int above = qMax(0, qMin(end + 1, verticalOffset() / rowHeight()) - start);
    if (above) {
        verticalScrollBar()->setValue(verticalOffset() - above * rowHeight());
        viewport()->update();
    }
    // The rows are still there now; lay the view out once they have gone, as
    // QAbstractItemView does after a reset.
    scheduleDelayedItemsLayout();
}

void StockListView::scrollContentsBy(int dx, int dy)
{
    m_header->setOffset(horizontalOffset());
    viewport()->scroll(dx, dy);
}

void StockListView::paintEvent(QPaintEvent *event)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // The selection fills each cell, as in a table.
    option.showDecorationSelected = true;
    const bool showFocus = hasFocus() || viewport()->hasFocus();
    const QModelIndex root = rootIndex();
    QPainter painter(viewport());

    for (const QRect &dirty : event->region()) {
        const auto [first, last] = rowsBetween(dirty.top(), dirty.bottom());
        const int left = m_header->visualIndexAt(dirty.left());
        if (left < 0)
            continue; // right of the last column there is only background
        int right = m_header->visualIndexAt(dirty.right());
        if (right < 0)
            right = m_header->count() - 1;
        for (int row = first; row <= last; ++row) {
            for (int visual = left; visual <= right; ++visual) {
                const QModelIndex index = model()->index(row, m_header->logicalIndex(visual), root);
                if (isIndexHidden(index))
                    continue;
                QStyleOptionViewItem cell = option;
                cell.rect = visualRect(index);
                if (selectionModel()->isSelected(index))
                    cell.state |= QStyle::State_Selected;
                if (!(model()->flags(index) & Qt::ItemIsEnabled))
                    cell.state &= ~QStyle::State_Enabled;
                cell.palette.setCurrentColorGroup(cell.state & QStyle::State_Enabled ? QPalette::Normal
                                                                                     : QPalette::Disabled);
                if (showFocus && index == currentIndex())
                    cell.state |= QStyle::State_HasFocus;
                style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
                itemDelegateForIndex(index)->paint(&painter, cell, index);
            }
        }
    }
}

void StockListView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // A screen reader follows the keys through the list by the focused cell, as
    // in Qt's own tables.
    focusCurrentCell();
    QAbstractItemView::currentChanged(current, previous);
}

void StockListView::focusInEvent(QFocusEvent *event)
{
    QAbstractItemView::focusInEvent(event); // makes the first row current if none is
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    // As in list views, the row the keys start from is the selected one, the row
    // F2 opens; a click selects its own.
    if (event->reason() != Qt::MouseFocusReason && !selectionModel()->isRowSelected(current.row(), rootIndex()))
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Qt tells a screen reader of the list's focus only after this handler, and
    // the reader then reads the list, not its row: the cell follows.
    if (QAccessible::isActive())
        QMetaObject::invokeMethod(this, &StockListView::focusCurrentCell, Qt::QueuedConnection);
}

void StockListView::focusCurrentCell()
{
    // Without a screen reader no cell's accessible object is made.
    const QModelIndex current = currentIndex();
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(accessibleChild(current));
        QAccessible::updateAccessibility(&focus);
    }
}

void StockListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Only the left button's double-click opens a row; with any other button
    // the second click is a click like the first.
    if (event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    QAbstractItemView::mouseDoubleClickEvent(event);
}

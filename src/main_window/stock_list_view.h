#pragma once

#include <QAbstractItemView>

#include <utility>

class QHeaderView;

// A report list: the model's columns under a header, rows of one height fixed by
// the font. A row's place follows from its number alone, so the view keeps
// nothing per row, and adding, scrolling and painting cost the same however
// long the list. Places are whole pixels in an int: some 140 million rows at most.
class StockListView : public QAbstractItemView {
    Q_OBJECT

public:
    explicit StockListView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;

    QHeaderView *header() const { return m_header; }
    int rowHeight() const;

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
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    int rowCount() const;
    // The rows, from first to last, that lie at least partly between the
    // viewport's y coordinates top and bottom; last < first when none do.
    std::pair<int, int> rowsBetween(int top, int bottom) const;

    QHeaderView *m_header;
};

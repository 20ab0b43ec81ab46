#pragma once

#include <QAccessibleWidget>

#include <QAbstractItemModel>
#include <QHash>
#include <QPointer>

class StockListView;

// The stock list as assistive technology reads it: a table of the model's
// cells under the header's column titles. A cell's interface is made only when
// a client asks about that cell and kept (by row and column) until the rows
// move or go, so reading one row of a long list costs one row.
class StockListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit StockListAccessible(StockListView *view);
    ~StockListAccessible() override;

    // QAccessibleInterface
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    // The model's own signals keep the cells in place (see followModel), heard
    // whether or not a bridge is active; the view's events would only repeat them.
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

    StockListView *view() const;
    // The interface of a column's title, made on demand like the cells'.
    QAccessibleInterface *headerCell(int column) const;

private:
    // A cell's key in the cache: its row and column, or row -1 for a column title.
    static quint64 key(int row, int column);
    QAccessibleInterface *cached(int row, int column) const;
    // Follows the view's model: rows added or removed move the cells below
    // them, the cells of removed rows are forgotten, anything else forgets all.
    void followModel() const;
    void rowsMoving(int first, int last, bool inserted) const;
    void forgetCells() const;

    mutable QHash<quint64, QAccessible::Id> m_cells;
    mutable QPointer<QAbstractItemModel> m_model;
    mutable QList<QMetaObject::Connection> m_modelConnections;
    // The answer to a question about a cell that is not there; the bridge
    // reads whatever it is given without checking.
    mutable QAccessible::Id m_noCell = 0;
};

// Gives every StockListView the interface above.
QAccessibleInterface *accessibleStockList(const QString &className, QObject *object);

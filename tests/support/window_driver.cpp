#include "window_driver.h"

#include "stock_list_model.h"
#include "stock_main.h"

#include <QKeyEvent>
#include <QTest>

QStringList tabStops()
{
    QWidget *const first = QApplication::focusWidget();
    QStringList stops;
    QWidget *widget = first;
    do {
        stops << widget->objectName();
        QTest::keyClick(widget, Qt::Key_Tab);
        widget = QApplication::focusWidget();
    } while (widget && widget != first && stops.size() <= 20);
    return stops;
}

std::vector<TableRow> listedRows(StockMain &window)
{
    const StockListModel &list = window.listItems();
    std::vector<TableRow> rows;
    for (int row = 0; row < list.rowCount(); ++row)
        rows.push_back({list.tag(row), list.text(row, StockListModel::LocationColumn).toStdString(),
                        list.text(row, StockListModel::CodeColumn).toStdString(),
                        list.text(row, StockListModel::QtyColumn).toStdString()});
    return rows;
}

void typeText(QWidget *widget, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        i += length - 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, character);
        QApplication::sendEvent(widget, &release);
    }
}

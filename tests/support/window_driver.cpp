#include "window_driver.h"

#include "stock_list_model.h"
#include "stock_main.h"

#include <QKeyEvent>
#include <QTest>

QStringList tabStops()
{
    QWidget *const first = QApplication::focusWidget();
    QStringList stops;
    for (QWidget *widget = first; widget && (stops.isEmpty() || widget != first) && stops.size() <= 20;
         widget = QApplication::focusWidget()) {
        stops << widget->objectName();
        QTest::keyClick(widget, Qt::Key_Tab);
    }
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
    for (const char32_t c : text.toUcs4()) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, Qt::Key_unknown, Qt::NoModifier, QString::fromUcs4(&c, 1));
            QApplication::sendEvent(widget, &key);
        }
    }
}

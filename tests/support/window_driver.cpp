#include "window_driver.h"

#include "stock_list_model.h"

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

std::vector<TableRow> listedRows(const StockListModel &list)
{
    std::vector<TableRow> rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        const RecordTexts texts = list.texts(row);
        rows.push_back(
            {list.id(row), texts.location.toStdString(), texts.stockCode.toStdString(), texts.quantity.toStdString()});
    }
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

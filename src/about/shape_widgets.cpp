#include "about/shape_widgets.h"

#include <QPainter>
#include <QPainterPath>

void ShapeWidget::paintEvent(QPaintEvent *)
{
    QRect shape = rect();
    if (m_square) {
        const int side = qMin(width(), height());
        shape = QRect(0, 0, side, side);
        shape.moveCenter(rect().center());
    }
    QPainter painter(this);
    if (m_fillColor.isValid())
        painter.fillRect(shape, m_fillColor);
    if (m_borderWidth > 0) {
        // The inner rectangle cuts a hole in the outer one: paths fill odd-even.
        QPainterPath outline;
        outline.addRect(shape);
        outline.addRect(shape.adjusted(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth));
        painter.fillPath(outline, m_borderColor);
    }
}

void LineWidget::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), m_color);
}

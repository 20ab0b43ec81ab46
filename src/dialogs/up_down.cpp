#include "up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyleOption>
#include <QStylePainter>

#include <algorithm>

UpDown::UpDown(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        m_repeat.setInterval(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate, nullptr, this));
        stepBy(m_held);
    });
}

void UpDown::stepBy(int steps)
{
    if (!m_buddy)
        return;
    bool isNumber = false;
    int value = m_buddy->text().toInt(&isNumber);
    if (!isNumber)
        value = 0;
    value = std::clamp(std::clamp(value, m_minimum, m_maximum) + steps, m_minimum, m_maximum);
    m_buddy->setText(QString::number(value));
}

QRect UpDown::arrowRect(int steps) const
{
    const int upHeight = height() / 2;
    return steps > 0 ? QRect(0, 0, width(), upHeight) : QRect(0, upHeight, width(), height() - upHeight);
}

void UpDown::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    for (int steps : {1, -1}) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.state &= ~QStyle::State_HasFocus;
        option.rect = arrowRect(steps);
        option.state |= m_held == steps ? QStyle::State_Sunken : QStyle::State_Raised;
        painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);
        option.rect.adjust(3, 3, -3, -3);
        painter.drawPrimitive(steps > 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, option);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(2, 2, -2, -2);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void UpDown::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_held = arrowRect(1).contains(event->position().toPoint()) ? 1 : -1;
    stepBy(m_held);
    m_repeat.start(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold, nullptr, this));
    update();
}

void UpDown::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_held = 0;
    m_repeat.stop();
    update();
}

void UpDown::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        stepBy(1);
        break;
    case Qt::Key_Down:
        stepBy(-1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

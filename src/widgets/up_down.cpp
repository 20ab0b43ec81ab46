#include "widgets/up_down.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyleOption>
#include <QStylePainter>

#include <algorithm>

namespace {

class UpDownAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit UpDownAccessible(UpDown *upDown) : QAccessibleWidget(upDown, QAccessible::SpinBox) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? QString::number(upDown()->value()) : QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return upDown()->value(); }
    void setCurrentValue(const QVariant &value) override { upDown()->setValue(value.toLongLong()); }
    QVariant maximumValue() const override { return upDown()->maximum(); }
    QVariant minimumValue() const override { return upDown()->minimum(); }
    QVariant minimumStepSize() const override { return 1; }

    QStringList actionNames() const override
    {
        return QStringList({increaseAction(), decreaseAction()}) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == increaseAction())
            upDown()->stepBy(1);
        else if (action == decreaseAction())
            upDown()->stepBy(-1);
        else
            QAccessibleWidget::doAction(action);
    }

private:
    UpDown *upDown() const { return static_cast<UpDown *>(widget()); }
};

} // namespace

QAccessibleInterface *accessibleUpDown(const QString &className, QObject *object)
{
    if (className == QLatin1String("UpDown"))
        return new UpDownAccessible(static_cast<UpDown *>(object));
    return nullptr;
}

UpDown::UpDown(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        m_repeat.setInterval(style()->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate, nullptr, this));
        stepBy(m_held);
    });
}

void UpDown::setBuddy(QLineEdit *buddy)
{
    m_buddy = buddy;
    connect(buddy, &QLineEdit::textChanged, this, [this] {
        if (!QAccessible::isActive())
            return;
        QAccessibleValueChangeEvent changed(this, value());
        QAccessible::updateAccessibility(&changed);
    });
}

qint64 UpDown::value() const
{
    bool whole = false;
    const qint64 number = m_buddy ? m_buddy->text().toLongLong(&whole) : 0;
    return whole ? number : 0;
}

void UpDown::setValue(qint64 value)
{
    if (m_buddy)
        m_buddy->setText(QString::number(std::clamp(value, qint64(m_minimum), qint64(m_maximum))));
}

void UpDown::stepBy(int steps)
{
    // Disabled, it steps nothing, not even for a screen reader's action.
    if (!isEnabled() || !m_buddy)
        return;
    // A quantity stored outside the range steps from where it stands towards the
    // range, and is left exactly as it is in the direction it cannot go.
    const qint64 from = value();
    if ((steps > 0 && from >= m_maximum) || (steps < 0 && from <= m_minimum))
        return;
    const qint64 to = steps > 0 ? std::min(from + steps, qint64(m_maximum)) : std::max(from + steps, qint64(m_minimum));
    m_buddy->setText(QString::number(to));
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

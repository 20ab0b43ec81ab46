#pragma once

#include <QTimer>
#include <QWidget>

class QAccessibleInterface;
class QLineEdit;

// A vertical pair of arrows attached to a text box, its buddy. Each press reads
// the whole number the buddy holds afresh (text that is not one counts as 0),
// steps it by one and writes it back, so the box stays the one place the value
// lives. A step never leaves the range; a number outside it steps towards it, and
// is left as it is by a press the other way. Held down, an arrow repeats; with the focus, the Up and
// Down keys step too. Assistive technology sees a spin button with the buddy's
// number as its value.
class UpDown : public QWidget {
    Q_OBJECT

public:
    explicit UpDown(QWidget *parent = nullptr);

    void setMinimum(int minimum) { m_minimum = minimum; }
    void setMaximum(int maximum) { m_maximum = maximum; }
    void setBuddy(QLineEdit *buddy);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    // The buddy's number, as the next step starts from it.
    qint64 value() const;
    // Writes the value into the buddy, brought into the range.
    void setValue(qint64 value);
    void stepBy(int steps);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QRect arrowRect(int steps) const;

    QLineEdit *m_buddy = nullptr;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_held = 0; // the step of the arrow held down: 1 up, -1 down, 0 none
    QTimer m_repeat;
};

// Gives every UpDown a spin button's interface.
QAccessibleInterface *accessibleUpDown(const QString &className, QObject *object);

#pragma once

#include <QColor>
#include <QWidget>

// A rectangle or square drawn as the form designer's shape control draws it:
// an outline that grows inwards from the edge of the box, an optional fill,
// and a square sits centred in its box. Set up from the .ui form.
class ShapeWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor borderColor MEMBER m_borderColor)
    Q_PROPERTY(int borderWidth MEMBER m_borderWidth) // 0: no outline
    Q_PROPERTY(QColor fillColor MEMBER m_fillColor)  // invalid: transparent inside
    Q_PROPERTY(bool square MEMBER m_square)

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_borderColor;
    int m_borderWidth = 1;
    QColor m_fillColor;
    bool m_square = false;
};

// A horizontal line as long as the widget is wide and as thick as it is high.
class LineWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor color MEMBER m_color)

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

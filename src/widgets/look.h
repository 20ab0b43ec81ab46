#pragma once

#include <QFont>
#include <QIcon>

class QWidget;

// The one look that every window shares: white background, Tahoma throughout,
// white-faced buttons with bold captions, fixed frames.
namespace Look {

constexpr qreal textPointSize = 8.25;
constexpr qreal titlePointSize = 20.25;

// Layout sizes come in twips; on screen a pixel is 15 of them (96 dots an inch).
constexpr int pixels(int twips)
{
    return (twips + 7) / 15;
}

// Makes Tahoma available where the system has it only as a Wine font file.
void install();

QFont font(qreal pointSize, bool bold = false);

// Gives a window its fixed client size, a frame without maximise and minimise
// buttons, the white background, the window font and the look of its buttons.
void applyToWindow(QWidget *window);

void centreOnScreen(QWidget *window);

QIcon programIcon();

} // namespace Look

#include "look.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace Look {

void install()
{
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
        return;
    // Debian's fonts-wine ships Tahoma outside the fontconfig folders. Its bold
    // face draws bold captions wide and thin at 8.25 pt, so bold is left to Qt,
    // which emboldens the regular face cleanly.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
}

QFont font(qreal pointSize, bool bold)
{
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSizeF(pointSize);
    tahoma.setBold(bold);
    return tahoma;
}

void applyToWindow(QWidget *window)
{
    window->setFixedSize(window->size());
    const Qt::WindowType type = window->windowType() == Qt::Dialog ? Qt::Dialog : Qt::Window;
    window->setWindowFlags(type | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Qt::white);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setFont(font(textPointSize));
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        QPalette face = button->palette();
        face.setColor(QPalette::Button, Qt::white);
        button->setPalette(face);
        button->setFont(font(textPointSize, true));
    }
}

void centreOnScreen(QWidget *window)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(available.center());
    window->move(frame.topLeft());
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/quillmarch-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace Look

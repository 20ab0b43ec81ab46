#include "widgets/look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace Look {

namespace {

// The window's frame beyond its client area: its own once it has one on screen,
// before that the frame of a window already shown (the window manager gives
// them alike), or none while no window has a frame yet.
QMargins frameMargins(const QWidget *window)
{
    const auto marginsOf = [](const QWidget *shown) {
        const QRect frame = shown->frameGeometry();
        const QRect client = shown->geometry();
        return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                        frame.bottom() - client.bottom());
    };
    if (window->isVisible())
        return marginsOf(window);
    for (const QWidget *shown : QApplication::topLevelWidgets())
        if (shown != window && shown->isVisible() && shown->frameGeometry() != shown->geometry())
            return marginsOf(shown);
    return {};
}

void placeCentred(QWidget *window, const QMargins &frame)
{
    QRect outer = QRect(QPoint(), window->size()).marginsAdded(frame);
    outer.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
    // A window's position is that of its frame.
    window->move(outer.topLeft());
}

// Places a window that opened before any frame was known once its own frame
// is known, then goes.
class FrameWatch : public QObject {
public:
    FrameWatch(QWidget *window, const QMargins &assumed) : QObject(window), m_assumed(assumed)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWidget *>(watched);
        if ((event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show)
            && window->isVisible() && window->frameGeometry() != window->geometry()) {
            const QMargins frame = frameMargins(window);
            if (frame != m_assumed)
                placeCentred(window, frame);
            deleteLater();
            window->removeEventFilter(this);
        }
        return false;
    }

private:
    QMargins m_assumed;
};

} // namespace

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
    const QMargins frame = frameMargins(window);
    placeCentred(window, frame);
    if (!window->isVisible())
        new FrameWatch(window, frame);
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/quillmarch-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace Look

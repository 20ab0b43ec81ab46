#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

// A control of a window by its name; the test stops when it is missing.
template<typename Widget = QWidget>
Widget *control(const QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

inline void click(const QWidget &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

// The names of the controls that Tab visits, from the one with the focus round to it again.
inline QStringList tabStops()
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

// Types text one character at a time, as a keyboard would, any Unicode character included.
inline void typeText(QWidget *widget, const QString &text)
{
    for (const char32_t c : text.toUcs4()) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, Qt::Key_unknown, Qt::NoModifier, QString::fromUcs4(&c, 1));
            QApplication::sendEvent(widget, &key);
        }
    }
}

// Runs open, which may show a modal Dialog; once it is up, interact runs inside its
// loop and whatever it leaves open is closed, so a failed check cannot hang the test.
// Returns whether such a dialog came up.
template<typename Dialog>
bool whileModal(const std::function<void()> &open, const std::function<void(Dialog &)> &interact = {})
{
    QTimer poll; // stopped once the dialog is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            poll.stop();
            if (interact)
                interact(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    poll.start(0);
    open();
    return !poll.isActive();
}

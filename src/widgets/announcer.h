#pragma once

#include <QStringList>
#include <QWidget>

class QAccessibleInterface;

// Tells a screen reader, as news, what has just happened in a window: what a
// scan did, a record saved. Each text is spoken once, when it is announced, and
// never again when a control takes the focus.
//
// Orca 43 over Qt 6.4 speaks a notification as it shows, but no change of an
// accessible name or description: Qt sends those without their text. So each
// text becomes a notification of its own, shown in a status line that takes
// no room on screen; in a status line Orca speaks the text without the word
// "notification".
class Announcer : public QWidget {
    Q_OBJECT

public:
    // Announces text in window now, even while a dialog over it has the focus
    // (there the window's own text is heard without the dialog's title). An
    // empty text is no news.
    static void announce(QWidget *window, const QString &text);
    // Announces text in window once the focus is back in it, from a dialog that
    // has just closed, and has been told: a screen reader cuts short whatever it
    // is saying when the focus moves.
    static void announceOnReturn(QWidget *window, const QString &text);

private:
    explicit Announcer(QWidget *shownIn);
    static Announcer *of(QWidget *window);
    void showPending();

    QStringList m_pending;
};

// Gives the status line and its notifications their roles.
QAccessibleInterface *accessibleAnnouncer(const QString &className, QObject *object);

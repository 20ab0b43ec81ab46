#include "widgets/announcer.h"

#include <QAccessibleWidget>
#include <QApplication>

#include <utility>

// One announcement: a notification named with its text.
class Announcement : public QWidget {
    Q_OBJECT

public:
    Announcement(QWidget *statusLine, const QString &text) : QWidget(statusLine) { setAccessibleName(text); }
};

namespace {

// A screen reader reads a notification's text some time after it showed, later
// still on a busy machine, so the newest few live on even when a scanner
// announces faster than it reads.
constexpr qsizetype notificationsKept = 8;

} // namespace

void Announcer::announce(QWidget *window, const QString &text)
{
    if (text.isEmpty())
        return;
    Announcer *announcer = of(window);
    announcer->m_pending.append(text);
    announcer->showPending();
}

void Announcer::announceOnReturn(QWidget *window, const QString &text)
{
    Announcer *announcer = of(window);
    announcer->m_pending.append(text);
    if (window->isActiveWindow())
        QMetaObject::invokeMethod(announcer, &Announcer::showPending, Qt::QueuedConnection);
}

Announcer *Announcer::of(QWidget *window)
{
    window = window->window();
    auto *announcer = window->findChild<Announcer *>(QString(), Qt::FindDirectChildrenOnly);
    return announcer ? announcer : new Announcer(window);
}

Announcer::Announcer(QWidget *shownIn) : QWidget(shownIn)
{
    setObjectName(QStringLiteral("announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    show();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        // Qt tells a screen reader of the focus only after this signal, and the
        // list tells of its current cell in a call it queued before: a call
        // queued now comes after both.
        if (!m_pending.isEmpty() && now && now->window() == parentWidget())
            QMetaObject::invokeMethod(this, &Announcer::showPending, Qt::QueuedConnection);
    });
}

void Announcer::showPending()
{
    for (const QString &text : std::exchange(m_pending, {}))
        (new Announcement(this, text))->show();
    const QList<Announcement *> shown = findChildren<Announcement *>(QString(), Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < shown.size() - notificationsKept; ++i)
        delete shown[i];
}

QAccessibleInterface *accessibleAnnouncer(const QString &className, QObject *object)
{
    if (className == QLatin1String("Announcer"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StatusBar);
    if (className == QLatin1String("Announcement"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Notification);
    return nullptr;
}

#include "announcer.moc"

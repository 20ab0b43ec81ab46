#include "widgets/error_reporter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace ErrorReporter {

namespace {

bool isInput(const QEvent &event)
{
    switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

// From the failure to the program's end, input reaches nothing but the box's
// OK button and Esc. A scanner types on after a failure: its next Enter would
// close the box before anyone has read it, and every key already queued would
// reach the window once the box has gone.
class InputBarrier : public QObject {
public:
    explicit InputBarrier(QMessageBox *box) : QObject(qApp), m_box(box) { qApp->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!isInput(*event) || !m_box)
            return isInput(*event);
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease
            || event->type() == QEvent::ShortcutOverride)
            return static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape;
        // The mouse may still click OK.
        return !inBox(watched);
    }

private:
    bool inBox(QObject *watched) const
    {
        if (watched == m_box->windowHandle())
            return true;
        auto *widget = qobject_cast<QWidget *>(watched);
        return widget && (widget == m_box || m_box->isAncestorOf(widget));
    }

    QPointer<QMessageBox> m_box;
};

void showAndEnd(const Failure &failure)
{
    // Also on standard error, for a log or the terminal the program was started from.
    writeLine(failure);
    // The program is ending already: the first failure is the one to read.
    static bool ending = false;
    if (ending)
        return;
    ending = true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quillmarch"),
                    QStringLiteral("Error %1\n\n%2").arg(failure.number).arg(QString::fromStdString(failure.text)),
                    QMessageBox::Ok, QApplication::activeWindow());
    new InputBarrier(&box);
    box.exec();
    // Every write has committed or failed whole before it is reported, so there is
    // nothing left to save; the event loops end, and with them the program.
    QCoreApplication::exit(EXIT_FAILURE);
}

Reporter &current()
{
    static Reporter reporter = showAndEnd;
    return reporter;
}

} // namespace

void writeLine(const Failure &failure)
{
    std::fprintf(stderr, "quillmarch: Error %d: %s\n", failure.number, failure.text.c_str());
    std::fflush(stderr);
}

void report(const Failure &failure)
{
    current()(failure);
}

void setReporter(Reporter reporter)
{
    current() = reporter ? std::move(reporter) : Reporter(showAndEnd);
}

} // namespace ErrorReporter

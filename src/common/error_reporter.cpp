#include "error_reporter.h"

#include "scan_sounds.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace ErrorReporter {

namespace {

// Throws away every key but Esc. The scanner types on after a failure, and its
// next Enter would close the box before anyone has read it.
class KeysBarred : public QObject {
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            return static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape;
        default:
            return false;
        }
    }
};

void showAndEnd(const StoreError &error)
{
    // Also on standard error, for a log or the terminal the program was started from.
    std::fprintf(stderr, "quillmarch: Error %d: %s\n", error.code(), error.what());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quillmarch"),
                    QStringLiteral("Error %1\n\n%2").arg(error.code()).arg(QString::fromUtf8(error.what())),
                    QMessageBox::Ok, QApplication::activeWindow());
    // Closed by a click on OK or by Esc, never by a key a scanner types.
    KeysBarred keysBarred;
    qApp->installEventFilter(&keysBarred);
    box.exec();
    // Every write has committed or failed whole before its handler reports, so there
    // is nothing left to save: end here, before the window shows anything more.
    std::_Exit(EXIT_FAILURE);
}

Reporter &current()
{
    static Reporter reporter = showAndEnd;
    return reporter;
}

} // namespace

void report(const StoreError &error)
{
    // The operator, eyes on the shelf, hears that the scan was not taken before the box shows.
    ScanSounds::play(ScanSound::Refused);
    current()(error);
}

void setReporter(Reporter reporter)
{
    current() = reporter ? std::move(reporter) : Reporter(showAndEnd);
}

} // namespace ErrorReporter

#include "error_reporter.h"

#include "scan_sounds.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace ErrorReporter {

namespace {

void showAndEnd(const StoreError &error)
{
    // Also on standard error, for a log or the terminal the program was started from.
    std::fprintf(stderr, "quillmarch: Error %d: %s\n", error.code(), error.what());
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Quillmarch"),
                          QStringLiteral("Error %1\n\n%2").arg(error.code()).arg(QString::fromUtf8(error.what())));
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

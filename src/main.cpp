#include "error_reporter.h"
#include "look.h"
#include "program_folder.h"
#include "stock_main.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A write past a file-size limit then fails, and the store reports it, instead
    // of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    Look::install();

    // The stock database lies beside the executable.
    const std::optional<std::string> folder = ErrorReporter::attempt(ProgramFolder);
    if (!folder)
        return EXIT_FAILURE;
    StockMain window{StockStore(*folder)};
    window.show();
    return app.exec();
}

#include "look.h"
#include "stock_main.h"

#include <QApplication>
#include <QFile>

#include <csignal>

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
    StockMain window(StockStore(QFile::encodeName(QApplication::applicationDirPath()).toStdString()));
    window.show();
    return app.exec();
}

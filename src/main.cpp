#include "look.h"
#include "stock_main.h"

#include <QApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    Look::install();

    // The stock database lies beside the executable.
    StockMain window(StockStore(QFile::encodeName(QApplication::applicationDirPath()).toStdString()));
    window.show();
    return app.exec();
}

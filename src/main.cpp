#include "command_line.h"
#include "look.h"
#include "scan_sounds.h"
#include "stock_main.h"

#include <QApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    // Answered before any window system is needed.
    const CommandLine commandLine = readCommandLine(argc, argv);
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    Look::install();

    // Made before the window, whose first read of the file may already fail and be heard.
    std::unique_ptr<TonePlayer> player;
    if (!commandLine.mute) {
        player = std::make_unique<TonePlayer>();
        ScanSounds::setOutput([&player = *player](ScanSound sound) { player.play(sound); });
    }

    // The stock database lies beside the executable.
    StockMain window(StockStore(QFile::encodeName(QApplication::applicationDirPath()).toStdString()));
    window.show();
    return app.exec();
}

#include "command_line.h"
#include "error_reporter.h"
#include "look.h"
#include "program_folder.h"
#include "scan_sounds.h"
#include "stock_main.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char *argv[])
{
    // Answered before any window system is needed.
    const CommandLine commandLine = readCommandLine(argc, argv);
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;

#ifdef SIGXFSZ
    // A write past a file-size limit then fails, and the store reports it, instead
    // of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

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
    const std::optional<std::string> folder = ErrorReporter::attempt(ProgramFolder);
    if (!folder)
        return EXIT_FAILURE;
    StockMain window{StockStore(*folder)};
    window.show();
    return app.exec();
}

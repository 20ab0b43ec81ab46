#include "application.h"
#include "command_line.h"
#include "error_reporter.h"
#include "program_folder.h"
#include "stock_main.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

int main(int argc, char *argv[])
{
    openClosedStandardStreams();
    // Answered before any window system is needed.
    const CommandLine commandLine = readCommandLine(argc, argv);
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;

#ifdef SIGXFSZ
    // A write past a file-size limit then fails, and the store reports it, instead
    // of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    const std::unique_ptr<QApplication> app = openApplication(argc, argv);
    setUpApplication();
    // Made before the window, whose first read of the file may already fail and be heard.
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(commandLine.mute);

    // The stock database lies beside the executable.
    const std::optional<std::string> folder = programFolder();
    if (!folder) {
        if (player)
            player->play(ScanSound::Refused);
        ErrorReporter::report({programFolderMissing,
                               "Quillmarch cannot find the folder it was started from, where"
                               " it keeps stock.mdb. Nothing was written."});
        return EXIT_FAILURE;
    }
    StockMain window(StockStore(*folder), soundsOf(player.get()));
    if (!window.loadRecords())
        return EXIT_FAILURE;
    window.show();
    return QApplication::exec();
}

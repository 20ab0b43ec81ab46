#include "application/application.h"
#include "application/command_line.h"
#include "application/program_folder.h"
#include "main_window/stock_main.h"
#include "store/stock_export.h"
#include "store/store_choice.h"
#include "widgets/error_reporter.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>

#ifdef Q_OS_WIN
#include "application/windows_console.h"
#endif

namespace {

const Failure folderMissing{programFolderMissing,
                            "Quillmarch cannot find the folder it was started from, where it keeps stock.mdb and"
                            " quillmarch.conf. Nothing was written."};

// --export: every record into a file, without a window; a failure is one line on standard error.
int exportRecords(const CommandLine &commandLine)
{
    const std::optional<std::string> folder = programFolder();
    if (!folder) {
        ErrorReporter::writeLine(folderMissing);
        return EXIT_FAILURE;
    }
    try {
        exportCsv(*chooseStore(*folder, commandLine.store), *commandLine.exportFile);
    } catch (const StoreError &error) {
        ErrorReporter::writeLine({error.code(), error.what()});
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    attachParentConsole();
#endif
    openClosedStandardStreams();
    // Answered before any window system is needed.
    const CommandLine commandLine = readCommandLine(programArguments(argc, argv));
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;

#ifdef SIGXFSZ
    // A write past a file-size limit then fails, and the store reports it, instead
    // of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    if (commandLine.exportFile) {
        const QCoreApplication app(argc, argv);
        return exportRecords(commandLine);
    }

    const std::unique_ptr<QApplication> app = openApplication(argc, argv);
    setUpApplication();
    // Made before the window, whose first read of the file may already fail and be heard.
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(commandLine.mute);
    const auto fail = [&](const Failure &failure) {
        if (player)
            player->play(ScanSound::Refused);
        ErrorReporter::report(failure);
        return EXIT_FAILURE;
    };

    // The stock database, or the setting that names the server, lies beside the executable.
    const std::optional<std::string> folder = programFolder();
    if (!folder)
        return fail(folderMissing);
    std::unique_ptr<Store> store;
    try {
        store = chooseStore(*folder, commandLine.store);
    } catch (const StoreError &error) {
        return fail({error.code(), error.what()});
    }
    StockMain window(std::move(store), soundsOf(player.get()));
    if (!window.loadRecords())
        return EXIT_FAILURE;
    window.show();
    return QApplication::exec();
}

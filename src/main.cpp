#include "application/application.h"
#include "application/command_line.h"
#include "application/program_folder.h"
#include "main_window/stock_main.h"
#include "store/stock_export.h"
#include "store/store_choice.h"
#include "widgets/error_reporter.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include "application/windows_console.h"
#endif

namespace {

// The build decides where the program keeps its files, not whether its folder may
// be written: root may write to /usr/bin, and a user to a per-user install.
constexpr Placement placement =
#ifdef QUILLMARCH_INSTALLED
    Placement::UserFolders;
#else
    Placement::BesideTheProgram;
#endif

// What keeps the program from its folders, if anything: not found, or not made.
std::optional<Failure> folderFailure(const std::optional<ProgramFolders> &folders)
{
    if (!folders)
        return Failure{programFolderMissing,
                       "Quillmarch cannot find the folder where it keeps stock.mdb and"
                       " quillmarch.conf. Nothing was written."};
    if (const std::optional<std::string> problem = makeProgramFolders(*folders))
        return Failure{programFolderMissing, *problem};
    return std::nullopt;
}

// --export: every record into a file or onto standard output (-), without a window; a failure is one
// line on standard error.
int exportRecords(const CommandLine &commandLine, const std::optional<ProgramFolders> &folders)
{
    if (const std::optional<Failure> failure = folderFailure(folders)) {
        ErrorReporter::writeLine(*failure);
        return EXIT_FAILURE;
    }
    try {
        const std::unique_ptr<Store> store =
            chooseStore(folders->data, folders->configuration, commandLine.store, Access::Read);
        if (*commandLine.exportFile == "-")
            exportCsv(*store, stdout);
        else
            exportCsv(*store, *commandLine.exportFile);
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
    nameApplication();
#ifdef SIGXFSZ
    // A write past a file-size limit then fails, and the store reports it, instead
    // of the signal ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
    // So does a write to a pipe that no one reads any more (--export - | head).
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Where stock.mdb and quillmarch.conf are, which --help tells; made only when the program counts.
    const std::optional<ProgramFolders> folders = programFolders(placement);
    // Answered before any window system is needed.
    const CommandLine commandLine = readCommandLine(programArguments(argc, argv), folders);
    if (commandLine.exitStatus)
        return writeAnswer(commandLine);

    if (commandLine.exportFile) {
        const QCoreApplication app(argc, argv);
        return exportRecords(commandLine, folders);
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

    if (const std::optional<Failure> failure = folderFailure(folders))
        return fail(*failure);
    std::unique_ptr<Store> store;
    try {
        store = chooseStore(folders->data, folders->configuration, commandLine.store);
    } catch (const StoreError &error) {
        return fail({error.code(), error.what()});
    }
    StockMain window(std::move(store), soundsOf(player.get()), QString::fromStdString(folders->data));
    if (!window.loadRecords())
        return EXIT_FAILURE;
    window.show();
    return QApplication::exec();
}

#include "application/program_folder.h"

#include "store/stock_store.h"
#include "store/utf8_path.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// The program's folder under an XDG base folder, as bytes: the variable's, or else
// the one in the home folder. A relative path is ignored, as the XDG rules ask; Qt
// would take it, relative to wherever the program was started.
std::optional<std::string> userFolder(const char *variable, const char *inHome)
{
    const char *base = std::getenv(variable);
    if (base && base[0] == '/')
        return pathInFolder(base, "quillmarch");
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/')
        return std::nullopt;
    return pathInFolder(home + std::string(inHome), "quillmarch");
}
#else
// Qt's folder, named after the application, as UTF-8 with the system's separators.
std::optional<std::string> userFolder(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location);
    if (folder.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(folder).toStdString();
}
#endif

// The folder of the running program, as ProgramFolders holds it. Nothing when it
// cannot be found.
std::optional<std::string> programFolder()
{
#ifdef Q_OS_LINUX
    // Qt's own answer decodes the name and comes back empty for one that is not
    // UTF-8, such as a Latin-1 folder on old media; the link holds the bytes.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string folder = error ? std::string() : program.parent_path().string();
#elif defined(Q_OS_WIN)
    // As UTF-8, which the store takes for every path. Qt's answer needs the
    // application made, which --help does without; the name may outgrow MAX_PATH.
    std::wstring program(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()))) == program.size())
        program.resize(program.size() * 2);
    program.resize(length);
    const std::string folder =
        QString::fromStdWString(std::filesystem::path(program).parent_path().wstring()).toStdString();
#else
    // Elsewhere (not built here) Qt's answer, which needs the application made.
    const std::string folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
#endif
    if (folder.empty())
        return std::nullopt;
    return folder;
}

} // namespace

std::optional<ProgramFolders> programFolders(Placement placement)
{
    if (placement == Placement::BesideTheProgram) {
        const std::optional<std::string> folder = programFolder();
        if (!folder)
            return std::nullopt;
        return ProgramFolders{*folder, *folder};
    }
#ifdef Q_OS_LINUX
    const std::optional<std::string> data = userFolder("XDG_DATA_HOME", "/.local/share");
    const std::optional<std::string> configuration = userFolder("XDG_CONFIG_HOME", "/.config");
#else
    // Local and roaming: the counts stay on the machine, the setting follows the user.
    const std::optional<std::string> data = userFolder(QStandardPaths::AppLocalDataLocation);
    const std::optional<std::string> configuration = userFolder(QStandardPaths::AppDataLocation);
#endif
    if (!data || !configuration)
        return std::nullopt;
    return ProgramFolders{*data, *configuration};
}

std::optional<std::string> makeProgramFolders(const ProgramFolders &folders)
{
    for (const auto &[folder, holds] :
         {std::pair{&folders.data, "stock.mdb"}, {&folders.configuration, "quillmarch.conf"}}) {
        std::error_code error;
        std::filesystem::create_directories(pathFromUtf8(*folder), error);
        if (error)
            return "Quillmarch cannot make the folder " + *folder + ", where it keeps " + holds + " (" + error.message()
                + "). Nothing was written.";
    }
    return std::nullopt;
}

#include "application/program_folder.h"

#include <QCoreApplication>
#include <QDir>

#include <filesystem>

std::optional<std::string> programFolder()
{
#ifdef Q_OS_LINUX
    // Qt's own answer decodes the name and comes back empty for one that is not
    // UTF-8, such as a Latin-1 folder on old media; the link holds the bytes.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string folder = error ? std::string() : program.parent_path().string();
#else
    // As UTF-8, which the store takes for every path, with the system's separators.
    const std::string folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
#endif
    if (folder.empty())
        return std::nullopt;
    return folder;
}

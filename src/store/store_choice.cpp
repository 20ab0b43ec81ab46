#include "store/store_choice.h"

#include "store/file_kind.h"
#include "store/stock_store.h"
#include "store/utf8_path.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#ifdef _WIN32
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef QUILLMARCH_TEAM_STORE
#include "store/team_store.h"
#endif

namespace {

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// A setting is a line or two: anything larger is no quillmarch.conf of ours.
constexpr std::size_t largestSetting = 64 * 1024;

// The setting's bytes, up to one past the largest there may be. Opened without
// waiting, so that a named pipe put in its place cannot hold up the start.
template<typename Refuse>
std::string settingBytes(const std::string &path, const Refuse &refuse)
{
    std::string bytes(largestSetting + 1, '\0');
    std::size_t size = 0;
#ifdef _WIN32
    std::ifstream file(pathFromUtf8(path), std::ios::binary);
    if (!file)
        refuse("cannot be read");
    file.read(bytes.data(), std::streamsize(bytes.size()));
    if (file.bad())
        refuse("cannot be read");
    size = std::size_t(file.gcount());
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
    const std::shared_ptr<void> closed(nullptr, [fd](void *) { close(fd); });
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        refuse("is not a regular file");
    for (ssize_t read; size < bytes.size() && (read = ::read(fd, bytes.data() + size, bytes.size() - size)) != 0;
         size += std::size_t(read))
        if (read < 0)
            refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
#endif
    bytes.resize(size);
    return bytes;
}

// Lines of key=value, blank lines and comments after '#'. Nothing of a line is
// quoted back: it may hold an address with a password.
std::optional<std::string> configuredUrl(const std::string &path)
{
    std::error_code error;
    if (std::filesystem::symlink_status(pathFromUtf8(path), error).type() == std::filesystem::file_type::not_found)
        return std::nullopt;
    const auto refuse = [&](const std::string &problem) {
        throw StoreError(1, path + " " + problem + ". Nothing was written.");
    };
    // A link to nothing, a folder or a device in its place is no setting: counting
    // into stock.mdb instead would leave the team's database short unnoticed.
    if (const std::optional<std::string> problem = notARegularFile(path))
        refuse(*problem);
    std::string bytes = settingBytes(path, refuse);
    if (bytes.size() > largestSetting)
        refuse("is larger than 64 kB, which no setting of Quillmarch's is");
    // As Windows' Notepad may save it.
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.erase(0, 3);
    std::istringstream file(bytes);
    std::optional<std::string> url;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::string_view text = trimmed(line);
        if (text.empty() || text.front() == '#')
            continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos || trimmed(text.substr(0, equals)) != "store")
            refuse("holds a line Quillmarch does not know (line " + std::to_string(number)
                   + "); it knows store=URL, blank lines and comments after #");
        if (url)
            refuse("names the store twice (line " + std::to_string(number) + ")");
        url = std::string(trimmed(text.substr(equals + 1)));
        // Else libpq would take its default database for it.
        if (url->empty())
            refuse("names no store after store= (line " + std::to_string(number) + ")");
    }
    return url;
}

} // namespace

std::unique_ptr<Store> chooseStore(const std::string &dataFolder, const std::string &configurationFolder,
                                   const std::optional<std::string> &url, Access access)
{
    const std::string setting = pathInFolder(configurationFolder, "quillmarch.conf");
    const std::optional<std::string> server = url ? url : configuredUrl(setting);
    if (!server)
        return std::make_unique<StockStore>(dataFolder, access);
#ifdef QUILLMARCH_TEAM_STORE
    return std::make_unique<TeamStore>(*server, dataFolder, access);
#else
    // Counting into the file instead would leave the team's database short of this station's counts.
    throw StoreError(1,
                     (url ? std::string("The option --store") : setting)
                         + " names a team store, but this Quillmarch was built without the team store; it"
                           " counts into stock.mdb only. Nothing was written.");
#endif
}

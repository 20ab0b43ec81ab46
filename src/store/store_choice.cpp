#include "store/store_choice.h"

#include "store/stock_store.h"
#include "store/utf8_path.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

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

// Lines of key=value, blank lines and comments after '#'. Nothing of a line is
// quoted back: it may hold an address with a password.
std::optional<std::string> configuredUrl(const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::exists(pathFromUtf8(path), error))
        return std::nullopt;
    const auto refuse = [&](const std::string &problem) {
        throw StoreError(1, path + " " + problem + ". Nothing was written.");
    };
    std::ifstream file(pathFromUtf8(path), std::ios::binary);
    if (!file)
        refuse(std::string("cannot be read (") + std::strerror(errno) + ")");
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
    if (file.bad())
        refuse("cannot be read");
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

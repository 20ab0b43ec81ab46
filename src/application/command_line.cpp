#include "application/command_line.h"

#include "about/version.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#ifdef Q_OS_WIN
#include <QString>

#include <windows.h>

#include <shellapi.h>
#endif

namespace {

constexpr char options[] =
    "Usage: quillmarch [--mute] [--store URL] [--export FILE.csv]\n"
    "Counts stock with a barcode scanner; every count is kept in stock.mdb, or in the PostgreSQL database\n"
    "that --store or a line store=URL in quillmarch.conf names.\n"
    "\n"
    "  --mute             count without the sounds that tell each scan stored, taken or refused\n"
    "  --store URL        count into the PostgreSQL database at URL, which other stations share:\n"
    "                     postgresql://user@host:port/database, with no password in it\n"
    "  --export FILE.csv  write every record to FILE.csv and end, without a window\n"
    "  --help             show this help and end\n"
    "  --version          show the version and end\n";

constexpr char buildNotes[] =
#ifdef QUILLMARCH_SILENT
    "\nThis build has no sounds (it was made without Qt Multimedia): it counts in silence.\n"
#endif
#ifndef QUILLMARCH_TEAM_STORE
    "\nThis build has no team store (it was made without PostgreSQL's client library): it counts into\n"
    "stock.mdb only.\n"
#endif
    "";

// An argument as typed, every byte but printable ASCII written as \xNN (and a
// backslash as \\), so that no escape sequence in it reaches the terminal.
std::string escaped(std::string_view argument)
{
    std::string shown;
    for (const char c : argument) {
        if (c == '\\') {
            shown += "\\\\";
        } else if (c >= ' ' && c <= '~') {
            shown += c;
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
            shown += code;
        }
    }
    return shown;
}

// Writes the answer asked for; a standard output that is closed or full fails
// the program, with one line on standard error.
int answer(const char *what, const std::string &text)
{
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "quillmarch: cannot write the %s: %s\n", what, std::strerror(errno));
    return 1;
}

} // namespace

std::string helpText(const std::optional<ProgramFolders> &folders)
{
    const std::string unknown = "(its folder cannot be found)";
    return options + std::string("\nFolders in use:\n  stock.mdb          ") + (folders ? folders->data : unknown)
        + "\n  quillmarch.conf    " + (folders ? folders->configuration : unknown) + "\n" + buildNotes;
}

std::vector<std::string> programArguments([[maybe_unused]] int argc, [[maybe_unused]] const char *const argv[])
{
#ifdef Q_OS_WIN
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(QString::fromWCharArray(wide[i]).toStdString());
    LocalFree(wide);
    return arguments;
#else
    return {argv + std::min(argc, 1), argv + argc};
#endif
}

CommandLine readCommandLine(const std::vector<std::string> &arguments, const std::optional<ProgramFolders> &folders)
{
    CommandLine commandLine;
    const char *unknown = nullptr;
    const char *withoutValue = nullptr;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        // Wherever it stands, the answer is all that is done.
        if (argument == "--help") {
            commandLine.exitStatus = answer("help", helpText(folders));
            return commandLine;
        }
        if (argument == "--version") {
            commandLine.exitStatus = answer("version", "Quillmarch " + versionText().toStdString() + "\n");
            return commandLine;
        }
        if (argument == "--mute") {
            commandLine.mute = true;
        } else if (argument == "--store" || argument == "--export") {
            const std::string &option = arguments[i];
            // An option where the value should be is the option, read as such.
            const bool given = i + 1 < arguments.size() && !arguments[i + 1].starts_with("--");
            const std::string value = given ? arguments[++i] : std::string();
            if (value.empty()) {
                if (!withoutValue)
                    withoutValue = option.c_str();
                continue;
            }
            (argument == "--store" ? commandLine.store : commandLine.exportFile) = value;
        } else if (!unknown) {
            unknown = arguments[i].c_str();
        }
    }
    if (unknown) {
        std::fprintf(stderr, "quillmarch: unknown %s '%s' (see quillmarch --help)\n",
                     unknown[0] == '-' ? "option" : "argument", escaped(unknown).c_str());
        commandLine.exitStatus = 2;
    } else if (withoutValue) {
        // The value is never echoed: an address may hold a password.
        std::fprintf(stderr, "quillmarch: %s needs a value (see quillmarch --help)\n", withoutValue);
        commandLine.exitStatus = 2;
    }
    return commandLine;
}

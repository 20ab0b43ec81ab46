#include "command_line.h"

#include "version.h"

#include <cstdio>
#include <cstring>

const char *const helpText =
    "Usage: quillmarch [--mute] [--store URL] [--export FILE.csv]\n"
    "Counts stock with a barcode scanner; every count is kept in stock.mdb beside the program, or in the\n"
    "PostgreSQL database that --store or a line store=URL in quillmarch.conf beside the program names.\n"
    "\n"
    "  --mute             count without the sounds that tell each scan stored, taken or refused\n"
    "  --store URL        count into the PostgreSQL database at URL, which other stations share:\n"
    "                     postgresql://user@host:port/database, with no password in it\n"
    "  --export FILE.csv  write every record to FILE.csv and end, without a window\n"
    "  --help             show this help and end\n"
    "  --version          show the version and end\n";

CommandLine readCommandLine(int argc, const char *const argv[])
{
    CommandLine commandLine;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--mute") == 0) {
            commandLine.mute = true;
        } else if (std::strcmp(argument, "--store") == 0 || std::strcmp(argument, "--export") == 0) {
            // The value is never echoed: an address may hold a password.
            if (i + 1 == argc) {
                std::fprintf(stderr, "quillmarch: %s needs a value (see quillmarch --help)\n", argument);
                commandLine.exitStatus = 2;
                return commandLine;
            }
            std::optional<std::string> &value =
                std::strcmp(argument, "--store") == 0 ? commandLine.store : commandLine.exportFile;
            value = argv[++i];
        } else if (std::strcmp(argument, "--help") == 0) {
            std::fputs(helpText, stdout);
            commandLine.exitStatus = 0;
            return commandLine;
        } else if (std::strcmp(argument, "--version") == 0) {
            std::printf("Quillmarch %s\n", versionText().toUtf8().constData());
            commandLine.exitStatus = 0;
            return commandLine;
        } else {
            std::fprintf(stderr, "quillmarch: unknown %s '%s' (see quillmarch --help)\n",
                         argument[0] == '-' ? "option" : "argument", argument);
            commandLine.exitStatus = 2;
            return commandLine;
        }
    }
    return commandLine;
}

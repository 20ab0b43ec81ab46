#include "command_line.h"

#include "version.h"

#include <cstdio>
#include <cstring>

const char *const helpText =
    "Usage: quillmarch [--mute]\n"
    "Counts stock with a barcode scanner; every count is kept in stock.mdb beside the program.\n"
    "\n"
    "  --mute     count without the sounds that tell each scan stored, taken or refused\n"
    "  --help     show this help and end\n"
    "  --version  show the version and end\n"
#ifdef QUILLMARCH_SILENT
    "\nThis build has no sounds (it was made without Qt Multimedia): it counts in silence.\n"
#endif
    ;

CommandLine readCommandLine(int argc, const char *const argv[])
{
    CommandLine commandLine;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--mute") == 0) {
            commandLine.mute = true;
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

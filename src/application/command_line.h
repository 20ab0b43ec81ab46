#pragma once

#include "application/program_folder.h"

#include <optional>
#include <string>
#include <vector>

// What the operator asked for on the command line.
struct CommandLine {
    bool mute = false;
    // The PostgreSQL database to count into, by its URL; none for the file.
    std::optional<std::string> store;
    // Where --export writes every record, without a window.
    std::optional<std::string> exportFile;
    // Set when the arguments were answered or refused here: the program then
    // ends with this status without opening a window.
    std::optional<int> exitStatus;
};

// What --help shows: the options, and the folders the program keeps its files in.
std::string helpText(const std::optional<ProgramFolders> &folders);

// The arguments main() is handed, after the program's name, in UTF-8 as the
// store takes file names: on Windows, whose argv spells them in the ANSI code
// page, as the wide command line holds them.
std::vector<std::string> programArguments(int argc, const char *const argv[]);

// Reads the program's arguments; answers --help (naming the folders) and --version
// on standard output wherever they stand (status 1 when the answer cannot be
// written), and refuses anything else unknown with one line on standard error
// (status 2).
CommandLine readCommandLine(const std::vector<std::string> &arguments, const std::optional<ProgramFolders> &folders);

#pragma once

#include "application/program_folder.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// What the operator asked for on the command line.
struct CommandLine {
    bool mute = false;
    // The PostgreSQL database to count into, by its URL; none for the file.
    std::optional<std::string> store{};
    // Where --export writes every record, without a window: a file, or "-" for standard output.
    std::optional<std::string> exportFile{};
    // Set when the arguments are answered (0) or refused (2) here: the program then
    // writes the answer (the help or the version) on standard output, or the refusal's
    // line on standard error, and ends without opening a window.
    std::optional<int> exitStatus{};
    std::string answer{};
    std::string refusal{};

    bool operator==(const CommandLine &) const = default;
};

// What --help shows: the options, and the folders the program keeps its files in.
std::string helpText(const std::optional<ProgramFolders> &folders);

// The arguments main() is handed, after the program's name, in UTF-8 as the
// store takes file names: on Windows, whose argv spells them in the ANSI code
// page, as the wide command line holds them.
std::vector<std::string> programArguments(int argc, const char *const argv[]);

// Reads the program's arguments as Qt's QCommandLineParser does (--store URL or
// --store=URL), each value byte for byte. --help (naming the folders) and --version
// are answered wherever they stand; anything unknown, an option without its value,
// and --store or --export given twice are refused, the refusal showing no password
// and no byte that is not printable ASCII.
CommandLine readCommandLine(const std::vector<std::string> &arguments, const std::optional<ProgramFolders> &folders);

// Writes the answer or the refusal and returns the status to end with: the
// command line's own, or 1, with one line on errors, when the answer could not be written.
int writeAnswer(const CommandLine &commandLine, std::FILE *output = stdout, std::FILE *errors = stderr);

#pragma once

#include <optional>
#include <string>

// Where the program keeps its files, as the store takes paths: on Linux as the
// file system names them, byte for byte, whatever their encoding; elsewhere as
// UTF-8 with the system's separators.
struct ProgramFolders {
    std::string data;          // stock.mdb, and what else the station keeps of its counts
    std::string configuration; // quillmarch.conf
};

enum class Placement {
    // A folder of its own, wherever it was copied or built: its files lie beside it.
    BesideTheProgram,
    // Installed where the user may not write (/usr/bin, C:\Program Files) or where
    // other users share it: each user's files lie in that user's own folders.
    UserFolders,
};

// The folders the program keeps its files in: beside the program, or the user's
// folders $XDG_DATA_HOME/quillmarch and $XDG_CONFIG_HOME/quillmarch on Linux (by
// default ~/.local/share/quillmarch and ~/.config/quillmarch), %LOCALAPPDATA%\Quillmarch
// and %APPDATA%\Quillmarch on Windows. Nothing when they cannot be found. Windows'
// folders are named after the application, so its name is set first.
std::optional<ProgramFolders> programFolders(Placement placement);

// Makes the folders where they are missing, as an installed program's first start
// finds them. When one cannot be made, what went wrong, in the user's words;
// nothing is then written anywhere else.
std::optional<std::string> makeProgramFolders(const ProgramFolders &folders);

// The number under which a folder that cannot be found or made is reported: the
// same as for a stock.mdb that cannot be opened.
inline constexpr int programFolderMissing = 14;

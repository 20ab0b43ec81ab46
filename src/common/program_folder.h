#pragma once

#include <optional>
#include <string>

// The folder of the running program as the file system names it, byte for byte,
// whatever its encoding; nothing when it cannot be found. The program keeps its
// stock beside itself and nowhere else.
std::optional<std::string> programFolder();

// The number under which a folder that cannot be found is reported: the same as
// for a stock.mdb that cannot be opened.
inline constexpr int programFolderMissing = 14;

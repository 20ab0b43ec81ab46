#pragma once

#include <optional>
#include <string>

// The folder of the running program as the store takes paths: on Linux as the
// file system names it, byte for byte, whatever its encoding; elsewhere as UTF-8
// with the system's separators. Nothing when it cannot be found. The program
// keeps its stock beside itself and nowhere else.
std::optional<std::string> programFolder();

// The number under which a folder that cannot be found is reported: the same as
// for a stock.mdb that cannot be opened.
inline constexpr int programFolderMissing = 14;

#pragma once

#include "store/utf8_path.h"

#include <filesystem>
#include <optional>
#include <string>

// Why the program will not read or replace what path names as a file of its own,
// following links: it is a folder, a named pipe, a device, a socket or a link to
// nothing, in words that follow the name ("... is a folder, not a file"). Nothing
// for a regular file, or where nothing has the name.
inline std::optional<std::string> notARegularFile(const std::string &path)
{
    std::error_code error;
    switch (std::filesystem::status(pathFromUtf8(path), error).type()) {
    case std::filesystem::file_type::regular:
        return std::nullopt;
    case std::filesystem::file_type::not_found:
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(pathFromUtf8(path), error)))
            return "is a link to a file that does not exist";
        return std::nullopt;
    case std::filesystem::file_type::directory:
        return "is a folder, not a file";
    case std::filesystem::file_type::fifo:
        return "is a named pipe, not a file";
    case std::filesystem::file_type::block:
    case std::filesystem::file_type::character:
        return "is a device, not a file";
    case std::filesystem::file_type::socket:
        return "is a socket, not a file";
    default:
        return "cannot be looked at (" + error.message() + ")";
    }
}

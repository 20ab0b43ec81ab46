#pragma once

#include <filesystem>
#include <string_view>

// A path the store holds as UTF-8, as the standard library's file calls take it:
// on Windows in its wide characters, elsewhere byte for byte, whatever the
// bytes' encoding. A plain std::string would go through Windows' ANSI code page.
inline std::filesystem::path pathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

#include "application/windows_console.h"

#include <windows.h>

#include <cstdio>

void attachParentConsole()
{
    const auto missing = [](DWORD stream) {
        const HANDLE handle = GetStdHandle(stream);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    const bool noOutput = missing(STD_OUTPUT_HANDLE);
    const bool noError = missing(STD_ERROR_HANDLE);
    if ((!noOutput && !noError) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (noOutput)
        std::freopen("CONOUT$", "w", stdout);
    if (noError)
        std::freopen("CONOUT$", "w", stderr);
}

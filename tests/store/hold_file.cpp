// Holds a file open as another Windows program may, until its standard input
// ends: "hold_file PATH none" shares it with no one, "hold_file PATH read" with
// readers only. Prints "held" once it holds the file.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc != 3)
        return 2;
    const DWORD sharing = std::wcscmp(argv[2], L"read") == 0 ? FILE_SHARE_READ : 0;
    const HANDLE file =
        CreateFileW(argv[1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {}
    CloseHandle(file);
    return 0;
}

// Holds a file open as another program would: an emulator with the image loaded, or a virus
// scanner reading a file that was just closed.
//   hold-file PATH none|delete SECONDS [wait]
// none: no delete sharing (the file can be neither deleted nor replaced); delete: with it (a
// deletion stays pending until the file is let go). wait: says "waiting", then waits up to a
// minute for PATH to appear. Says "holding" once it has the file, and lets go SECONDS later.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const bool wait = argc == 5 && std::wcscmp(argv[4], L"wait") == 0;
    if ((argc != 4 && !wait) || (std::wcscmp(argv[2], L"none") != 0 && std::wcscmp(argv[2], L"delete") != 0)) {
        std::fputs("usage: hold-file PATH none|delete SECONDS [wait]\n", stderr);
        return 2;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (argv[2][0] == L'd' ? FILE_SHARE_DELETE : 0);
    if (wait) std::puts("waiting");
    std::fflush(stdout);
    HANDLE file = INVALID_HANDLE_VALUE;
    // Polled closely: a part file may be renamed a moment after it appears.
    for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < (wait ? 60000 : 1); ++tries) {
        file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && wait) Sleep(1);
    }
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold-file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::puts("holding");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[3])) * 1000);
    CloseHandle(file);
    return 0;
}

// Windows-side helper of the Wine tests.
//   wine_tool version <file>   prints the version resource of file, one
//                              "name=value" line per item
//   wine_tool quit <code>      posts a quit message with word parameter code
//                              to the threads of every running
//                              zanfiroWebLauncher.exe
// Exit code 0 on success, 1 on failure (with a line on standard error).
#include <windows.h>

#include <tlhelp32.h>
#include <winver.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int printVersion(const char* file) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0) {
        std::fprintf(stderr, "no version resource in %s (error %lu)\n", file, GetLastError());
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file, 0, size, data.data())) {
        std::fprintf(stderr, "GetFileVersionInfoA failed (error %lu)\n", GetLastError());
        return 1;
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
        std::fprintf(stderr, "no fixed version information\n");
        return 1;
    }
    std::printf("fixed.Signature=%08lx\n", fixed->dwSignature);
    std::printf("fixed.FileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
    std::printf("fixed.ProductVersion=%u.%u.%u.%u\n", unsigned(HIWORD(fixed->dwProductVersionMS)),
                unsigned(LOWORD(fixed->dwProductVersionMS)), unsigned(HIWORD(fixed->dwProductVersionLS)),
                unsigned(LOWORD(fixed->dwProductVersionLS)));

    // The strings of each language the resource declares.
    struct Translation {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &length)) {
        std::fprintf(stderr, "no translation table\n");
        return 1;
    }
    const char* names[] = {"FileDescription",  "FileVersion", "InternalName",
                           "OriginalFilename", "ProductName", "ProductVersion"};
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        for (const char* name : names) {
            char query[128];
            std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translations[i].language,
                          translations[i].codePage, name);
            char* value = nullptr;
            UINT valueLength = 0;
            if (VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&value), &valueLength) && value) {
                std::printf("%04x%04x.%s=%s\n", translations[i].language, translations[i].codePage, name,
                            value);
            }
        }
    }
    return 0;
}

int postQuit(WPARAM code) {
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    if (processes == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "no snapshot (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<DWORD> launchers;
    PROCESSENTRY32 process;
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes, &process); more; more = Process32Next(processes, &process)) {
        if (_stricmp(process.szExeFile, "zanfiroWebLauncher.exe") == 0)
            launchers.push_back(process.th32ProcessID);
    }
    int posted = 0;
    THREADENTRY32 thread;
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(processes, &thread); more; more = Thread32Next(processes, &thread)) {
        for (DWORD pid : launchers) {
            // Threads without a message queue refuse the post; the main
            // thread, waiting in its message loop, takes it.
            if (thread.th32OwnerProcessID == pid &&
                PostThreadMessageA(thread.th32ThreadID, WM_QUIT, code, 0)) {
                ++posted;
            }
        }
    }
    CloseHandle(processes);
    std::printf("launchers=%u posted=%d\n", static_cast<unsigned>(launchers.size()), posted);
    return posted > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "version") == 0) return printVersion(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "quit") == 0) return postQuit(std::strtoul(argv[2], nullptr, 10));
    std::fprintf(stderr, "usage: wine_tool version <file> | wine_tool quit <code>\n");
    return 2;
}

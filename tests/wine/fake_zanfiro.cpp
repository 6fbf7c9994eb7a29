// Stand-in for the desktop program in the Wine tests. It writes what it was
// started with to record-<pid>.txt beside itself, in the record format of the
// black-box suite's POSIX fake (texts as lowercase hex of their UTF-8 bytes):
//   pid <decimal>
//   cmdline <hex>         the whole command line (GetCommandLineW)
//   arg <hex>             one line per argument as the C runtime split it, argv[0] first
//   warg <hex>            one line per argument as CommandLineToArgvW split it
//   cwd <hex>             working directory
//   fd <handle> <hex>     one line per inherited handle other than the standard ones:
//                         "socket:<object name>" for a socket, "handle:<object name>" otherwise
//   end
// With ZWL_FAKE_LINGER_MS set it stays alive that long after writing.
#include <windows.h>

#include <shellapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(length) - 1);
    return out;
}

void putLine(FILE* out, const char* key, const std::string& text) {
    std::fprintf(out, "%s ", key);
    for (unsigned char c : text) std::fprintf(out, "%02x", c);
    std::fputc('\n', out);
}

// The kernel's name of the object behind a handle ("\\Device\\Afd..." for a
// socket), empty when it has none.
std::string objectName(HANDLE handle) {
    alignas(8) unsigned char buffer[2048];
    ULONG length = 0;
    if (NtQueryObject(handle, ObjectNameInformation, buffer, sizeof buffer - 2, &length) != 0)
        return std::string();
    const UNICODE_STRING* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
    if (!name->Buffer || name->Length == 0) return std::string();
    return utf8(std::wstring(name->Buffer, name->Length / sizeof(wchar_t)).c_str());
}

// Handles the process was given by the program that started it: every
// inheritable handle apart from the standard ones. The launcher's sockets
// must never be among them.
void recordInheritedHandles(FILE* out) {
    HANDLE standard[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                         GetStdHandle(STD_ERROR_HANDLE)};
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(handle, &flags) || !(flags & HANDLE_FLAG_INHERIT)) continue;
        if (handle == standard[0] || handle == standard[1] || handle == standard[2]) continue;
        // Sockets are handles on the ancillary function driver.
        std::string object = objectName(handle);
        std::string what = (object.compare(0, 11, "\\Device\\Afd") == 0 ? "socket:" : "handle:") + object;
        std::fprintf(out, "fd %u ", static_cast<unsigned>(value));
        for (unsigned char c : what) std::fprintf(out, "%02x", c);
        std::fputc('\n', out);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 3;
    std::wstring folder(module, length);
    folder.erase(folder.find_last_of(L'\\'));

    DWORD pid = GetCurrentProcessId();
    std::wstring partial = folder + L"\\.record-" + std::to_wstring(pid) + L".tmp";
    std::wstring final = folder + L"\\record-" + std::to_wstring(pid) + L".txt";
    // "N": the record's own handle is not inheritable, so it is not recorded.
    FILE* out = _wfopen(partial.c_str(), L"wbN");
    if (!out) return 4;

    std::fprintf(out, "pid %lu\n", static_cast<unsigned long>(pid));
    putLine(out, "cmdline", utf8(GetCommandLineW()));
    for (int i = 0; i < argc; ++i) putLine(out, "arg", utf8(argv[i]));
    int count = 0;
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; split && i < count; ++i) putLine(out, "warg", utf8(split[i]));
    if (split) LocalFree(split);
    wchar_t cwd[MAX_PATH];
    DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH, cwd);
    putLine(out, "cwd", cwdLength > 0 && cwdLength < MAX_PATH ? utf8(cwd) : std::string());
    recordInheritedHandles(out);
    std::fputs("end\n", out);
    if (std::fclose(out) != 0) return 5;
    if (!MoveFileExW(partial.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING)) return 6;

    wchar_t linger[32];
    DWORD lingerLength = GetEnvironmentVariableW(L"ZWL_FAKE_LINGER_MS", linger, 32);
    if (lingerLength > 0 && lingerLength < 32) Sleep(static_cast<DWORD>(std::wcstoul(linger, nullptr, 10)));
    return 0;
}

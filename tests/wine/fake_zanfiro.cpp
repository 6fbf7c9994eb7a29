// Stand-in for the desktop program in the Wine tests. It writes what it was
// started with to record-<pid>.txt beside itself, in the record format of the
// black-box suite's POSIX fake (texts as lowercase hex of their UTF-8 bytes):
//   pid <decimal>
//   cmdline <hex>         the whole command line (GetCommandLineW)
//   arg <hex>             one line per argument as the C runtime split it, argv[0] first
//   warg <hex>            one line per argument as CommandLineToArgvW split it
//   cwd <hex>             working directory
//   end
// Inherited handles are not recorded: a Windows program cannot tell a socket
// from other handles it was given (under Wine a socket's handle has neither
// a name nor a working socket call in the child). The launcher's sockets are
// checked to be non-inheritable in win32_platform_check instead.
#include <windows.h>

#include <shellapi.h>

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
    FILE* out = _wfopen(partial.c_str(), L"wb");
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
    std::fputs("end\n", out);
    if (std::fclose(out) != 0) return 5;
    if (!MoveFileExW(partial.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING)) return 6;
    return 0;
}

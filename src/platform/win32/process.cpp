// The process on Windows: the wide command line, kernel threads, the thread's
// message queue as the quit request, and the shell for the desktop program.
#include "platform/process.h"

// windows.h comes first: shellapi.h builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdlib>

#include "platform/win32/argument_quoting.h"

namespace platform {

namespace {

// UTF-8 keeps every argument exact: a lossy conversion to the ANSI code page
// could map another text (say, full-width letters) onto "-kill".
bool toNarrow(const wchar_t* wide, std::string& narrow) {
    narrow.clear();
    if (wide[0] == L'\0') return true;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    std::string text(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], length, nullptr, nullptr) != length) return false;
    text.resize(static_cast<std::size_t>(length) - 1);  // the terminating zero
    narrow = text;
    return true;
}

DWORD WINAPI runThread(LPVOID parameter) {
    void (*routine)() = reinterpret_cast<void (*)()>(reinterpret_cast<std::uintptr_t>(parameter));
    routine();
    return 0;
}

}  // namespace

// Windows reads its own command line as wide text.
void rememberCommandLine(int, char**) {}

bool commandLineArguments(std::vector<std::string>& arguments) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return false;
    std::vector<std::string> narrow(static_cast<std::size_t>(count > 0 ? count : 0));
    bool converted = true;
    for (int i = 0; i < count && converted; ++i)
        converted = toNarrow(wide[i], narrow[static_cast<std::size_t>(i)]);
    LocalFree(wide);
    if (!converted) return false;
    arguments = narrow;
    return true;
}

int startThread(void (*routine)()) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, runThread,
                                 reinterpret_cast<LPVOID>(reinterpret_cast<std::uintptr_t>(routine)), 0, &id);
    if (!thread) {
        DWORD error = GetLastError();
        return error != 0 ? static_cast<int>(error) : -1;
    }
    // Nobody joins the thread; its handle is not needed.
    CloseHandle(thread);
    return 0;
}

int waitForQuitMessage() {
    MSG message = {};
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) {
            // Keeps waiting, without spinning on a queue that keeps failing.
            Sleep(100);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

void exitProcess(int code) {
    std::exit(code);
}

long startProgram(const std::string& file, const std::string& argument, const std::string& directory) {
    std::string parameters = win32::quoteCommandLineArgument(argument);
    HINSTANCE result = ShellExecuteA(GetDesktopWindow(), "open", file.c_str(), parameters.c_str(),
                                     directory.c_str(), SW_SHOWNORMAL);
    return static_cast<long>(reinterpret_cast<std::intptr_t>(result));
}

}  // namespace platform

// The process on Windows: kernel threads, the thread's message queue as the
// request to stop, and the shell for the desktop program.
#include "platform/process.h"

// windows.h comes first: shellapi.h builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/argument_quoting.h"
#include "platform/win32/error.h"

namespace platform {

namespace {

// The shell's refusal codes that are not system error numbers, translated.
int systemErrorOfShell(int code) {
    switch (code) {
        case 0:
            return ERROR_OUTOFMEMORY;
        case SE_ERR_SHARE:
            return ERROR_SHARING_VIOLATION;
        case SE_ERR_ASSOCINCOMPLETE:
        case SE_ERR_NOASSOC:
            return ERROR_NO_ASSOCIATION;
        case SE_ERR_DDETIMEOUT:
        case SE_ERR_DDEFAIL:
        case SE_ERR_DDEBUSY:
            return ERROR_DDE_FAIL;
        case SE_ERR_DLLNOTFOUND:
            return ERROR_DLL_NOT_FOUND;
        default:
            return code;  // file or path not found, access denied, bad format, ...
    }
}

// Text in the given code page as UTF-16; false when it is not valid there.
bool toWide(const std::string& text, UINT codePage, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length =
        MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0],
                               length) == length;
}

DWORD WINAPI runThread(LPVOID parameter) {
    void (*routine)() = reinterpret_cast<void (*)()>(reinterpret_cast<std::uintptr_t>(parameter));
    routine();
    return 0;
}

}  // namespace

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

int waitForStopRequest() {
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
    // Not exit(): the other thread may be writing the log, and static
    // objects must not be destroyed under it. Every log line is closed
    // already; only the C streams are flushed.
    std::fflush(nullptr);
    std::_Exit(code);
}

bool startProgram(const std::string& file, const std::string& argument, const std::string& directory,
                  SystemError& error) {
    const std::string parameters = win32::quoteCommandLineArgument(argument);
    // The folders come from the shell in the ANSI code page; the user id comes
    // from the page's URL, in UTF-8 as browsers send it: handed over in the
    // ANSI code page it would reach the program garbled. Bytes that are not
    // UTF-8 are taken in the ANSI code page, as before.
    std::wstring wideParameters;
    if (!toWide(parameters, CP_UTF8, wideParameters)) toWide(parameters, CP_ACP, wideParameters);
    std::wstring wideFile, wideDirectory;
    HINSTANCE result;
    if (toWide(file, CP_ACP, wideFile) && toWide(directory, CP_ACP, wideDirectory)) {
        result = ShellExecuteW(GetDesktopWindow(), L"open", wideFile.c_str(), wideParameters.c_str(),
                               wideDirectory.c_str(), SW_SHOWNORMAL);
    } else {
        result = ShellExecuteA(GetDesktopWindow(), "open", file.c_str(), parameters.c_str(),
                               directory.c_str(), SW_SHOWNORMAL);
    }
    // The shell's own convention: a value above 32 means it took the start;
    // anything else is its own error code.
    const std::intptr_t code = reinterpret_cast<std::intptr_t>(result);
    if (code > 32) return true;
    error = win32::errorFrom(systemErrorOfShell(static_cast<int>(code)));
    return false;
}

}  // namespace platform

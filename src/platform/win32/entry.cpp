// The Windows entry point: a program of the graphical subsystem. The command
// line is read as wide text and handed on in UTF-8.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/launcher.h"
#include "platform/process.h"

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

// The arguments, index 0 being the program; none when the command line
// cannot be split or converted.
std::vector<std::string> commandLineArguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {};
    std::vector<std::string> arguments(static_cast<std::size_t>(count > 0 ? count : 0));
    bool converted = true;
    for (int i = 0; i < count && converted; ++i)
        converted = toNarrow(wide[i], arguments[static_cast<std::size_t>(i)]);
    LocalFree(wide);
    if (!converted) return {};
    return arguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Ended here rather than by returning: returning would destroy static
    // objects while the server thread may still use them.
    platform::exitProcess(launcherMain(commandLineArguments()));
}

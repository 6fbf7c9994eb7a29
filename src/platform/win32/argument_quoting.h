// Puts one argument on a Windows command line so that the Microsoft C
// runtime's parser (and CommandLineToArgvW) gives it back as exactly one
// argument, unchanged. Portable code, so it is tested on every platform.
#pragma once

#include <string>

namespace platform {
namespace win32 {

// An argument without a blank, a tab or a double quote is returned as it is.
// Otherwise it is wrapped in double quotes; a double quote inside is written
// as \" and the backslashes right before a double quote (the closing one
// included) are doubled, since only there does the parser treat them as
// escapes. The empty argument becomes "" so that it is not lost.
inline std::string quoteCommandLineArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;

    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace win32
}  // namespace platform

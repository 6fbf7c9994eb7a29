// Known folders and the shape of paths on this platform.
#pragma once

#include <string>

namespace platform {

// The ids are the shell's folder ids, so the Windows implementation passes
// them through unchanged.
enum class KnownFolder : int {
    RoamingAppData = 26,
    ProgramFiles = 38,
    ProgramFilesX86 = 42,
};

// Fills path with the folder, without a trailing separator. A negative result
// means the lookup failed and path is left as it was.
int knownFolderPath(KnownFolder folder, std::string& path);

// '/' on POSIX, '\\' on Windows.
char pathSeparator();

// "" on POSIX, ".exe" on Windows.
const char* executableSuffix();

// Creates the folder and its missing parents. True when it exists afterwards.
bool makeDirectories(const std::string& path);

}  // namespace platform

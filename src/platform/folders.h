// Where things live on this platform: the user's data folder, the folders
// programs are installed in, and the shape of paths.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The user's own application-data folder (roaming on Windows,
// $XDG_DATA_HOME or ~/.local/share on POSIX), without a trailing separator.
// False when it cannot be named.
bool userDataFolder(std::string& path);

// The user's own configuration folder (roaming application data on Windows,
// $XDG_CONFIG_HOME or ~/.config on POSIX), without a trailing separator.
// False when it cannot be named.
bool userConfigFolder(std::string& path);

// The folders in which installed programs live, the preferred first (the
// 32-bit program folder before the native one on Windows). A folder the
// system cannot name is left out.
std::vector<std::string> programFolders();

// '/' on POSIX, '\\' on Windows.
char pathSeparator();

// "" on POSIX, ".exe" on Windows.
const char* executableSuffix();

// Creates the folder and its missing parents. True when it exists afterwards.
bool makeDirectories(const std::string& path);

}  // namespace platform

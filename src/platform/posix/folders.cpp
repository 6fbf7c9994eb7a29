#include "platform/folders.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

// The value of an environment variable when it holds an absolute path,
// without trailing slashes; empty otherwise.
std::string absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::string();
    std::string path = value;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// An XDG base folder: the variable when it holds an absolute path, else its
// default below the home folder.
bool xdgFolder(const char* variable, const char* belowHome, std::string& path) {
    std::string found = absoluteFromEnvironment(variable);
    if (found.empty()) {
        found = absoluteFromEnvironment("HOME");
        if (found.empty()) return false;
        if (found != "/") found += '/';
        found += belowHome;
    }
    path = found;
    return true;
}

}  // namespace

bool userDataFolder(std::string& path) {
    return xdgFolder("XDG_DATA_HOME", ".local/share", path);
}

bool userConfigFolder(std::string& path) {
    return xdgFolder("XDG_CONFIG_HOME", ".config", path);
}

std::vector<std::string> programFolders() {
    // The Windows variables, when set, say where the program is installed
    // (Wine-style layouts and tests use them); otherwise /opt.
    std::vector<std::string> folders;
    const std::string x86 = absoluteFromEnvironment("ProgramFiles(x86)");
    if (!x86.empty()) folders.push_back(x86);
    const std::string native = absoluteFromEnvironment("ProgramFiles");
    folders.push_back(native.empty() ? "/opt" : native);
    return folders;
}

char pathSeparator() {
    return '/';
}

const char* executableSuffix() {
    return "";
}

bool makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    // Folders made here hold the user's log, which echoes what web pages
    // sent: private to the user, as for other per-user data folders.
    const mode_t mode = 0700;
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('/', end + 1);
        const std::string prefix = path.substr(0, end);
        if (prefix.empty() || prefix.back() == '/') continue;
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(path);
}

}  // namespace platform

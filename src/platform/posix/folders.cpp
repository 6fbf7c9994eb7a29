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

}  // namespace

int knownFolderPath(KnownFolder folder, std::string& path) {
    std::string found;
    switch (folder) {
        case KnownFolder::RoamingAppData:
            found = absoluteFromEnvironment("XDG_DATA_HOME");
            if (found.empty()) {
                found = absoluteFromEnvironment("HOME");
                if (found.empty()) return -1;
                if (found != "/") found += '/';
                found += ".local/share";
            }
            break;
        case KnownFolder::ProgramFilesX86:
            found = absoluteFromEnvironment("ProgramFiles(x86)");
            if (found.empty()) return -1;
            break;
        case KnownFolder::ProgramFiles:
            found = absoluteFromEnvironment("ProgramFiles");
            if (found.empty()) found = "/opt";
            break;
        default:
            return -1;
    }
    path = found;
    return 0;
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

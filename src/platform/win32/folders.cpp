// Known folders from the shell, paths with backslashes.
#include "platform/folders.h"

// windows.h comes first: shlobj.h builds on it.
#include <windows.h>

#include <shlobj.h>

#include <mutex>

namespace platform {

namespace {

// The shell's folder lookup: the folder's current path, or false.
bool shellFolder(int id, std::string& path) {
    char buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer))) return false;
    path = buffer;
    return true;
}

}  // namespace

bool userDataFolder(std::string& path) {
    // Looked up once: the shell reads the registry for it, and the log asks
    // for every line.
    static std::mutex lookup;
    static std::string found;
    std::lock_guard<std::mutex> lock(lookup);
    if (found.empty() && !shellFolder(CSIDL_APPDATA, found)) return false;
    path = found;
    return true;
}

bool userConfigFolder(std::string& path) {
    // Settings roam with the user, beside the log's folder.
    return userDataFolder(path);
}

std::vector<std::string> programFolders() {
    std::vector<std::string> folders;
    std::string path;
    if (shellFolder(CSIDL_PROGRAM_FILESX86, path)) folders.push_back(path);
    if (shellFolder(CSIDL_PROGRAM_FILES, path)) folders.push_back(path);
    return folders;
}

char pathSeparator() {
    return '\\';
}

const char* executableSuffix() {
    return ".exe";
}

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Where the folders that may need creating begin: after "C:\", after
// "\\server\share\", or at the start of a relative path.
std::size_t firstCreatable(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        std::size_t server = path.find_first_of("\\/", 2);
        if (server == std::string::npos) return path.size();
        std::size_t share = path.find_first_of("\\/", server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    if (!path.empty() && isSeparator(path[0])) return 1;
    return 0;
}

}  // namespace

bool makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    for (std::size_t at = firstCreatable(path); at <= path.size(); ++at) {
        if (at != path.size() && !isSeparator(path[at])) continue;
        if (at == 0 || isSeparator(path[at - 1])) continue;  // no name between two separators
        // An existing folder refuses with ERROR_ALREADY_EXISTS; the final
        // check below tells whether the whole path stands.
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    return isDirectory(path);
}

}  // namespace platform

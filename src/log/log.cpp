#include "log/log.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/clock.h"
#include "platform/folders.h"

namespace {

// A line, with its prefix and newline, is at most this long.
const std::size_t MAX_LINE_LENGTH = 1999;
const int MAX_LEVEL = 12;
const char* const LOG_FILE_NAME = "zanfiroWebLauncher.log";

// Both threads (and the rotation) may be the first to need the path.
std::mutex pathMutex;
// Never destroyed: when the main thread returns on a stop signal, the server
// thread may still be writing a line while static objects are torn down.
std::string& cachedPath = *new std::string;

// Keeps two threads that both find the log full from rotating it twice.
std::mutex rotationMutex;

std::FILE* openForAppend(const std::string& path) {
    if (path.empty()) return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "at");
    if (file) return file;
    // The folder may not exist yet (first run, or removed while running).
    const std::size_t lastSeparator = path.rfind(platform::pathSeparator());
    if (lastSeparator == std::string::npos || lastSeparator == 0) return nullptr;
    if (!platform::makeDirectories(path.substr(0, lastSeparator))) return nullptr;
    return std::fopen(path.c_str(), "at");
}

// Size in bytes of the open file, -1 when unknown.
long sizeOf(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    return std::ftell(file);
}

long sizeOf(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return -1;
    const long size = sizeOf(file);
    std::fclose(file);
    return size;
}

void shiftCopies(const std::string& path) {
    static const char* const SUFFIXES[] = {".4", ".3", ".2", ".1", ""};
    std::remove((path + SUFFIXES[0]).c_str());
    for (int k = 1; k < 5; ++k) std::rename((path + SUFFIXES[k]).c_str(), (path + SUFFIXES[k - 1]).c_str());
}

}  // namespace

std::string logFilePath() {
    std::lock_guard<std::mutex> lock(pathMutex);
    if (cachedPath.empty()) {
        std::string folder;
        // An empty folder counts as a failed lookup: the log would land in
        // the root of the file system.
        if (platform::knownFolderPath(platform::KnownFolder::RoamingAppData, folder) >= 0 &&
            !folder.empty()) {
            const char sep = platform::pathSeparator();
            cachedPath = folder + sep + "zanfiro" + sep + "log" + sep + LOG_FILE_NAME;
        }
    }
    return cachedPath;
}

void forgetLogFilePath() {
    std::lock_guard<std::mutex> lock(pathMutex);
    cachedPath.clear();
}

void formatTimestamp(std::string& text) {
    std::tm local{};
    char buffer[25];
    if (!platform::localTime(platform::currentTime(), local) ||
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        // Keeps the shape of the prefix when the clock cannot be read.
        text = "0000-00-00 00:00:00";
        return;
    }
    text = buffer;
}

void rotateLogs() {
    const std::string path = logFilePath();
    // Without a resolved path the names would be relative to the working
    // directory: leave every file alone.
    if (path.empty()) return;
    std::lock_guard<std::mutex> lock(rotationMutex);
    shiftCopies(path);
}

void writeLog(const char* message, int level) {
    const std::string path = logFilePath();

    if (level < 0) level = 0;
    if (level > MAX_LEVEL) level = MAX_LEVEL;

    std::string line;
    if (level == 0) {
        std::string timestamp;
        formatTimestamp(timestamp);
        line = "[" + timestamp + "] ";
    } else {
        line.assign(2 * static_cast<std::size_t>(level), ' ');
    }
    const std::size_t room = MAX_LINE_LENGTH - 1 - line.size();
    const char* text = message ? message : "";
    std::size_t length = 0;
    while (length < room && text[length] != '\0') ++length;
    line.append(text, length);
    line += '\n';

    std::FILE* file = openForAppend(path);
    if (file && sizeOf(file) >= LOG_SIZE_LIMIT) {
        std::fclose(file);
        {
            std::lock_guard<std::mutex> lock(rotationMutex);
            // Another thread may have rotated it in the meantime.
            if (sizeOf(path) >= LOG_SIZE_LIMIT) shiftCopies(path);
        }
        file = openForAppend(path);
    }
    if (!file) {
        std::printf("%s", ("error in fopen(" + path + ")\n").c_str());
        std::fflush(stdout);
        return;
    }
    std::fputs(line.c_str(), file);
    std::fclose(file);
}

void writeLog(const std::string& message, int level) {
    writeLog(message.c_str(), level);
}

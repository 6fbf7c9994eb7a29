#include "log/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/folders.h"

namespace {

// A line, with its prefix and newline, is at most this long.
const std::size_t MAX_LINE_LENGTH = 1999;
const int MAX_LEVEL = 12;
const char* const LOG_FILE_NAME = "zanfiroWebLauncher.log";

// Keeps two threads that both find the log full from rotating it twice.
std::mutex rotationMutex;

// Whether the last line failed to reach the file. Both threads share it, so
// a log that cannot be written is noted once, not once per line, and its
// return once: an output nobody reads must never fill up with notes.
std::atomic<bool> logFailing{false};

void noteFailure(const std::string& note) {
    if (!logFailing.exchange(true)) platform::writeStandardOutput(note);
}

void noteSuccess(const std::string& path) {
    if (logFailing.load(std::memory_order_relaxed) && logFailing.exchange(false))
        platform::writeStandardOutput("log written again (" + path + ")\n");
}

bool openForAppend(platform::AppendFile& file, const std::string& path) {
    if (path.empty()) return false;
    if (file.open(path)) return true;
    // The folder may not exist yet (first run, or removed while running).
    const std::size_t lastSeparator = path.rfind(platform::pathSeparator());
    if (lastSeparator == std::string::npos || lastSeparator == 0) return false;
    if (!platform::makeDirectories(path.substr(0, lastSeparator))) return false;
    return file.open(path);
}

void shiftCopies(const std::string& path) {
    static const char* const SUFFIXES[] = {".4", ".3", ".2", ".1", ""};
    std::remove((path + SUFFIXES[0]).c_str());
    for (int k = 1; k < 5; ++k) std::rename((path + SUFFIXES[k]).c_str(), (path + SUFFIXES[k - 1]).c_str());
}

// Rotates the full log unless another writer (a thread, or another launcher
// process) rotated it since it was found full.
void rotateFullLog(const std::string& path) {
    std::lock_guard<std::mutex> lock(rotationMutex);
    platform::AppendFile again;
    if (!again.open(path)) return;
    const bool stillFull = again.size() >= LOG_SIZE_LIMIT;
    again.close();
    if (stillFull) shiftCopies(path);
}

std::string prefixFor(int level) {
    if (level != 0) return std::string(2 * static_cast<std::size_t>(level), ' ');
    std::string timestamp;
    formatTimestamp(timestamp);
    return "[" + timestamp + "] ";
}

}  // namespace

std::string logFilePath() {
    std::string folder;
    // An empty folder counts as a failed lookup: the log would land in the
    // root of the file system.
    if (!platform::userDataFolder(folder) || folder.empty()) return std::string();
    const char sep = platform::pathSeparator();
    return folder + sep + "zanfiro" + sep + "log" + sep + LOG_FILE_NAME;
}

std::string escapeForLog(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            escaped += "\\x";
            escaped += HEX[byte >> 4];
            escaped += HEX[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
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

    std::string line = prefixFor(level);
    const std::size_t room = MAX_LINE_LENGTH - 1 - line.size();
    const char* text = message ? message : "";
    std::size_t length = 0;
    while (length < room && text[length] != '\0') ++length;
    line.append(text, length);
    line += '\n';

    platform::AppendFile file;
    bool opened = openForAppend(file, path);
    if (opened && file.size() >= LOG_SIZE_LIMIT) {
        file.close();
        rotateFullLog(path);
        opened = openForAppend(file, path);
    }
    if (!opened) {
        noteFailure("error in fopen(" + path + ")\n");
        return;
    }
    // A full disk takes part of the line, or none of it.
    if (!file.write(line)) {
        noteFailure("error in write(" + path + ")\n");
        return;
    }
    noteSuccess(path);
}

void writeLog(const std::string& message, int level) {
    writeLog(message.c_str(), level);
}

void writeLogf(int level, const char* format, ...) {
    char line[MAX_LINE_LENGTH + 1];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    writeLog(line, level);
}

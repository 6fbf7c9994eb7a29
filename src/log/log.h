// The launcher's log: one file, one line per call, opened and closed per line.
#pragma once

#include <cstddef>
#include <string>

// Appends one line at level (0: timestamped event, 1 and 2: indented detail).
// The message is taken up to its first NUL byte. Never fails towards the caller.
void writeLog(const std::string& message, int level);
void writeLog(const char* message, int level);

// Replaces text with the local time as "%Y-%m-%d %H:%M:%S".
void formatTimestamp(std::string& text);

// Full path of the log file, looked up on first use; empty while the folder
// lookup fails (it is tried again on the next call).
std::string logFilePath();

// Shifts the log and its numbered copies by one (.1 newest, .4 oldest).
void rotateLogs();

// A log file that already holds this many bytes is rotated before the next line.
constexpr long LOG_SIZE_LIMIT = 10L * 1024 * 1024;

// Forgets the looked-up path, so tests can point the log elsewhere.
void forgetLogFilePath();

// The launcher's log: one file, one line per call, opened and closed per line.
#pragma once

#include <cstdint>
#include <string>

// Appends one line at level (0: timestamped event, 1 and 2: indented detail).
// The message is taken up to its first NUL byte. Never fails towards the caller.
void writeLog(const std::string& message, int level);
void writeLog(const char* message, int level);
// The same, with the message formatted as printf does.
void writeLogf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Text that came from a client, made fit for one log line: control bytes and
// the backslash are written as \r, \n, \t, \xHH and \\, so a request
// cannot forge lines of its own and the escaping can be undone.
std::string escapeForLog(const std::string& text);

// Replaces text with the local time as "%Y-%m-%d %H:%M:%S".
void formatTimestamp(std::string& text);

// Full path of the log file below the user's data folder; empty while that
// folder cannot be named.
std::string logFilePath();

// Shifts the log and its numbered copies by one (.1 newest, .4 oldest).
void rotateLogs();

// A log file that already holds this many bytes is rotated before the next line.
constexpr std::int64_t LOG_SIZE_LIMIT = 10LL * 1024 * 1024;

// Appending to a shared file: the Windows handle opened for appending only,
// shared with other writers, the text's line ends as the C runtime's text
// mode writes them.
#include "platform/file.h"

#include <windows.h>

#include <cstdio>

namespace platform {

bool AppendFile::open(const std::string& path) {
    close();
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    LARGE_INTEGER size;
    size_ = GetFileSizeEx(file, &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
    return true;
}

bool AppendFile::write(const std::string& text) {
    if (handle_ == CLOSED) return false;
    std::string lines;
    lines.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(reinterpret_cast<HANDLE>(handle_), lines.data(),
                              static_cast<DWORD>(lines.size()), &written, nullptr);
    return ok && written == lines.size();
}

FileRead readSmallFile(const std::string& path, std::size_t limit, std::string& text) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Missing
                                                                              : FileRead::Failed;
    }
    std::string content;
    char buffer[4096];
    FileRead result = FileRead::Read;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr) || content.size() + n > limit) {
            result = FileRead::Failed;
            break;
        }
        if (n == 0) break;
        content.append(buffer, n);
    }
    CloseHandle(file);
    if (result == FileRead::Read) text = content;
    return result;
}

void writeStandardOutput(const std::string& text) {
    // A program of the graphical subsystem usually has no standard output;
    // when a parent gave it one, the C runtime's stream is it.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void AppendFile::close() {
    if (handle_ == CLOSED) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = CLOSED;
    size_ = -1;
}

}  // namespace platform

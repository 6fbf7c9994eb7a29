// Appending to a file that other writers (threads and processes) share: each
// use opens, appends and closes, holding nothing between uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { close(); }

    // Opens path for appending, creating the file when it is missing.
    bool open(const std::string& path);
    // Size of the open file in bytes when it was opened; -1 when unknown.
    std::int64_t size() const { return size_; }
    // Appends text in one write; a "\n" in it becomes the platform's line
    // end. False when not all of it was written (a full disk, say).
    bool write(const std::string& text);
    void close();
    bool isOpen() const { return handle_ != CLOSED; }

private:
    static constexpr std::intptr_t CLOSED = -1;
    std::intptr_t handle_ = CLOSED;
    std::int64_t size_ = -1;
};

// Reads a small file whole. Missing: there is no such file. Failed: it
// exists but cannot be read, or holds more than limit bytes.
enum class FileRead { Read, Missing, Failed };
FileRead readSmallFile(const std::string& path, std::size_t limit, std::string& text);

// Writes a short note to the standard output without waiting on it: when the
// output cannot take it now (a pipe nobody reads), or is gone, the note is
// dropped. Never raises a signal.
void writeStandardOutput(const std::string& text);

}  // namespace platform

// Appending to a shared file: open with O_APPEND, one fstat, one write.
#include "platform/file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool AppendFile::open(const std::string& path) {
    close();
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return false;
    handle_ = descriptor;
    struct stat info;
    size_ = ::fstat(descriptor, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
    return true;
}

bool AppendFile::write(const std::string& text) {
    if (handle_ == CLOSED) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(static_cast<int>(handle_), text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

FileRead readSmallFile(const std::string& path, std::size_t limit, std::string& text) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    std::string content;
    char buffer[4096];
    FileRead result = FileRead::Read;
    for (;;) {
        const ssize_t n = ::read(descriptor, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > limit) {
            result = FileRead::Failed;
            break;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(descriptor);
    if (result == FileRead::Read) text = content;
    return result;
}

void writeStandardOutput(const std::string& text) {
    // A pipe that reports room takes a write of up to PIPE_BUF bytes whole
    // without blocking; the notes are far shorter.
    pollfd output{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&output, 1, 0) != 1 || !(output.revents & POLLOUT)) return;
    // SIGPIPE is ignored by the process; a reader that has gone gives EPIPE.
    ssize_t written;
    do {
        written = ::write(STDOUT_FILENO, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
}

void AppendFile::close() {
    if (handle_ == CLOSED) return;
    ::close(static_cast<int>(handle_));
    handle_ = CLOSED;
    size_ = -1;
}

}  // namespace platform

#include "fake/fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/process.h"

namespace fake {

Platform& state() {
    static Platform platform;
    return platform;
}

void reset() {
    state() = Platform{};
}

platform::SystemError error(platform::ErrorKind kind, int number) {
    return platform::SystemError{kind, number, "fake error " + std::to_string(number)};
}

platform::IoResult transferred(std::size_t count) {
    platform::IoResult result;
    result.count = count;
    return result;
}

platform::IoResult wouldBlock() {
    platform::IoResult result;
    result.status = platform::IoStatus::WouldBlock;
    return result;
}

platform::IoResult peerClosed() {
    platform::IoResult result;
    result.status = platform::IoStatus::Closed;
    return result;
}

platform::IoResult failed(int number) {
    platform::IoResult result;
    result.status = platform::IoStatus::Failed;
    result.error = error(platform::ErrorKind::Other, number);
    return result;
}

}  // namespace fake

namespace platform {

using fake::state;

LibraryStart startSocketLibrary() {
    ++state().libraryStarts;
    return state().libraryStart;
}

Socket openTcpSocket(SystemError& error) {
    if (state().openTcpSocket) return state().openTcpSocket(error);
    return state().nextSocket++;
}

bool setNonBlocking(Socket s) {
    return state().setNonBlocking ? state().setNonBlocking(s) : true;
}
bool claimPort(Socket s) {
    return state().claimPort ? state().claimPort(s) : true;
}
bool bindSocket(Socket s, const Ipv4Endpoint& local, SystemError& error) {
    return state().bindSocket ? state().bindSocket(s, local, error) : true;
}
bool listenOn(Socket s, int backlog) {
    return state().listenOn ? state().listenOn(s, backlog) : true;
}

Accepted acceptConnection(Socket listener) {
    if (state().acceptConnection) return state().acceptConnection(listener);
    Accepted none;
    none.status = IoStatus::WouldBlock;
    return none;
}

bool connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs, SystemError& error) {
    return state().connectTo ? state().connectTo(s, remote, timeoutMs, error) : true;
}

bool setReceiveTimeout(Socket s, int timeoutMs) {
    return state().setReceiveTimeout ? state().setReceiveTimeout(s, timeoutMs) : true;
}

IoResult sendBytes(Socket s, const char* data, std::size_t length) {
    if (state().sendBytes) return state().sendBytes(s, data, length);
    state().sent[s].append(data, length);
    return fake::transferred(length);
}

IoResult receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    return state().receiveBytes ? state().receiveBytes(s, buffer, capacity) : fake::peerClosed();
}

void closeSocket(Socket s) {
    if (state().closeSocket) return state().closeSocket(s);
    state().closed.push_back(s);
}

WaitResult waitReadable(WatchedSocket* sockets, std::size_t count, long timeoutMs) {
    if (state().waitReadable) return state().waitReadable(sockets, count, timeoutMs);
    WaitResult result;
    result.status = WaitStatus::Failed;
    result.error = fake::error(ErrorKind::Other, 9);
    return result;
}

bool userDataFolder(std::string& path) {
    if (!state().userDataFolder) return false;
    path = *state().userDataFolder;
    return true;
}

std::vector<std::string> programFolders() {
    return state().programFolders;
}

char pathSeparator() {
    return state().separator;
}
const char* executableSuffix() {
    return state().suffix.c_str();
}

// Real folders and files: the log tests write below a temporary folder.
bool makeDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

bool AppendFile::open(const std::string& path) {
    close();
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    std::fseek(file, 0, SEEK_END);
    size_ = std::ftell(file);
    if (state().afterAppendOpen) state().afterAppendOpen(path);
    return true;
}

bool AppendFile::write(const std::string& text) {
    if (handle_ == CLOSED || state().appendWritesFail) return false;
    std::FILE* file = reinterpret_cast<std::FILE*>(handle_);
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

bool userConfigFolder(std::string& path) {
    if (!state().userConfigFolder) return false;
    path = *state().userConfigFolder;
    return true;
}

// Real files, read with the C library.
FileRead readSmallFile(const std::string& path, std::size_t limit, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::filesystem::exists(path) ? FileRead::Failed : FileRead::Missing;
    std::string content;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
    std::fclose(file);
    if (content.size() > limit) return FileRead::Failed;
    text = content;
    return FileRead::Read;
}

void writeStandardOutput(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void AppendFile::close() {
    if (handle_ == CLOSED) return;
    std::fclose(reinterpret_cast<std::FILE*>(handle_));
    handle_ = CLOSED;
    size_ = -1;
}

std::time_t currentTime() {
    return state().now;
}

bool localTime(std::time_t when, std::tm& local) {
    std::tm* converted = std::gmtime(&when);
    if (!converted) return false;
    local = *converted;
    return true;
}

std::int64_t monotonicMilliseconds() {
    return state().monotonicMs;
}

void sleepMilliseconds(unsigned milliseconds) {
    state().sleeps.push_back(milliseconds);
}

int startThread(void (*routine)()) {
    if (state().startThread) return state().startThread(routine);
    state().threadsStarted.push_back(routine);
    return 0;
}

int waitForStopRequest() {
    ++state().stopWaits;
    return state().stopCode;
}

void exitProcess(int code) {
    std::exit(code);
}

bool startProgram(const std::string& file, const std::string& argument, const std::string& directory,
                  SystemError& error) {
    state().programStarts.push_back({file, argument, directory});
    if (!state().programStartSucceeds) error = fake::error(ErrorKind::Other, 2);
    return state().programStartSucceeds;
}

}  // namespace platform

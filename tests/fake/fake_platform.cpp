#include "fake/fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/process.h"

namespace fake {

Platform& state() {
    static Platform platform;
    return platform;
}

void reset() {
    state() = Platform{};
}

}  // namespace fake

namespace platform {

using fake::state;

int startSocketLibrary(int major, int minor, SocketLibraryVersion& granted) {
    if (state().startSocketLibrary) return state().startSocketLibrary(major, minor, granted);
    granted.major = major;
    granted.minor = minor;
    return 0;
}

void stopSocketLibrary() {
    ++state().stopSocketLibraryCalls;
}

Socket openTcpSocket() {
    if (state().openTcpSocket) return state().openTcpSocket();
    return state().nextSocket++;
}

int setNonBlocking(Socket s) {
    return state().setNonBlocking ? state().setNonBlocking(s) : 0;
}
int setReuseAddress(Socket s) {
    return state().setReuseAddress ? state().setReuseAddress(s) : 0;
}
int bindSocket(Socket s, const Ipv4Endpoint& local) {
    return state().bindSocket ? state().bindSocket(s, local) : 0;
}
int listenOn(Socket s, int backlog) {
    return state().listenOn ? state().listenOn(s, backlog) : 0;
}

Socket acceptConnection(Socket listener, Ipv4Endpoint& peer) {
    if (state().acceptConnection) return state().acceptConnection(listener, peer);
    state().lastError = 11;
    return NO_SOCKET;
}

int connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs) {
    return state().connectTo ? state().connectTo(s, remote, timeoutMs) : 0;
}

int setReceiveTimeout(Socket s, int timeoutMs) {
    return state().setReceiveTimeout ? state().setReceiveTimeout(s, timeoutMs) : 0;
}

long sendBytes(Socket s, const char* data, std::size_t length) {
    if (state().sendBytes) return state().sendBytes(s, data, length);
    state().sent[s].append(data, length);
    return static_cast<long>(length);
}

long receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    return state().receiveBytes ? state().receiveBytes(s, buffer, capacity) : 0;
}

int closeSocket(Socket s) {
    if (state().closeSocket) return state().closeSocket(s);
    state().closed.push_back(s);
    return 0;
}

int waitReadable(SocketSet& set, long timeoutSeconds) {
    if (state().waitReadable) return state().waitReadable(set, timeoutSeconds);
    state().lastError = 9;
    return -1;
}

int lastSocketError() {
    return state().lastError;
}
bool isInterruptedError(int error) {
    return error == 4;
}
bool isWouldBlockError(int error) {
    return error == 11;
}
std::string errorDescription(int error) {
    return "fake error " + std::to_string(error);
}

int knownFolderPath(KnownFolder folder, std::string& path) {
    state().folderLookups.push_back(folder);
    auto found = state().folders.find(folder);
    if (found == state().folders.end()) return -1;
    path = found->second;
    return 0;
}

char pathSeparator() {
    return state().separator;
}
const char* executableSuffix() {
    return state().suffix.c_str();
}

// Real folders: the log tests write real files below a temporary folder.
bool makeDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
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

void sleepMilliseconds(unsigned milliseconds) {
    state().sleeps.push_back(milliseconds);
}

void rememberCommandLine(int, char**) {}

bool commandLineArguments(std::vector<std::string>& arguments) {
    if (!state().commandLineSplits) return false;
    arguments = state().arguments;
    return true;
}

int startThread(void (*routine)()) {
    if (state().startThread) return state().startThread(routine);
    state().threadsStarted.push_back(routine);
    return 0;
}

int waitForQuitMessage() {
    ++state().quitWaits;
    return state().quitCode;
}

void exitProcess(int code) {
    std::exit(code);
}

long startProgram(const std::string& file, const std::string& argument, const std::string& directory) {
    state().programStarts.push_back({file, argument, directory});
    return state().programStartResult;
}

}  // namespace platform

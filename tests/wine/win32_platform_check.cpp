// Checks of the Windows platform layer on real Winsock, shell and kernel
// calls, run under Wine by the native build's tests. Ports are the system's
// choice, so the launcher's port is never touched. Started with the
// arguments "-kill", "a b" and U+FF0D U+FF4B; prints one line per failed check
// and ends with 0 only when all passed.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/socket.h"

using platform::NO_SOCKET;
using platform::Socket;
using platform::SocketSet;

namespace {

int failures = 0;

#define CHECK(condition)                                                       \
    do {                                                                       \
        if (!(condition)) {                                                    \
            ++failures;                                                        \
            std::printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #condition); \
        }                                                                      \
    } while (0)

bool inheritable(Socket s) {
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

std::uint16_t localPort(Socket s) {
    sockaddr_in address = {};
    int length = sizeof address;
    getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::vector<Socket> members(const SocketSet& set) {
    return std::vector<Socket>(set.sockets, set.sockets + set.count);
}

// A listener on 127.0.0.1 set up the way the server does it.
struct Listener {
    Socket socket = platform::openTcpSocket();
    platform::Ipv4Endpoint endpoint;
    Listener() {
        CHECK(socket != NO_SOCKET);
        CHECK(platform::setNonBlocking(socket) == 0);
        CHECK(platform::setReuseAddress(socket) == 0);
        platform::Ipv4Endpoint local;
        local.address = platform::LOOPBACK_ADDRESS;
        CHECK(platform::bindSocket(socket, local) == 0);
        CHECK(platform::listenOn(socket, 5) == 0);
        endpoint.address = platform::LOOPBACK_ADDRESS;
        endpoint.port = localPort(socket);
    }
    ~Listener() { platform::closeSocket(socket); }

    Socket client() const {
        Socket s = platform::openTcpSocket();
        CHECK(platform::connectTo(s, endpoint, 2000) == 0);
        return s;
    }
    Socket accept(platform::Ipv4Endpoint& peer) const {
        SocketSet set;
        set.sockets[set.count++] = socket;
        CHECK(platform::waitReadable(set, 5) == 1);
        return platform::acceptConnection(socket, peer);
    }
};

void socketsAreNotInheritedAndAcceptedOnesDoNotBlock() {
    Listener listener;
    CHECK(!inheritable(listener.socket));
    Socket c = listener.client();
    CHECK(!inheritable(c));
    platform::Ipv4Endpoint peer;
    Socket s = listener.accept(peer);
    CHECK(s != NO_SOCKET);
    CHECK(!inheritable(s));
    CHECK(peer.address == platform::LOOPBACK_ADDRESS);
    CHECK(peer.port == localPort(c));

    char buffer[16];
    CHECK(platform::receiveBytes(s, buffer, sizeof buffer) == -1);
    CHECK(platform::isWouldBlockError(platform::lastSocketError()));
    CHECK(platform::acceptConnection(listener.socket, peer) == NO_SOCKET);
    CHECK(platform::isWouldBlockError(platform::lastSocketError()));

    // The client was handed back blocking: a receive with a bound waits for
    // it and fails with the time-out.
    CHECK(platform::setReceiveTimeout(c, 300) == 0);
    DWORD started = GetTickCount();
    CHECK(platform::receiveBytes(c, buffer, sizeof buffer) == -1);
    CHECK(platform::lastSocketError() == WSAETIMEDOUT);
    CHECK(GetTickCount() - started >= 250);
    platform::closeSocket(s);
    platform::closeSocket(c);
}

void waitLeavesExactlyTheReadableSocketsInOrder() {
    Listener listener;
    platform::Ipv4Endpoint peer;
    Socket quiet = listener.client();
    Socket talking = listener.client();
    Socket leaving = listener.client();
    Socket quietServer = listener.accept(peer);
    Socket talkingServer = listener.accept(peer);
    Socket leavingServer = listener.accept(peer);
    Socket pending = listener.client();  // not accepted: the listener is readable
    CHECK(platform::sendBytes(talking, "hello", 5) == 5);
    platform::closeSocket(leaving);

    SocketSet set;
    for (Socket s : {listener.socket, quietServer, talkingServer, leavingServer})
        set.sockets[set.count++] = s;
    std::vector<Socket> expected = {listener.socket, talkingServer, leavingServer};
    SocketSet ready;
    int result = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ready = set;
        result = platform::waitReadable(ready, 1);
        if (members(ready) == expected) break;
        Sleep(20);
    }
    CHECK(result == 3);
    CHECK(members(ready) == expected);
    char buffer[16];
    CHECK(platform::receiveBytes(leavingServer, buffer, sizeof buffer) == 0);
    CHECK(platform::receiveBytes(talkingServer, buffer, sizeof buffer) == 5);

    // Nothing readable: time-out, empty set.
    SocketSet idle;
    idle.sockets[idle.count++] = quietServer;
    CHECK(platform::waitReadable(idle, 0) == 0);
    CHECK(idle.count == 0u);

    // A socket that is none fails the wait, as select does.
    SocketSet invalid;
    invalid.sockets[invalid.count++] = listener.socket;
    invalid.sockets[invalid.count++] = NO_SOCKET;
    CHECK(platform::waitReadable(invalid, 1) == -1);
    CHECK(platform::lastSocketError() == WSAENOTSOCK);
    CHECK(!platform::isInterruptedError(platform::lastSocketError()));

    for (Socket s : {quiet, talking, pending, quietServer, talkingServer, leavingServer})
        platform::closeSocket(s);
}

void connectIsRefusedOrGivesUpAtItsLimit() {
    // A port that was just free: bound, never listened on, released.
    Socket placeholder = platform::openTcpSocket();
    platform::Ipv4Endpoint nobody;
    nobody.address = platform::LOOPBACK_ADDRESS;
    CHECK(platform::bindSocket(placeholder, nobody) == 0);
    nobody.port = localPort(placeholder);
    platform::closeSocket(placeholder);
    Socket probe = platform::openTcpSocket();
    CHECK(platform::connectTo(probe, nobody, 2000) == -1);
    CHECK(platform::lastSocketError() == WSAECONNREFUSED);
    std::string description = platform::errorDescription(WSAECONNREFUSED);
    CHECK(!description.empty());
    CHECK(description.find_first_of("\r\n") == std::string::npos);
    platform::closeSocket(probe);

    // A listener with a full queue lets further attempts wait.
    Socket full = platform::openTcpSocket();
    platform::Ipv4Endpoint target;
    target.address = platform::LOOPBACK_ADDRESS;
    CHECK(platform::bindSocket(full, target) == 0);
    CHECK(platform::listenOn(full, 0) == 0);
    target.port = localPort(full);
    std::vector<Socket> attempts;
    int result = 0;
    for (int i = 0; i < 8 && result == 0; ++i) {
        attempts.push_back(platform::openTcpSocket());
        result = platform::connectTo(attempts.back(), target, 300);
    }
    CHECK(result == -1);
    CHECK(platform::lastSocketError() == WSAETIMEDOUT);
    for (Socket s : attempts) platform::closeSocket(s);
    platform::closeSocket(full);
}

void knownFoldersAndDirectories() {
    for (platform::KnownFolder folder :
         {platform::KnownFolder::RoamingAppData, platform::KnownFolder::ProgramFiles,
          platform::KnownFolder::ProgramFilesX86}) {
        std::string path;
        CHECK(platform::knownFolderPath(folder, path) >= 0);
        CHECK(!path.empty() && path.back() != '\\');
        DWORD attributes = GetFileAttributesA(path.c_str());
        CHECK(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    }
    std::string x86;
    platform::knownFolderPath(platform::KnownFolder::ProgramFilesX86, x86);
    CHECK(x86.size() >= 20 && x86.compare(x86.size() - 20, 20, "\\Program Files (x86)") == 0);
    CHECK(platform::pathSeparator() == '\\');
    CHECK(std::string(platform::executableSuffix()) == ".exe");

    char temp[MAX_PATH];
    CHECK(GetTempPathA(MAX_PATH, temp) > 0);
    std::string base = std::string(temp) + "zwl-check-" + std::to_string(GetCurrentProcessId());
    std::string nested = base + "\\one\\two/three";
    CHECK(platform::makeDirectories(nested));
    CHECK(platform::makeDirectories(nested));  // already there
    std::string file = base + "\\one\\file";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CHECK(h != INVALID_HANDLE_VALUE);
    CloseHandle(h);
    CHECK(!platform::makeDirectories(file + "\\below"));
    DeleteFileA(file.c_str());
    for (const std::string& folder : {nested, base + "\\one\\two", base + "\\one", base}) {
        RemoveDirectoryA(folder.c_str());
    }
}

std::atomic<bool> threadRan{false};
void markThreadRan() {
    threadRan = true;
}

void processAndClock() {
    std::vector<std::string> arguments;
    CHECK(platform::commandLineArguments(arguments));
    CHECK(arguments.size() == 4u);
    if (arguments.size() == 4u) {
        CHECK(arguments[1] == "-kill");
        CHECK(arguments[2] == "a b");
        CHECK(arguments[3] == "\xEF\xBC\x8D\xEF\xBD\x8B");  // U+FF0D U+FF4B, exact
    }

    CHECK(platform::startThread(markThreadRan) == 0);
    for (int i = 0; i < 100 && !threadRan; ++i) platform::sleepMilliseconds(20);
    CHECK(threadRan);

    std::tm local = {};
    CHECK(platform::localTime(platform::currentTime(), local));
    CHECK(local.tm_year >= 100);
}

}  // namespace

int main() {
    platform::SocketLibraryVersion granted;
    CHECK(platform::startSocketLibrary(2, 0, granted) == 0);
    CHECK(granted.major == 2 && granted.minor == 0);

    socketsAreNotInheritedAndAcceptedOnesDoNotBlock();
    waitLeavesExactlyTheReadableSocketsInOrder();
    connectIsRefusedOrGivesUpAtItsLimit();
    knownFoldersAndDirectories();
    processAndClock();

    std::printf("%s: %d failed check(s)\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}

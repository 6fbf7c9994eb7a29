// Checks of the Windows platform layer on real Winsock, shell and kernel
// calls, run under Wine by the native build's tests. Ports are the system's
// choice, so the launcher's port is never touched. Started with the
// arguments "-kill", "a b" and U+FF0D U+FF4B; prints one line per failed check
// and ends with 0 only when all passed.
//
// The checks start in the launcher's own Windows entry point: its WinMain
// reads the wide command line and hands the arguments to launcherMain, which
// here is the check itself, so the arguments seen are exactly what the
// launcher would see.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/socket.h"
// The launcher's WinMain, compiled into this program: zwl_platform leaves
// the entry point out.
#include "platform/win32/entry.cpp"

using platform::ErrorKind;
using platform::IoStatus;
using platform::NO_SOCKET;
using platform::Socket;
using platform::SystemError;
using platform::WaitStatus;
using platform::WatchedSocket;

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

platform::Ipv4Endpoint loopback(std::uint16_t port = 0) {
    platform::Ipv4Endpoint endpoint;
    endpoint.address = platform::LOOPBACK_ADDRESS;
    endpoint.port = port;
    return endpoint;
}

// A failure as the platform reports it: its kind, the system's number, and
// one line of text for the log.
bool reported(const SystemError& error, ErrorKind kind, int number) {
    return error.kind == kind && error.number == number && !error.text.empty() &&
           error.text.find_first_of("\r\n") == std::string::npos;
}

Socket openSocket() {
    SystemError error;
    Socket s = platform::openTcpSocket(error);
    CHECK(s != NO_SOCKET);
    CHECK(error.kind == ErrorKind::None);
    return s;
}

// Waits (bounded) until s is readable.
bool awaitReadable(Socket s) {
    WatchedSocket watched[1];
    watched[0].socket = s;
    return platform::waitReadable(watched, 1, 5000).status == WaitStatus::Ready && watched[0].readable;
}

// A listener on 127.0.0.1 set up the way the server does it.
struct Listener {
    Socket socket = openSocket();
    platform::Ipv4Endpoint endpoint;
    Listener() {
        SystemError error;
        CHECK(platform::setNonBlocking(socket));
        CHECK(platform::claimPort(socket));
        CHECK(platform::bindSocket(socket, loopback(), error));
        CHECK(platform::listenOn(socket, 5));
        endpoint = loopback(localPort(socket));
    }
    ~Listener() { platform::closeSocket(socket); }

    Socket client() const {
        Socket s = openSocket();
        SystemError error;
        CHECK(platform::connectTo(s, endpoint, 2000, error));
        return s;
    }
    Socket accept(platform::Ipv4Endpoint& peer) const {
        CHECK(awaitReadable(socket));
        platform::Accepted accepted = platform::acceptConnection(socket);
        CHECK(accepted.status == IoStatus::Ok);
        peer = accepted.peer;
        return accepted.socket;
    }
    Socket accept() const {
        platform::Ipv4Endpoint peer;
        return accept(peer);
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

    // Nothing pending: both calls return at once and say so.
    char buffer[16];
    platform::IoResult io = platform::receiveBytes(s, buffer, sizeof buffer);
    CHECK(io.status == IoStatus::WouldBlock);
    CHECK(io.count == 0u);
    platform::Accepted none = platform::acceptConnection(listener.socket);
    CHECK(none.status == IoStatus::WouldBlock);
    CHECK(none.socket == NO_SOCKET);

    // The client was handed back blocking: a receive with a bound waits for
    // it, and the time-out reads as nothing pending, not as a failure.
    CHECK(platform::setReceiveTimeout(c, 300));
    DWORD started = GetTickCount();
    io = platform::receiveBytes(c, buffer, sizeof buffer);
    CHECK(io.status == IoStatus::WouldBlock);
    CHECK(GetTickCount() - started >= 250);
    platform::closeSocket(s);
    platform::closeSocket(c);
}

void receiveTellsDataCloseAndResetApart() {
    Listener listener;
    Socket talking = listener.client();
    Socket talkingServer = listener.accept();
    CHECK(platform::sendBytes(talking, "hello", 5).count == 5u);
    CHECK(awaitReadable(talkingServer));
    char buffer[16];
    platform::IoResult io = platform::receiveBytes(talkingServer, buffer, sizeof buffer);
    CHECK(io.status == IoStatus::Ok && io.count == 5u && std::string(buffer, 5) == "hello");
    platform::closeSocket(talking);
    CHECK(awaitReadable(talkingServer));
    io = platform::receiveBytes(talkingServer, buffer, sizeof buffer);
    CHECK(io.status == IoStatus::Closed);

    // Linger 0: the close sends a reset. Windows reports it as a failure
    // with its cause; Wine 8 lets it read as an orderly close, which is
    // printed for the record. Anything else is wrong.
    Socket aborting = listener.client();
    Socket abortedServer = listener.accept();
    linger abort = {1, 0};
    CHECK(setsockopt(static_cast<SOCKET>(aborting), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&abort), sizeof abort) == 0);
    platform::closeSocket(aborting);
    CHECK(awaitReadable(abortedServer));
    io = platform::receiveBytes(abortedServer, buffer, sizeof buffer);
    CHECK(io.status == IoStatus::Closed ||
          (io.status == IoStatus::Failed && reported(io.error, ErrorKind::Other, WSAECONNRESET)));
    std::printf("record: receive after the peer's reset: %s\n", io.status == IoStatus::Closed   ? "Closed"
                                                                : io.status == IoStatus::Failed ? "Failed"
                                                                                                : "other");
    platform::closeSocket(talkingServer);
    platform::closeSocket(abortedServer);
}

void waitMarksExactlyTheReadableEntries() {
    Listener listener;
    Socket quiet = listener.client();
    Socket talking = listener.client();
    Socket leaving = listener.client();
    Socket quietServer = listener.accept();
    Socket talkingServer = listener.accept();
    Socket leavingServer = listener.accept();
    Socket pending = listener.client();  // not accepted: the listener is readable
    CHECK(platform::sendBytes(talking, "hello", 5).count == 5u);
    platform::closeSocket(leaving);

    const std::vector<Socket> order = {quietServer, listener.socket, talkingServer, leavingServer};
    const std::vector<bool> expected = {false, true, true, true};
    std::vector<bool> marks;
    WaitStatus status = WaitStatus::Failed;
    for (int attempt = 0; attempt < 50; ++attempt) {
        WatchedSocket watched[4];
        for (std::size_t i = 0; i < order.size(); ++i) {
            watched[i].socket = order[i];
            watched[i].readable = true;
        }
        status = platform::waitReadable(watched, order.size(), 1000).status;
        marks.clear();
        for (const WatchedSocket& w : watched) marks.push_back(w.readable);
        if (marks == expected) break;
        Sleep(20);
    }
    CHECK(status == WaitStatus::Ready);
    CHECK(marks == expected);
    char buffer[16];
    CHECK(platform::receiveBytes(leavingServer, buffer, sizeof buffer).status == IoStatus::Closed);
    CHECK(platform::receiveBytes(talkingServer, buffer, sizeof buffer).count == 5u);

    // Nothing readable: time-out, nothing marked.
    WatchedSocket idle[1];
    idle[0].socket = quietServer;
    idle[0].readable = true;
    DWORD started = GetTickCount();
    CHECK(platform::waitReadable(idle, 1, 200).status == WaitStatus::TimedOut);
    CHECK(GetTickCount() - started >= 150);
    CHECK(!idle[0].readable);
    CHECK(platform::waitReadable(idle, 1, 0).status == WaitStatus::TimedOut);

    // A socket that is none fails the wait.
    WatchedSocket invalid[2];
    invalid[0].socket = listener.socket;
    invalid[1].socket = NO_SOCKET;
    platform::WaitResult result = platform::waitReadable(invalid, 2, 1000);
    CHECK(result.status == WaitStatus::Failed);
    CHECK(reported(result.error, ErrorKind::Other, WSAENOTSOCK));

    for (Socket s : {quiet, talking, pending, quietServer, talkingServer, leavingServer})
        platform::closeSocket(s);
}

void connectIsRefusedOrGivesUpAtItsLimit() {
    // A port that was just free: bound, never listened on, released.
    Socket placeholder = openSocket();
    SystemError error;
    CHECK(platform::bindSocket(placeholder, loopback(), error));
    const platform::Ipv4Endpoint nobody = loopback(localPort(placeholder));
    platform::closeSocket(placeholder);
    Socket probe = openSocket();
    SystemError refused;
    CHECK(!platform::connectTo(probe, nobody, 2000, refused));
    CHECK(reported(refused, ErrorKind::Refused, WSAECONNREFUSED));
    platform::closeSocket(probe);

    // A listener with a full queue lets further attempts wait.
    Socket full = openSocket();
    CHECK(platform::bindSocket(full, loopback(), error));
    CHECK(platform::listenOn(full, 0));
    const platform::Ipv4Endpoint target = loopback(localPort(full));
    std::vector<Socket> attempts;
    bool connected = true;
    SystemError timedOut;
    for (int i = 0; i < 8 && connected; ++i) {
        attempts.push_back(openSocket());
        connected = platform::connectTo(attempts.back(), target, 300, timedOut);
    }
    CHECK(!connected);
    CHECK(reported(timedOut, ErrorKind::TimedOut, WSAETIMEDOUT));
    for (Socket s : attempts) platform::closeSocket(s);
    platform::closeSocket(full);
}

// A listener that claimed its port keeps it: no second socket binds it, not
// one that claims it too, and not one that asks for SO_REUSEADDR (which on
// Windows would otherwise let it take the port over).
void secondBindOnAListeningPort() {
    Listener listener;

    Socket plain = openSocket();
    SystemError error;
    CHECK(!platform::bindSocket(plain, listener.endpoint, error));
    CHECK(error.kind == ErrorKind::AddressInUse);
    platform::closeSocket(plain);

    Socket claimed = openSocket();
    CHECK(platform::claimPort(claimed));
    SystemError claimError;
    CHECK(!platform::bindSocket(claimed, listener.endpoint, claimError));
    CHECK(claimError.kind == ErrorKind::AddressInUse);
    platform::closeSocket(claimed);

    Socket reusing = openSocket();
    BOOL on = TRUE;
    CHECK(setsockopt(static_cast<SOCKET>(reusing), SOL_SOCKET, SO_REUSEADDR,
                     reinterpret_cast<const char*>(&on), sizeof on) == 0);
    SystemError reuseError;
    CHECK(!platform::bindSocket(reusing, listener.endpoint, reuseError));
    CHECK(reuseError.kind == ErrorKind::AddressInUse);
    platform::closeSocket(reusing);
}

bool isDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void knownFoldersAndDirectories() {
    std::string data;
    CHECK(platform::userDataFolder(data));
    CHECK(!data.empty() && data.back() != '\\');
    CHECK(isDirectory(data));
    CHECK(endsWith(data, "\\AppData\\Roaming"));

    // The 32-bit program folder first, then the native one.
    const std::vector<std::string> programs = platform::programFolders();
    CHECK(programs.size() == 2u);
    if (programs.size() == 2u) {
        CHECK(endsWith(programs[0], "\\Program Files (x86)"));
        CHECK(endsWith(programs[1], "\\Program Files"));
    }
    for (const std::string& folder : programs) {
        CHECK(!folder.empty() && folder.back() != '\\');
        CHECK(isDirectory(folder));
    }
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

std::string readFile(const std::string& path) {
    std::string content;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(h);
    return content;
}

void appendFileWritesWindowsLinesAndShares() {
    char temp[MAX_PATH];
    CHECK(GetTempPathA(MAX_PATH, temp) > 0);
    const std::string folder = std::string(temp) + "zwl-append-" + std::to_string(GetCurrentProcessId());
    CHECK(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string path = folder + "\\launcher.log";

    {
        platform::AppendFile file;
        CHECK(file.open(path));
        CHECK(file.size() == 0);
        CHECK(file.write("one\ntwo\n"));
        CHECK(file.size() == 0);  // the size at open
    }
    CHECK(readFile(path) == "one\r\ntwo\r\n");

    // Two writers open at once, appending in turn: each line lands whole
    // after the other's, none overwrites.
    platform::AppendFile first, second;
    CHECK(first.open(path));
    CHECK(second.open(path));
    CHECK(first.size() == 10 && second.size() == 10);
    for (int i = 0; i < 3; ++i) {
        CHECK(first.write("a" + std::to_string(i) + "\n"));
        CHECK(second.write("b" + std::to_string(i) + "\n"));
    }
    first.close();
    second.close();
    CHECK(!first.write("closed\n"));
    CHECK(readFile(path) == "one\r\ntwo\r\na0\r\nb0\r\na1\r\nb1\r\na2\r\nb2\r\n");

    platform::AppendFile below;
    CHECK(!below.open(path + "\\below.log"));
    CHECK(!below.isOpen());
    CHECK(below.size() == -1);

    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}

std::atomic<bool> threadRan{false};
void markThreadRan() {
    threadRan = true;
}

void processAndClock(const std::vector<std::string>& arguments) {
    // What WinMain handed over: the wide command line, split and in UTF-8.
    CHECK(arguments.size() == 4u);
    if (arguments.size() == 4u) {
        CHECK(arguments[1] == "-kill");
        CHECK(arguments[2] == "a b");
        CHECK(arguments[3] == "\xEF\xBC\x8D\xEF\xBD\x8B");  // U+FF0D U+FF4B, exact
    }

    CHECK(platform::startThread(markThreadRan) == 0);
    for (int i = 0; i < 100 && !threadRan; ++i) platform::sleepMilliseconds(20);
    CHECK(threadRan);

    // A quit message ends the wait with its parameter.
    CHECK(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 7, 0));
    CHECK(platform::waitForStopRequest() == 7);

    // A program that is not there: refused, with the system's reason.
    SystemError error;
    CHECK(!platform::startProgram("C:\\zwl-nowhere\\zanfiro.exe", "-w=1", "C:\\", error));
    CHECK(error.kind != ErrorKind::None);
    CHECK(!error.text.empty() && error.text.find_first_of("\r\n") == std::string::npos);
    std::printf("record: startProgram of a missing file: number %d, \"%s\"\n", error.number,
                error.text.c_str());

    std::tm local = {};
    CHECK(platform::localTime(platform::currentTime(), local));
    CHECK(local.tm_year >= 100);
}

}  // namespace

int launcherMain(const std::vector<std::string>& arguments) {
    CHECK(platform::startSocketLibrary() == platform::LibraryStart::Started);

    socketsAreNotInheritedAndAcceptedOnesDoNotBlock();
    receiveTellsDataCloseAndResetApart();
    waitMarksExactlyTheReadableEntries();
    connectIsRefusedOrGivesUpAtItsLimit();
    secondBindOnAListeningPort();
    knownFoldersAndDirectories();
    appendFileWritesWindowsLinesAndShares();
    processAndClock(arguments);

    std::printf("%s: %d failed check(s)\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}

// A console program, so that the lines above reach the terminal; the
// launcher's own WinMain runs the rest.
int main() {
    return WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWNORMAL);
}

// TCP sockets over IPv4, the way the server and the control client use them.
// One implementation per platform: posix/socket.cpp (BSD sockets) and
// win32/socket.cpp (Winsock 2). Every call says what happened in the terms
// below; no error is left behind to be asked for afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error.h"

namespace platform {

using Socket = std::intptr_t;
constexpr Socket NO_SOCKET = -1;

// Host byte order; the implementation converts for the wire.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};
constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;  // 127.0.0.1

// What one transfer did. Ok carries the byte count; WouldBlock means nothing
// was pending on a non-blocking socket (or its receive time-out ran out);
// Closed is the peer's orderly close; Failed carries the error.
enum class IoStatus { Ok, WouldBlock, Closed, Failed };
struct IoResult {
    IoStatus status = IoStatus::Ok;
    std::size_t count = 0;
    SystemError error;
};

// Starting the socket library (version 2.0 where the platform has versions).
// WrongVersion has already shut the library down again.
enum class LibraryStart { Started, Unavailable, WrongVersion };
LibraryStart startSocketLibrary();

// A TCP/IPv4 socket, never inherited by programs this process starts.
Socket openTcpSocket(SystemError& error);
bool setNonBlocking(Socket s);
// Lets a listener bind its port again while old connections of a previous
// process still linger, and keeps any other socket from binding that port
// while it listens.
bool claimPort(Socket s);
bool bindSocket(Socket s, const Ipv4Endpoint& local, SystemError& error);
bool listenOn(Socket s, int backlog);

// One pending connection. On Ok the socket is non-blocking, not inheritable,
// and peer holds the client's address and port. WouldBlock: none pending.
struct Accepted {
    IoStatus status = IoStatus::Ok;
    Socket socket = NO_SOCKET;
    Ipv4Endpoint peer;
    SystemError error;
};
Accepted acceptConnection(Socket listener);

// timeoutMs > 0 bounds the connection attempt; 0 waits as long as the OS does.
bool connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs, SystemError& error);
// Bounds every later receive on s; 0 removes the bound.
bool setReceiveTimeout(Socket s, int timeoutMs);
// Never raises a signal when the peer has gone.
IoResult sendBytes(Socket s, const char* data, std::size_t length);
IoResult receiveBytes(Socket s, char* buffer, std::size_t capacity);
void closeSocket(Socket s);

// One socket to wait on; readable is set by the wait.
struct WatchedSocket {
    Socket socket = NO_SOCKET;
    bool readable = false;
};

enum class WaitStatus { Ready, TimedOut, Interrupted, Failed };
struct WaitResult {
    WaitStatus status = WaitStatus::Ready;
    SystemError error;
};

// Waits until at least one of the sockets is readable (for a listener: a
// connection is pending; a closed or failed connection counts as readable),
// for at most timeoutMs (negative: no limit), and marks each readable one.
// An invalid socket among them makes the wait fail.
WaitResult waitReadable(WatchedSocket* sockets, std::size_t count, long timeoutMs);

}  // namespace platform

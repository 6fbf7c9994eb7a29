// TCP sockets over IPv4, the way the server and the control client use them.
// One implementation per platform: posix/socket.cpp (BSD sockets) and
// win32/socket.cpp (Winsock 2). Results follow the Winsock conventions the
// callers are written against: 0 for success, -1 (or NO_SOCKET) for failure,
// with the reason in lastSocketError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using Socket = std::intptr_t;
constexpr Socket NO_SOCKET = -1;

// Host byte order; the implementation converts for the wire.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};
constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;  // 127.0.0.1

struct SocketLibraryVersion {
    int major = 0;
    int minor = 0;
};

// Starts the socket library asking for major.minor; fills the version granted.
// Returns 0 on success. Nothing to do on POSIX, where it grants what was asked.
int startSocketLibrary(int major, int minor, SocketLibraryVersion& granted);
void stopSocketLibrary();

// A TCP/IPv4 socket, never inherited by programs this process starts.
Socket openTcpSocket();
int setNonBlocking(Socket s);
int setReuseAddress(Socket s);
int bindSocket(Socket s, const Ipv4Endpoint& local);
int listenOn(Socket s, int backlog);
// The accepted socket is non-blocking and not inheritable; peer gets the
// client's address and port. NO_SOCKET on failure (also when none is pending).
Socket acceptConnection(Socket listener, Ipv4Endpoint& peer);
// timeoutMs > 0 bounds the connection attempt; 0 waits as long as the OS does.
int connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs);
// Bounds every later receive on s; 0 removes the bound.
int setReceiveTimeout(Socket s, int timeoutMs);
// Never raises a signal when the peer has gone. Bytes sent, or -1.
long sendBytes(Socket s, const char* data, std::size_t length);
// Bytes received, 0 on an orderly close by the peer, -1 on failure
// (including "nothing pending" on a non-blocking socket).
long receiveBytes(Socket s, char* buffer, std::size_t capacity);
int closeSocket(Socket s);

// A set of up to SOCKET_SET_SIZE sockets, shaped like Winsock's fd_set.
constexpr unsigned SOCKET_SET_SIZE = 64;
struct SocketSet {
    unsigned count = 0;
    Socket sockets[SOCKET_SET_SIZE] = {};
};
inline bool socketSetContains(const SocketSet& set, Socket s) {
    for (unsigned i = 0; i < set.count && i < SOCKET_SET_SIZE; ++i)
        if (set.sockets[i] == s) return true;
    return false;
}

// Waits until a socket of the set is readable (for a listener: a connection is
// pending), for at most timeoutSeconds. Returns the number of ready sockets and
// leaves exactly those in the set, 0 on time-out, -1 on failure (an invalid
// socket in the set is a failure, as with select).
int waitReadable(SocketSet& set, long timeoutSeconds);

// The error of the last failed socket call on this thread, and what it means.
int lastSocketError();
bool isInterruptedError(int error);
bool isWouldBlockError(int error);
std::string errorDescription(int error);

}  // namespace platform

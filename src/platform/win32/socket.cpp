// Winsock 2 behind the socket seam.
#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <climits>

namespace platform {

namespace {

SOCKET native(Socket s) {
    return static_cast<SOCKET>(s);
}

Socket wrap(SOCKET s) {
    return s == INVALID_SOCKET ? NO_SOCKET : static_cast<Socket>(s);
}

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address);
    return address;
}

// Sockets are kernel handles on Windows: left inheritable, the desktop program
// started through the shell could keep the listener (and the port) alive.
bool keepFromChildren(SOCKET s) {
    return SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0) != 0;
}

int setNonBlockingMode(SOCKET s, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0 ? 0 : -1;
}

// The error a finished non-blocking connect left on the socket.
int pendingError(SOCKET s) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return WSAGetLastError();
    }
    return error;
}

}  // namespace

int startSocketLibrary(int major, int minor, SocketLibraryVersion& granted) {
    WSADATA data;
    int error = WSAStartup(MAKEWORD(major, minor), &data);
    if (error != 0) {
        // WSAStartup returns its error instead of setting it.
        WSASetLastError(error);
        return error;
    }
    granted.major = LOBYTE(data.wVersion);
    granted.minor = HIBYTE(data.wVersion);
    return 0;
}

void stopSocketLibrary() {
    WSACleanup();
}

Socket openTcpSocket() {
    // WSA_FLAG_OVERLAPPED keeps the socket what socket() would give.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems that predate the flag refuse it; clear the flag afterwards.
        s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET && !keepFromChildren(s)) {
            DWORD error = GetLastError();
            closesocket(s);
            WSASetLastError(static_cast<int>(error));
            return NO_SOCKET;
        }
    }
    return wrap(s);
}

int setNonBlocking(Socket s) {
    return setNonBlockingMode(native(s), true);
}

int setReuseAddress(Socket s) {
    int on = 1;
    return setsockopt(native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) == 0
               ? 0
               : -1;
}

int bindSocket(Socket s, const Ipv4Endpoint& local) {
    sockaddr_in address = toSockaddr(local);
    return bind(native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

int listenOn(Socket s, int backlog) {
    return listen(native(s), backlog) == 0 ? 0 : -1;
}

Socket acceptConnection(Socket listener, Ipv4Endpoint& peer) {
    sockaddr_in address = {};
    int length = sizeof address;
    SOCKET s = accept(native(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET) return NO_SOCKET;
    // An accepted socket takes over the listener's non-blocking mode, but its
    // handle may still be inheritable. Where the handle cannot be changed (a
    // layered provider's socket is no kernel handle) the connection is served
    // all the same rather than dropped.
    keepFromChildren(s);
    peer.address = ntohl(address.sin_addr.s_addr);
    peer.port = ntohs(address.sin_port);
    return wrap(s);
}

int connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs) {
    sockaddr_in address = toSockaddr(remote);
    const sockaddr* target = reinterpret_cast<const sockaddr*>(&address);
    if (timeoutMs <= 0) return connect(native(s), target, sizeof address) == 0 ? 0 : -1;

    // Bounded connect: start it non-blocking, wait for the outcome, then give
    // the socket back in blocking mode, as the callers use it.
    if (setNonBlockingMode(native(s), true) != 0) return -1;
    int result = 0;
    if (connect(native(s), target, sizeof address) != 0) {
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            setNonBlockingMode(native(s), false);
            WSASetLastError(error);
            return -1;
        }
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(native(s), &writable);
        FD_SET(native(s), &failed);
        timeval limit;
        limit.tv_sec = timeoutMs / 1000;
        limit.tv_usec = (timeoutMs % 1000) * 1000;
        int ready = select(0, nullptr, &writable, &failed, &limit);
        if (ready < 0) {
            error = WSAGetLastError();
            result = -1;
        } else if (ready == 0) {
            error = WSAETIMEDOUT;
            result = -1;
        } else if (FD_ISSET(native(s), &failed)) {
            error = pendingError(native(s));
            if (error == 0) error = WSAECONNREFUSED;
            result = -1;
        }
        if (result != 0) {
            setNonBlockingMode(native(s), false);
            WSASetLastError(error);
            return -1;
        }
    }
    if (setNonBlockingMode(native(s), false) != 0) return -1;
    return 0;
}

int setReceiveTimeout(Socket s, int timeoutMs) {
    DWORD limit = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    return setsockopt(native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                      sizeof limit) == 0
               ? 0
               : -1;
}

long sendBytes(Socket s, const char* data, std::size_t length) {
    int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    int sent = send(native(s), data, count, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    int count = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    int received = recv(native(s), buffer, count, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

int closeSocket(Socket s) {
    return closesocket(native(s)) == 0 ? 0 : -1;
}

int waitReadable(SocketSet& set, long timeoutSeconds) {
    static_assert(FD_SETSIZE >= SOCKET_SET_SIZE, "fd_set must hold a whole socket set");
    fd_set readable;
    FD_ZERO(&readable);
    unsigned count = set.count < SOCKET_SET_SIZE ? set.count : SOCKET_SET_SIZE;
    // Filled by hand: FD_SET would drop a repeated socket, and the set is
    // passed on exactly as the caller built it.
    for (unsigned i = 0; i < count; ++i) readable.fd_array[i] = native(set.sockets[i]);
    readable.fd_count = count;

    timeval limit;
    limit.tv_sec = timeoutSeconds;
    limit.tv_usec = 0;
    // A negative time-out waits without limit.
    int ready = select(0, &readable, nullptr, nullptr, timeoutSeconds < 0 ? nullptr : &limit);
    if (ready < 0) return -1;
    if (ready == 0) {
        set.count = 0;
        return 0;
    }

    // Keep exactly the ready sockets, in the caller's order.
    unsigned kept = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (FD_ISSET(native(set.sockets[i]), &readable)) set.sockets[kept++] = set.sockets[i];
    }
    for (unsigned i = kept; i < SOCKET_SET_SIZE; ++i) set.sockets[i] = 0;
    set.count = kept;
    return static_cast<int>(kept);
}

int lastSocketError() {
    return WSAGetLastError();
}

bool isInterruptedError(int error) {
    return error == WSAEINTR;
}

bool isWouldBlockError(int error) {
    return error == WSAEWOULDBLOCK;
}

std::string errorDescription(int error) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string description(text, length);
    // The system's texts end in a line break, which would split a log line.
    while (!description.empty() &&
           (description.back() == '\r' || description.back() == '\n' || description.back() == ' ')) {
        description.pop_back();
    }
    if (description.empty()) description = "Unknown error " + std::to_string(error);
    return description;
}

}  // namespace platform

// Winsock 2 behind the socket seam.
#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <climits>

#include "platform/win32/error.h"

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

SystemError lastError() {
    return win32::errorFrom(WSAGetLastError());
}

IoResult transferResult(int result, bool zeroIsClose) {
    IoResult io;
    if (result > 0 || (result == 0 && !zeroIsClose)) {
        io.count = static_cast<std::size_t>(result);
        return io;
    }
    if (result == 0) {
        io.status = IoStatus::Closed;
        return io;
    }
    const int error = WSAGetLastError();
    // A receive time-out ends the wait for a reply as "nothing came".
    if (error == WSAEWOULDBLOCK || error == WSAETIMEDOUT) {
        io.status = IoStatus::WouldBlock;
    } else {
        io.status = IoStatus::Failed;
        io.error = win32::errorFrom(error);
    }
    return io;
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

LibraryStart startSocketLibrary() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return LibraryStart::Unavailable;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 0) {
        WSACleanup();
        return LibraryStart::WrongVersion;
    }
    return LibraryStart::Started;
}

Socket openTcpSocket(SystemError& error) {
    // WSA_FLAG_OVERLAPPED keeps the socket what socket() would give.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems that predate the flag refuse it; clear the flag afterwards.
        s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET && !keepFromChildren(s)) {
            error = win32::errorFrom(static_cast<int>(GetLastError()));
            closesocket(s);
            return NO_SOCKET;
        }
    }
    if (s == INVALID_SOCKET) error = lastError();
    return wrap(s);
}

bool setNonBlocking(Socket s) {
    return setNonBlockingMode(native(s), true) == 0;
}

bool claimPort(Socket s) {
    int on = 1;
    return setsockopt(native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) ==
           0;
}

bool bindSocket(Socket s, const Ipv4Endpoint& local, SystemError& error) {
    sockaddr_in address = toSockaddr(local);
    if (bind(native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    error = lastError();
    // A port another socket holds exclusively is refused as access denied.
    if (error.number == WSAEACCES) error.kind = ErrorKind::AddressInUse;
    return false;
}

bool listenOn(Socket s, int backlog) {
    return listen(native(s), backlog) == 0;
}

Accepted acceptConnection(Socket listener) {
    Accepted accepted;
    sockaddr_in address = {};
    int length = sizeof address;
    SOCKET s = accept(native(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (s == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        accepted.status = error == WSAEWOULDBLOCK ? IoStatus::WouldBlock : IoStatus::Failed;
        accepted.error = win32::errorFrom(error);
        return accepted;
    }
    // An accepted socket takes over the listener's non-blocking mode, but its
    // handle may still be inheritable. Where the handle cannot be changed (a
    // layered provider's socket is no kernel handle) the connection is served
    // all the same rather than dropped.
    keepFromChildren(s);
    accepted.socket = wrap(s);
    accepted.peer.address = ntohl(address.sin_addr.s_addr);
    accepted.peer.port = ntohs(address.sin_port);
    return accepted;
}

bool connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs, SystemError& failure) {
    sockaddr_in address = toSockaddr(remote);
    const sockaddr* target = reinterpret_cast<const sockaddr*>(&address);
    if (timeoutMs <= 0) {
        if (connect(native(s), target, sizeof address) == 0) return true;
        failure = lastError();
        return false;
    }

    // Bounded connect: start it non-blocking, wait for the outcome, then give
    // the socket back in blocking mode, as the callers use it.
    if (setNonBlockingMode(native(s), true) != 0) {
        failure = lastError();
        return false;
    }
    int error = 0;
    if (connect(native(s), target, sizeof address) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
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
            } else if (ready == 0) {
                error = WSAETIMEDOUT;
            } else if (FD_ISSET(native(s), &failed)) {
                error = pendingError(native(s));
                if (error == 0) error = WSAECONNREFUSED;
            } else {
                error = 0;
            }
        }
    }
    if (setNonBlockingMode(native(s), false) != 0 && error == 0) error = WSAGetLastError();
    if (error == 0) return true;
    failure = win32::errorFrom(error);
    return false;
}

bool setReceiveTimeout(Socket s, int timeoutMs) {
    DWORD limit = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    return setsockopt(native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                      sizeof limit) == 0;
}

IoResult sendBytes(Socket s, const char* data, std::size_t length) {
    int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    return transferResult(send(native(s), data, count, 0), false);
}

IoResult receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    int count = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    return transferResult(recv(native(s), buffer, count, 0), true);
}

void closeSocket(Socket s) {
    closesocket(native(s));
}

WaitResult waitReadable(WatchedSocket* sockets, std::size_t count, long timeoutMs) {
    static_assert(FD_SETSIZE >= 64, "fd_set must hold the listener and every client");
    WaitResult result;
    if (count == 0) {
        // select refuses empty sets; waiting on nothing is a pause.
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        result.status = WaitStatus::TimedOut;
        return result;
    }
    fd_set readable;
    FD_ZERO(&readable);
    if (count > FD_SETSIZE) {
        result.status = WaitStatus::Failed;
        result.error = win32::errorFrom(WSAEINVAL);
        return result;
    }
    // Filled by hand: FD_SET would drop a repeated socket, and the set is
    // passed on exactly as the caller built it.
    for (std::size_t i = 0; i < count; ++i) {
        sockets[i].readable = false;
        readable.fd_array[i] = native(sockets[i].socket);
    }
    readable.fd_count = static_cast<u_int>(count);

    timeval limit;
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    // A negative time-out waits without limit.
    int ready = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (ready < 0) {
        const int error = WSAGetLastError();
        result.status = error == WSAEINTR ? WaitStatus::Interrupted : WaitStatus::Failed;
        result.error = win32::errorFrom(error);
        return result;
    }
    if (ready == 0) {
        result.status = WaitStatus::TimedOut;
        return result;
    }
    for (std::size_t i = 0; i < count; ++i)
        sockets[i].readable = FD_ISSET(native(sockets[i].socket), &readable) != 0;
    return result;
}

}  // namespace platform

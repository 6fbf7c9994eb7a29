// BSD sockets behind the socket seam. IPv4 TCP on the loopback address only.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/error.h"

namespace platform {

using posix::errorFrom;

namespace {

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address);
    return address;
}

bool isValidDescriptor(Socket s) {
    return s >= 0 && s <= INT_MAX;
}

int fd(Socket s) {
    return static_cast<int>(s);
}

bool isWouldBlock(int number) {
    return number == EAGAIN || number == EWOULDBLOCK;
}

// A transfer's result: bytes moved, the peer's close, nothing pending, or
// a failure.
IoResult transferResult(ssize_t result, bool zeroIsClose) {
    IoResult io;
    if (result > 0 || (result == 0 && !zeroIsClose)) {
        io.count = static_cast<std::size_t>(result);
    } else if (result == 0) {
        io.status = IoStatus::Closed;
    } else if (isWouldBlock(errno)) {
        io.status = IoStatus::WouldBlock;
    } else {
        io.status = IoStatus::Failed;
        io.error = errorFrom(errno);
    }
    return io;
}

long millisecondsSince(const timespec& start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

// Waits up to timeoutMs for a started connect to finish; 0 or the error.
int finishConnect(int descriptor, int timeoutMs) {
    pollfd waiting{descriptor, POLLOUT, 0};
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int ready;
    for (;;) {
        const long spent = millisecondsSince(start);
        const int left = spent >= timeoutMs ? 0 : timeoutMs - static_cast<int>(spent);
        ready = ::poll(&waiting, 1, left);
        if (ready >= 0 || errno != EINTR) break;
    }
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int pending = 0;
    socklen_t length = sizeof pending;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &pending, &length) < 0) return errno;
    return pending;
}

}  // namespace

LibraryStart startSocketLibrary() {
    return LibraryStart::Started;  // nothing to start
}

Socket openTcpSocket(SystemError& error) {
    // Close-on-exec: a started program must never hold the port.
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        error = errorFrom(errno);
        return NO_SOCKET;
    }
    return s;
}

bool setNonBlocking(Socket s) {
    int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return false;
    return ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool claimPort(Socket s) {
    // On Linux SO_REUSEADDR only lets the port be bound again over
    // connections still in TIME_WAIT; it never lets a second listener in.
    int on = 1;
    return ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool bindSocket(Socket s, const Ipv4Endpoint& local, SystemError& error) {
    sockaddr_in address = toSockaddr(local);
    if (::bind(fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    error = errorFrom(errno);
    return false;
}

bool listenOn(Socket s, int backlog) {
    return ::listen(fd(s), backlog) == 0;
}

Accepted acceptConnection(Socket listener) {
    Accepted accepted;
    sockaddr_in address;
    socklen_t length = sizeof address;
    std::memset(&address, 0, sizeof address);
    // Linux does not pass the listener's non-blocking mode on to accepted
    // sockets, so it is asked for here, with close-on-exec.
    int s;
    do {
        s = ::accept4(fd(listener), reinterpret_cast<sockaddr*>(&address), &length,
                      SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) {
        accepted.status = isWouldBlock(errno) ? IoStatus::WouldBlock : IoStatus::Failed;
        accepted.error = errorFrom(errno);
        return accepted;
    }
    accepted.socket = s;
    accepted.peer.address = ntohl(address.sin_addr.s_addr);
    accepted.peer.port = ntohs(address.sin_port);
    return accepted;
}

bool connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs, SystemError& error) {
    sockaddr_in address = toSockaddr(remote);
    const sockaddr* target = reinterpret_cast<const sockaddr*>(&address);
    if (timeoutMs <= 0) {
        if (::connect(fd(s), target, sizeof address) == 0) return true;
        // An interrupted connect goes on in the background: wait for it
        // rather than start it again.
        const int outcome = errno == EINTR ? finishConnect(fd(s), INT_MAX) : errno;
        if (outcome == 0) return true;
        error = errorFrom(outcome);
        return false;
    }

    // Bounded connect: start it non-blocking, wait for the outcome, then give
    // the socket back in the mode the caller had.
    int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0 || (!(flags & O_NONBLOCK) && ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) < 0)) {
        error = errorFrom(errno);
        return false;
    }
    int outcome = 0;
    if (::connect(fd(s), target, sizeof address) < 0) {
        outcome = (errno == EINPROGRESS || errno == EINTR) ? finishConnect(fd(s), timeoutMs) : errno;
    }
    if (!(flags & O_NONBLOCK)) ::fcntl(fd(s), F_SETFL, flags);
    if (outcome == 0) return true;
    error = errorFrom(outcome);
    return false;
}

bool setReceiveTimeout(Socket s, int timeoutMs) {
    timeval limit;
    limit.tv_sec = timeoutMs > 0 ? timeoutMs / 1000 : 0;
    limit.tv_usec = timeoutMs > 0 ? (timeoutMs % 1000) * 1000 : 0;
    return ::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

IoResult sendBytes(Socket s, const char* data, std::size_t length) {
    ssize_t sent;
    // A peer that has gone must not raise SIGPIPE and end the process.
    do {
        sent = ::send(fd(s), data, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return transferResult(sent, false);
}

IoResult receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    ssize_t received;
    do {
        received = ::recv(fd(s), buffer, capacity, 0);
    } while (received < 0 && errno == EINTR);
    return transferResult(received, true);
}

void closeSocket(Socket s) {
    // No retry on EINTR: Linux has released the descriptor either way.
    if (isValidDescriptor(s)) ::close(fd(s));
}

WaitResult waitReadable(WatchedSocket* sockets, std::size_t count, long timeoutMs) {
    WaitResult result;
    constexpr std::size_t MOST = 64;
    if (count > MOST) {
        result.status = WaitStatus::Failed;
        result.error = errorFrom(EINVAL);
        return result;
    }
    // poll skips a negative descriptor silently; a wait over an invalid
    // socket must fail instead.
    pollfd fds[MOST];
    for (std::size_t i = 0; i < count; ++i) {
        sockets[i].readable = false;
        if (!isValidDescriptor(sockets[i].socket)) {
            result.status = WaitStatus::Failed;
            result.error = errorFrom(EBADF);
            return result;
        }
        fds[i].fd = fd(sockets[i].socket);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }

    const int pollTimeout = timeoutMs < 0 ? -1 : timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
    const int ready = ::poll(fds, count, pollTimeout);
    if (ready < 0) {
        result.status = errno == EINTR ? WaitStatus::Interrupted : WaitStatus::Failed;
        result.error = errorFrom(errno);
        return result;
    }
    if (ready == 0) {
        result.status = WaitStatus::TimedOut;
        return result;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            // A descriptor that is not open.
            result.status = WaitStatus::Failed;
            result.error = errorFrom(EBADF);
            return result;
        }
        // A hang-up or an error counts as readable, so that the read that
        // follows sees the close or the failure.
        sockets[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    return result;
}

}  // namespace platform

// BSD sockets behind the socket seam. IPv4 TCP on the loopback address only.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace platform {

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

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* describe(char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* describe(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

}  // namespace

int startSocketLibrary(int major, int minor, SocketLibraryVersion& granted) {
    granted.major = major;
    granted.minor = minor;
    return 0;
}

void stopSocketLibrary() {}

Socket openTcpSocket() {
    // Close-on-exec: a started program must never hold the port.
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? NO_SOCKET : s;
}

int setNonBlocking(Socket s) {
    int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return -1;
    return ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int setReuseAddress(Socket s) {
    int on = 1;
    return ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ? -1 : 0;
}

int bindSocket(Socket s, const Ipv4Endpoint& local) {
    sockaddr_in address = toSockaddr(local);
    return ::bind(fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ? -1 : 0;
}

int listenOn(Socket s, int backlog) {
    return ::listen(fd(s), backlog) < 0 ? -1 : 0;
}

Socket acceptConnection(Socket listener, Ipv4Endpoint& peer) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    std::memset(&address, 0, sizeof address);
    // Linux does not pass the listener's non-blocking mode on to accepted
    // sockets, so it is asked for here, with close-on-exec.
    int s =
        ::accept4(fd(listener), reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) return NO_SOCKET;
    peer.address = ntohl(address.sin_addr.s_addr);
    peer.port = ntohs(address.sin_port);
    return s;
}

int connectTo(Socket s, const Ipv4Endpoint& remote, int timeoutMs) {
    sockaddr_in address = toSockaddr(remote);
    if (timeoutMs <= 0) {
        int result;
        do {
            result = ::connect(fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? -1 : 0;
    }

    int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return -1;
    if (!(flags & O_NONBLOCK) && ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) < 0) return -1;

    int outcome = 0;
    int error = 0;
    if (::connect(fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            outcome = -1;
            error = errno;
        } else {
            pollfd waiting{fd(s), POLLOUT, 0};
            timespec start;
            clock_gettime(CLOCK_MONOTONIC, &start);
            int left = timeoutMs;
            int ready;
            for (;;) {
                ready = ::poll(&waiting, 1, left);
                if (ready >= 0 || errno != EINTR) break;
                timespec now;
                clock_gettime(CLOCK_MONOTONIC, &now);
                long spent = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
                left = spent >= timeoutMs ? 0 : timeoutMs - static_cast<int>(spent);
            }
            if (ready < 0) {
                outcome = -1;
                error = errno;
            } else if (ready == 0) {
                outcome = -1;
                error = ETIMEDOUT;
            } else {
                int pending = 0;
                socklen_t length = sizeof pending;
                if (::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &pending, &length) < 0) {
                    outcome = -1;
                    error = errno;
                } else if (pending != 0) {
                    outcome = -1;
                    error = pending;
                }
            }
        }
    }

    // Back to the mode the caller had.
    if (!(flags & O_NONBLOCK)) ::fcntl(fd(s), F_SETFL, flags);
    if (outcome < 0) errno = error;
    return outcome;
}

int setReceiveTimeout(Socket s, int timeoutMs) {
    timeval limit;
    limit.tv_sec = timeoutMs > 0 ? timeoutMs / 1000 : 0;
    limit.tv_usec = timeoutMs > 0 ? (timeoutMs % 1000) * 1000 : 0;
    return ::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) < 0 ? -1 : 0;
}

long sendBytes(Socket s, const char* data, std::size_t length) {
    ssize_t sent;
    // A peer that has gone must not raise SIGPIPE and end the process.
    do {
        sent = ::send(fd(s), data, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<long>(sent);
}

long receiveBytes(Socket s, char* buffer, std::size_t capacity) {
    ssize_t received;
    do {
        received = ::recv(fd(s), buffer, capacity, 0);
    } while (received < 0 && errno == EINTR);
    return received < 0 ? -1 : static_cast<long>(received);
}

int closeSocket(Socket s) {
    if (!isValidDescriptor(s)) {
        errno = EBADF;
        return -1;
    }
    // No retry on EINTR: Linux has released the descriptor either way.
    return ::close(fd(s)) < 0 ? -1 : 0;
}

int waitReadable(SocketSet& set, long timeoutSeconds) {
    if (set.count > SOCKET_SET_SIZE) {
        errno = EINVAL;
        return -1;
    }
    // poll skips a negative descriptor silently; the loop relies on a wait
    // over an invalid socket failing, as select does.
    pollfd fds[SOCKET_SET_SIZE];
    for (unsigned i = 0; i < set.count; ++i) {
        if (!isValidDescriptor(set.sockets[i])) {
            errno = EBADF;
            return -1;
        }
        fds[i].fd = fd(set.sockets[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }

    int timeoutMs;
    if (timeoutSeconds < 0)
        timeoutMs = -1;
    else if (timeoutSeconds > INT_MAX / 1000)
        timeoutMs = INT_MAX;
    else
        timeoutMs = static_cast<int>(timeoutSeconds * 1000);

    int result = ::poll(fds, set.count, timeoutMs);
    if (result < 0) return -1;  // errno says why; EINTR is the caller's to judge

    unsigned kept = 0;
    for (unsigned i = 0; i < set.count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            // A descriptor that is not open: select fails on it, so do we.
            errno = EBADF;
            return -1;
        }
        // A hang-up or an error is reported as readable, so that the read
        // that follows sees the close or the failure.
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) set.sockets[kept++] = set.sockets[i];
    }
    set.count = kept;
    return static_cast<int>(kept);
}

int lastSocketError() {
    return errno;
}

bool isInterruptedError(int error) {
    return error == EINTR;
}

bool isWouldBlockError(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

std::string errorDescription(int error) {
    char buffer[256] = {};
    const char* text = describe(strerror_r(error, buffer, sizeof buffer), buffer);
    if (!text) return "Unknown error " + std::to_string(error);
    return text;
}

}  // namespace platform

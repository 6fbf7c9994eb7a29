// The POSIX sockets behind the seam, on real loopback sockets. Ports are the
// kernel's choice, so these tests never touch the launcher's port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace {

using platform::ErrorKind;
using platform::IoStatus;
using platform::NO_SOCKET;
using platform::Socket;
using platform::SystemError;
using platform::WaitStatus;
using platform::WatchedSocket;

bool isCloseOnExec(Socket s) {
    return (fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC) != 0;
}
bool isNonBlocking(Socket s) {
    return (fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK) != 0;
}

std::uint16_t localPort(Socket s) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

platform::Ipv4Endpoint loopback(std::uint16_t port = 0) {
    platform::Ipv4Endpoint endpoint;
    endpoint.address = platform::LOOPBACK_ADDRESS;
    endpoint.port = port;
    return endpoint;
}

// A failure as the platform reports it: the kind, the system's number, and
// a text for the log that is one non-empty line.
void expectError(const SystemError& error, ErrorKind kind, int number) {
    EXPECT_EQ(error.kind, kind);
    EXPECT_EQ(error.number, number);
    EXPECT_EQ(error.text, std::strerror(number));
}

// A listener on 127.0.0.1 set up the way the server does it, on a port the
// kernel picks.
class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        listener = open();
        ASSERT_NE(listener, NO_SOCKET);
        ASSERT_TRUE(platform::setNonBlocking(listener));
        ASSERT_TRUE(platform::claimPort(listener));
        SystemError error;
        ASSERT_TRUE(platform::bindSocket(listener, loopback(), error)) << error.text;
        ASSERT_TRUE(platform::listenOn(listener, 5));
        endpoint = loopback(localPort(listener));
    }
    void TearDown() override {
        for (Socket s : opened) platform::closeSocket(s);
        platform::closeSocket(listener);
    }

    // A socket closed with the fixture.
    Socket open() {
        SystemError error;
        Socket s = platform::openTcpSocket(error);
        EXPECT_NE(s, NO_SOCKET) << error.text;
        EXPECT_EQ(error.kind, ErrorKind::None);
        if (s != NO_SOCKET && s != listener) opened.push_back(s);
        return s;
    }

    void forget(Socket s) { opened.erase(std::find(opened.begin(), opened.end(), s)); }

    Socket client() {
        Socket s = open();
        SystemError error;
        EXPECT_TRUE(platform::connectTo(s, endpoint, 2000, error)) << error.text;
        return s;
    }

    // Waits (bounded) for the pending connection and accepts it.
    Socket accepted(platform::Ipv4Endpoint& peer) {
        WatchedSocket watched[1];
        watched[0].socket = listener;
        EXPECT_EQ(platform::waitReadable(watched, 1, 5000).status, WaitStatus::Ready);
        EXPECT_TRUE(watched[0].readable);
        platform::Accepted a = platform::acceptConnection(listener);
        EXPECT_EQ(a.status, IoStatus::Ok) << a.error.text;
        EXPECT_NE(a.socket, NO_SOCKET);
        if (a.socket != NO_SOCKET) opened.push_back(a.socket);
        peer = a.peer;
        return a.socket;
    }
    Socket accepted() {
        platform::Ipv4Endpoint peer;
        return accepted(peer);
    }

    // Waits (bounded) until s has something to read.
    void awaitReadable(Socket s) {
        WatchedSocket watched[1];
        watched[0].socket = s;
        ASSERT_EQ(platform::waitReadable(watched, 1, 5000).status, WaitStatus::Ready);
        ASSERT_TRUE(watched[0].readable);
    }

    Socket listener = NO_SOCKET;
    platform::Ipv4Endpoint endpoint;
    std::vector<Socket> opened;
};

TEST_F(Sockets, CreatedAndAcceptedSocketsAreNotInheritedAndAcceptedOnesDoNotBlock) {
    EXPECT_TRUE(isCloseOnExec(listener));
    EXPECT_TRUE(isNonBlocking(listener));
    Socket c = client();
    EXPECT_TRUE(isCloseOnExec(c));
    EXPECT_FALSE(isNonBlocking(c)) << "a timed connect hands the socket back blocking";

    platform::Ipv4Endpoint peer;
    Socket s = accepted(peer);
    EXPECT_TRUE(isCloseOnExec(s));
    EXPECT_TRUE(isNonBlocking(s));
    EXPECT_EQ(peer.address, platform::LOOPBACK_ADDRESS);
    EXPECT_EQ(peer.port, localPort(c));

    // Nothing pending: both calls return at once, and say so without
    // calling it a failure.
    char buffer[16];
    const platform::IoResult nothing = platform::receiveBytes(s, buffer, sizeof buffer);
    EXPECT_EQ(nothing.status, IoStatus::WouldBlock);
    EXPECT_EQ(nothing.count, 0u);
    const platform::Accepted none = platform::acceptConnection(listener);
    EXPECT_EQ(none.status, IoStatus::WouldBlock);
    EXPECT_EQ(none.socket, NO_SOCKET);
}

TEST_F(Sockets, ReceiveTellsDataAnOrderlyCloseAndAResetApart) {
    Socket talking = client();
    Socket talkingServer = accepted();
    ASSERT_EQ(platform::sendBytes(talking, "hello", 5).count, 5u);
    awaitReadable(talkingServer);
    char buffer[16];
    platform::IoResult io = platform::receiveBytes(talkingServer, buffer, sizeof buffer);
    EXPECT_EQ(io.status, IoStatus::Ok);
    ASSERT_EQ(io.count, 5u);
    EXPECT_EQ(std::string(buffer, 5), "hello");

    // The peer closes: an orderly close, not a failure.
    platform::closeSocket(talking);
    forget(talking);
    awaitReadable(talkingServer);
    io = platform::receiveBytes(talkingServer, buffer, sizeof buffer);
    EXPECT_EQ(io.status, IoStatus::Closed);
    EXPECT_EQ(io.count, 0u);

    // The peer aborts (linger 0 sends a reset): a failure with its cause.
    Socket aborting = client();
    Socket abortedServer = accepted();
    linger abort{1, 0};
    ASSERT_EQ(setsockopt(static_cast<int>(aborting), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    platform::closeSocket(aborting);
    forget(aborting);
    awaitReadable(abortedServer);
    io = platform::receiveBytes(abortedServer, buffer, sizeof buffer);
    EXPECT_EQ(io.status, IoStatus::Failed);
    expectError(io.error, ErrorKind::Other, ECONNRESET);
}

TEST_F(Sockets, SecondListenerOnTheSamePortFailsToBind) {
    Socket second = open();
    ASSERT_TRUE(platform::claimPort(second));
    SystemError error;
    EXPECT_FALSE(platform::bindSocket(second, endpoint, error));
    expectError(error, ErrorKind::AddressInUse, EADDRINUSE);
}

TEST_F(Sockets, WaitMarksExactlyTheReadableEntries) {
    Socket quiet = client();
    Socket talking = client();
    Socket leaving = client();
    Socket quietServer = accepted();
    Socket talkingServer = accepted();
    Socket leavingServer = accepted();
    (void)quiet;
    client();  // not accepted: the listener is readable

    ASSERT_EQ(platform::sendBytes(talking, "hello", 5).count, 5u);
    platform::closeSocket(leaving);
    forget(leaving);

    const std::vector<Socket> order = {quietServer, listener, talkingServer, quietServer, leavingServer};
    const std::vector<bool> expected = {false, true, true, false, true};
    // Readiness arrives asynchronously; wait until all of it is seen. The
    // marks left from a previous wait must not survive the next one.
    std::vector<bool> marks;
    for (int attempt = 0; attempt < 50; ++attempt) {
        WatchedSocket watched[5];
        for (std::size_t i = 0; i < order.size(); ++i) {
            watched[i].socket = order[i];
            watched[i].readable = true;
        }
        const platform::WaitResult result = platform::waitReadable(watched, order.size(), 1000);
        ASSERT_EQ(result.status, WaitStatus::Ready) << result.error.text;
        marks.clear();
        for (const WatchedSocket& w : watched) marks.push_back(w.readable);
        if (marks == expected) break;
        usleep(20000);
    }
    EXPECT_EQ(marks, expected);
}

TEST_F(Sockets, WaitTimesOutWithNothingMarked) {
    client();
    Socket quiet = accepted();
    for (long timeoutMs : {0L, 150L}) {
        SCOPED_TRACE(timeoutMs);
        WatchedSocket watched[2];
        watched[0].socket = quiet;
        watched[0].readable = true;
        watched[1].socket = listener;
        watched[1].readable = true;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::waitReadable(watched, 2, timeoutMs).status, WaitStatus::TimedOut);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(timeoutMs));
        EXPECT_FALSE(watched[0].readable);
        EXPECT_FALSE(watched[1].readable);
    }
}

TEST_F(Sockets, WaitFailsOnAnInvalidSocket) {
    int closedDescriptor = dup(0);
    ASSERT_GE(closedDescriptor, 0);
    close(closedDescriptor);
    // The last one would be the listener once cut to an int.
    const std::vector<Socket> invalid = {NO_SOCKET, -5, closedDescriptor, (Socket{1} << 32) + listener};
    for (Socket bad : invalid) {
        SCOPED_TRACE(bad);
        WatchedSocket watched[2];
        watched[0].socket = listener;
        watched[1].socket = bad;
        const platform::WaitResult result = platform::waitReadable(watched, 2, 1000);
        EXPECT_EQ(result.status, WaitStatus::Failed);
        expectError(result.error, ErrorKind::Other, EBADF);
    }
}

TEST_F(Sockets, SendToAGoneConnectionFailsWithoutASignal) {
    // SIGPIPE keeps its default action here: without the no-signal flag this
    // test process would die.
    struct sigaction previous;
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaults, &previous);

    client();
    Socket s = accepted();
    shutdown(static_cast<int>(s), SHUT_WR);
    const platform::IoResult io = platform::sendBytes(s, "late", 4);
    EXPECT_EQ(io.status, IoStatus::Failed);
    expectError(io.error, ErrorKind::Other, EPIPE);

    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(Sockets, ConnectToAPortWithNobodyListeningIsRefused) {
    // A port that was just free: bound, never listened on, released.
    Socket placeholder = open();
    SystemError error;
    ASSERT_TRUE(platform::bindSocket(placeholder, loopback(), error));
    const platform::Ipv4Endpoint nobody = loopback(localPort(placeholder));
    platform::closeSocket(placeholder);
    forget(placeholder);

    // Bounded and unbounded connects alike.
    for (int timeoutMs : {2000, 0}) {
        SCOPED_TRACE(timeoutMs);
        Socket probe = open();
        SystemError refused;
        EXPECT_FALSE(platform::connectTo(probe, nobody, timeoutMs, refused));
        expectError(refused, ErrorKind::Refused, ECONNREFUSED);
        EXPECT_FALSE(isNonBlocking(probe));
    }
}

TEST_F(Sockets, ConnectGivesUpAtItsTimeLimit) {
    // A listener with a full queue drops further connection attempts, so a
    // connect to it waits until its limit.
    Socket full = open();
    SystemError error;
    ASSERT_TRUE(platform::bindSocket(full, loopback(), error));
    ASSERT_TRUE(platform::listenOn(full, 0));
    const platform::Ipv4Endpoint target = loopback(localPort(full));

    bool connected = true;
    for (int i = 0; i < 8 && connected; ++i) connected = platform::connectTo(open(), target, 300, error);
    EXPECT_FALSE(connected);
    expectError(error, ErrorKind::TimedOut, ETIMEDOUT);
}

TEST_F(Sockets, ReceiveTimeoutEndsABlockingReceiveAsNothingPending) {
    Socket c = client();
    accepted();
    ASSERT_TRUE(platform::setReceiveTimeout(c, 200));
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::receiveBytes(c, buffer, sizeof buffer).status, IoStatus::WouldBlock);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST(SocketLibrary, HasNothingToStart) {
    EXPECT_EQ(platform::startSocketLibrary(), platform::LibraryStart::Started);
}

}  // namespace

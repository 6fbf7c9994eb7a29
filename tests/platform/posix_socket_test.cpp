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
#include <cstring>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace {

using platform::NO_SOCKET;
using platform::Socket;
using platform::SocketSet;

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

std::vector<Socket> members(const SocketSet& set) {
    return std::vector<Socket>(set.sockets, set.sockets + set.count);
}

// A listener on 127.0.0.1 set up the way the server does it, on a port the
// kernel picks.
class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        listener = platform::openTcpSocket();
        ASSERT_GE(listener, 0);
        ASSERT_EQ(platform::setNonBlocking(listener), 0);
        ASSERT_EQ(platform::setReuseAddress(listener), 0);
        platform::Ipv4Endpoint local;
        local.address = platform::LOOPBACK_ADDRESS;
        local.port = 0;
        ASSERT_EQ(platform::bindSocket(listener, local), 0);
        ASSERT_EQ(platform::listenOn(listener, 5), 0);
        endpoint.address = platform::LOOPBACK_ADDRESS;
        endpoint.port = localPort(listener);
    }
    void TearDown() override {
        for (Socket s : opened) platform::closeSocket(s);
        platform::closeSocket(listener);
    }

    Socket client() {
        Socket s = platform::openTcpSocket();
        EXPECT_GE(s, 0);
        EXPECT_EQ(platform::connectTo(s, endpoint, 2000), 0)
            << platform::errorDescription(platform::lastSocketError());
        opened.push_back(s);
        return s;
    }

    // Waits (bounded) for the pending connection and accepts it.
    Socket accepted(platform::Ipv4Endpoint& peer) {
        SocketSet set;
        set.sockets[set.count++] = listener;
        EXPECT_EQ(platform::waitReadable(set, 5), 1);
        Socket s = platform::acceptConnection(listener, peer);
        EXPECT_GE(s, 0);
        opened.push_back(s);
        return s;
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

    // Nothing pending: both calls return at once with would-block.
    char buffer[16];
    EXPECT_EQ(platform::receiveBytes(s, buffer, sizeof buffer), -1);
    EXPECT_TRUE(platform::isWouldBlockError(platform::lastSocketError()));
    EXPECT_EQ(platform::acceptConnection(listener, peer), NO_SOCKET);
    EXPECT_TRUE(platform::isWouldBlockError(platform::lastSocketError()));
}

TEST_F(Sockets, SecondListenerOnTheSamePortFailsToBind) {
    Socket second = platform::openTcpSocket();
    opened.push_back(second);
    ASSERT_EQ(platform::setReuseAddress(second), 0);
    EXPECT_EQ(platform::bindSocket(second, endpoint), -1);
    EXPECT_EQ(platform::lastSocketError(), EADDRINUSE);
    EXPECT_EQ(platform::errorDescription(EADDRINUSE), std::strerror(EADDRINUSE));
}

TEST_F(Sockets, WaitLeavesExactlyTheReadableSocketsInOrder) {
    Socket quiet = client();
    Socket talking = client();
    Socket leaving = client();
    platform::Ipv4Endpoint peer;
    Socket quietServer = accepted(peer);
    Socket talkingServer = accepted(peer);
    Socket leavingServer = accepted(peer);
    (void)quiet;
    Socket pending = client();  // not accepted: the listener is readable
    (void)pending;

    ASSERT_EQ(platform::sendBytes(talking, "hello", 5), 5);
    platform::closeSocket(leaving);
    opened.erase(std::find(opened.begin(), opened.end(), leaving));

    SocketSet set;
    for (Socket s : {listener, quietServer, talkingServer, leavingServer}) set.sockets[set.count++] = s;
    // Readiness arrives asynchronously; wait until all three are seen.
    std::vector<Socket> expected = {listener, talkingServer, leavingServer};
    SocketSet ready;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ready = set;
        ASSERT_GE(platform::waitReadable(ready, 1), 0);
        if (members(ready) == expected) break;
        usleep(20000);
    }
    EXPECT_EQ(members(ready), expected);

    // The closed peer reads as an orderly close, the talking one as data.
    char buffer[16];
    EXPECT_EQ(platform::receiveBytes(leavingServer, buffer, sizeof buffer), 0);
    EXPECT_EQ(platform::receiveBytes(talkingServer, buffer, sizeof buffer), 5);
}

TEST_F(Sockets, WaitTimesOutWithAnEmptySet) {
    client();
    platform::Ipv4Endpoint peer;
    Socket s = accepted(peer);
    SocketSet set;
    set.sockets[set.count++] = s;
    EXPECT_EQ(platform::waitReadable(set, 0), 0);
    EXPECT_EQ(set.count, 0u);
}

TEST_F(Sockets, WaitFailsOnAnInvalidSocketLikeSelect) {
    int closedDescriptor = dup(0);
    ASSERT_GE(closedDescriptor, 0);
    close(closedDescriptor);
    const std::vector<Socket> invalid = {NO_SOCKET, -5, closedDescriptor};
    for (Socket bad : invalid) {
        SCOPED_TRACE(bad);
        SocketSet set;
        set.sockets[set.count++] = listener;
        set.sockets[set.count++] = bad;
        errno = 0;
        EXPECT_EQ(platform::waitReadable(set, 1), -1);
        EXPECT_EQ(platform::lastSocketError(), EBADF);
        EXPECT_FALSE(platform::isInterruptedError(platform::lastSocketError()));
    }
}

TEST_F(Sockets, SendToAGoneConnectionFailsWithoutASignal) {
    // SIGPIPE keeps its default action here: without the no-signal flag this
    // test process would die.
    struct sigaction previous;
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaults, &previous);

    Socket c = client();
    platform::Ipv4Endpoint peer;
    Socket s = accepted(peer);
    shutdown(static_cast<int>(s), SHUT_WR);
    EXPECT_EQ(platform::sendBytes(s, "late", 4), -1);
    EXPECT_EQ(platform::lastSocketError(), EPIPE);
    (void)c;

    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(Sockets, ConnectToAPortWithNobodyListeningIsRefused) {
    // A port that was just free: bound, never listened on, released.
    Socket placeholder = platform::openTcpSocket();
    platform::Ipv4Endpoint any;
    any.address = platform::LOOPBACK_ADDRESS;
    ASSERT_EQ(platform::bindSocket(placeholder, any), 0);
    platform::Ipv4Endpoint nobody = any;
    nobody.port = localPort(placeholder);
    platform::closeSocket(placeholder);

    Socket probe = platform::openTcpSocket();
    opened.push_back(probe);
    EXPECT_EQ(platform::connectTo(probe, nobody, 2000), -1);
    EXPECT_EQ(platform::lastSocketError(), ECONNREFUSED);
    EXPECT_FALSE(isNonBlocking(probe));
}

TEST_F(Sockets, ConnectGivesUpAtItsTimeLimit) {
    // A listener with a full queue drops further connection attempts, so a
    // connect to it waits until its limit.
    Socket full = platform::openTcpSocket();
    opened.push_back(full);
    platform::Ipv4Endpoint any;
    any.address = platform::LOOPBACK_ADDRESS;
    ASSERT_EQ(platform::bindSocket(full, any), 0);
    ASSERT_EQ(platform::listenOn(full, 0), 0);
    platform::Ipv4Endpoint target = any;
    target.port = localPort(full);

    int result = 0;
    for (int i = 0; i < 8 && result == 0; ++i) {
        Socket s = platform::openTcpSocket();
        opened.push_back(s);
        result = platform::connectTo(s, target, 300);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(platform::lastSocketError(), ETIMEDOUT);
}

TEST_F(Sockets, ReceiveTimeoutEndsABlockingReceive) {
    Socket c = client();
    platform::Ipv4Endpoint peer;
    accepted(peer);
    ASSERT_EQ(platform::setReceiveTimeout(c, 200), 0);
    char buffer[16];
    EXPECT_EQ(platform::receiveBytes(c, buffer, sizeof buffer), -1);
    EXPECT_TRUE(platform::isWouldBlockError(platform::lastSocketError()));
}

TEST(SocketLibrary, GrantsTheVersionAsked) {
    platform::SocketLibraryVersion granted;
    EXPECT_EQ(platform::startSocketLibrary(2, 0, granted), 0);
    EXPECT_EQ(granted.major, 2);
    EXPECT_EQ(granted.minor, 0);
}

}  // namespace

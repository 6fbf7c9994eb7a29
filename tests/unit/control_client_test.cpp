#include "app/control_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "server/http_server.h"
#include "unit/temp_log.h"

namespace {

using fake::Socket;

class ControlClient : public TempLogTest {};

TEST_F(ControlClient, OneExchangeWithTheLauncherPort) {
    platform::Ipv4Endpoint peer;
    int connectLimit = -1, receiveLimit = -1;
    std::vector<std::string> calls;
    fake::state().connectTo = [&](Socket s, const platform::Ipv4Endpoint& remote, int ms) {
        calls.push_back("connect " + std::to_string(s));
        peer = remote;
        connectLimit = ms;
        return 0;
    };
    fake::state().setReceiveTimeout = [&](Socket, int ms) {
        receiveLimit = ms;
        return 0;
    };
    std::size_t capacity = 0;
    fake::state().receiveBytes = [&](Socket s, char* buffer, std::size_t size) {
        calls.push_back("recv " + std::to_string(s));
        capacity = size;
        std::memset(buffer, 'x', size);  // a reply longer than the buffer: read in part
        return static_cast<long>(size);
    };

    for (const char* text : {PROBE_TEXT, QUIT_WORD}) {
        SCOPED_TRACE(text);
        calls.clear();
        fake::state().sent.clear();
        fake::state().closed.clear();
        const Socket s = fake::state().nextSocket;

        EXPECT_EQ(sendControlMessage(text), 0);

        EXPECT_EQ(peer.address, platform::LOOPBACK_ADDRESS);
        EXPECT_EQ(peer.port, LAUNCHER_PORT);
        EXPECT_EQ(calls,
                  (std::vector<std::string>{"connect " + std::to_string(s), "recv " + std::to_string(s)}));
        // The text alone: no terminator, no line end.
        EXPECT_EQ(fake::state().sent[s], std::string(text));
        EXPECT_EQ(capacity, 2048u);
        EXPECT_EQ(fake::state().closed, std::vector<Socket>{s});
    }
    EXPECT_EQ(std::string(PROBE_TEXT), "ciao");
    EXPECT_EQ(std::string(QUIT_WORD), "_Wr8p_");
    // Both waits are bounded.
    EXPECT_EQ(connectLimit, CONTROL_CLIENT_TIMEOUT_MS);
    EXPECT_EQ(receiveLimit, CONTROL_CLIENT_TIMEOUT_MS);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(ControlClient, OrderlyCloseCountsAsAnAnswer) {
    // The default fake peer closes without a byte.
    EXPECT_EQ(sendControlMessage(PROBE_TEXT), 0);
    EXPECT_EQ(fake::state().closed.size(), 1u);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(ControlClient, ExchangeFailuresAreLoggedAndGiveMinusOne) {
    enum Step { Connect, Send, Receive };
    struct Case {
        Step failing;
        std::string line;
        unsigned sends, receives;
    };
    // A receive that times out fails like any other receive.
    const std::vector<Case> cases = {
        {Connect, "0|connect error", 0, 0},
        {Send, "0|send error", 1, 0},
        {Receive, "0|recv error", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        fake::reset();
        pointLogHere();
        std::filesystem::remove(logPath());
        unsigned sends = 0, receives = 0;
        fake::state().connectTo = [&](Socket, const platform::Ipv4Endpoint&, int) {
            return c.failing == Connect ? -1 : 0;
        };
        fake::state().sendBytes = [&](Socket, const char*, std::size_t n) {
            ++sends;
            return c.failing == Send ? -1L : static_cast<long>(n);
        };
        fake::state().receiveBytes = [&](Socket, char*, std::size_t) {
            ++receives;
            return c.failing == Receive ? -1L : 0L;
        };

        EXPECT_EQ(sendControlMessage(QUIT_WORD), -1);
        EXPECT_EQ(logLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(sends, c.sends);
        EXPECT_EQ(receives, c.receives);
        EXPECT_EQ(fake::state().closed, std::vector<Socket>{100});
    }
}

using ControlClientDeathTest = ControlClient;

TEST_F(ControlClientDeathTest, StartUpFailuresEndTheProcessWithOne) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"library does not start",
         [] {
             fake::state().startSocketLibrary = [](int, int, platform::SocketLibraryVersion&) {
                 return 10091;
             };
         },
         "1|Nessuna DLL WinSock"},
        {"version 1.1 granted",
         [] {
             fake::state().startSocketLibrary = [](int, int, platform::SocketLibraryVersion& v) {
                 v.major = 1;
                 v.minor = 1;
                 return 0;
             };
         },
         "1|Verisone libreria Winsock non supportata"},
        {"version 2.2 granted",
         [] {
             fake::state().startSocketLibrary = [](int, int, platform::SocketLibraryVersion& v) {
                 v.major = 2;
                 v.minor = 2;
                 return 0;
             };
         },
         "1|Verisone libreria Winsock non supportata"},
        {"no socket", [] { fake::state().openTcpSocket = [] { return platform::NO_SOCKET; }; },
         "0|socket error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        pointLogHere();
        std::filesystem::remove(logPath());
        c.arrange();
        EXPECT_EXIT(sendControlMessage(PROBE_TEXT), ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(logLines(), std::vector<std::string>{c.line});
    }
}

TEST_F(ControlClient, VersionIsAskedAsTwoZero) {
    int major = 0, minor = 0;
    fake::state().startSocketLibrary = [&](int ma, int mi, platform::SocketLibraryVersion& v) {
        major = ma;
        minor = mi;
        v.major = ma;
        v.minor = mi;
        return 0;
    };
    EXPECT_EQ(sendControlMessage(PROBE_TEXT), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(fake::state().stopSocketLibraryCalls, 0);  // the library stays started
}

}  // namespace

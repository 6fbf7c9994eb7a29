#include "app/control_client.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    fake::state().connectTo = [&](Socket s, const platform::Ipv4Endpoint& remote, int ms,
                                  platform::SystemError&) {
        calls.push_back("connect " + std::to_string(s));
        peer = remote;
        connectLimit = ms;
        return true;
    };
    fake::state().setReceiveTimeout = [&](Socket, int ms) {
        receiveLimit = ms;
        return true;
    };
    std::size_t capacity = 0;
    fake::state().receiveBytes = [&](Socket s, char* buffer, std::size_t size) {
        calls.push_back("recv " + std::to_string(s));
        capacity = size;
        std::memset(buffer, 'x', size);  // a reply longer than the buffer: read in part
        return fake::transferred(size);
    };

    for (const char* text : {PROBE_TEXT, QUIT_WORD}) {
        SCOPED_TRACE(text);
        calls.clear();
        fake::state().sent.clear();
        fake::state().closed.clear();
        const Socket s = fake::state().nextSocket;

        EXPECT_EQ(sendControlMessage(text, ExpectedReply::Any), 0);

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
    EXPECT_EQ(sendControlMessage(QUIT_WORD, ExpectedReply::Any), 0);
    EXPECT_EQ(fake::state().closed.size(), 1u);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(ControlClient, ExchangeFailuresAreLoggedAndGiveMinusOne) {
    enum Step { Connect, Send, Receive, ReceiveTimesOut };
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
        {ReceiveTimesOut, "0|recv error", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        fake::reset();
        pointLogHere();
        std::filesystem::remove(logPath());
        unsigned sends = 0, receives = 0;
        fake::state().connectTo = [&](Socket, const platform::Ipv4Endpoint&, int, platform::SystemError&) {
            return c.failing != Connect;
        };
        fake::state().sendBytes = [&](Socket, const char*, std::size_t n) {
            ++sends;
            return c.failing == Send ? fake::failed(32) : fake::transferred(n);
        };
        fake::state().receiveBytes = [&](Socket, char*, std::size_t) {
            ++receives;
            if (c.failing == Receive) return fake::failed(104);
            return c.failing == ReceiveTimesOut ? fake::wouldBlock() : fake::peerClosed();
        };

        EXPECT_EQ(sendControlMessage(QUIT_WORD, ExpectedReply::Any), -1);
        EXPECT_EQ(logLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(sends, c.sends);
        EXPECT_EQ(receives, c.receives);
        EXPECT_EQ(fake::state().closed, std::vector<Socket>{100});
    }
}

TEST_F(ControlClient, OnlyTheLaunchersOwnRejectionAnswersTheProbe) {
    struct Case {
        const char* name;
        std::vector<platform::IoResult> replies;  // "" chunks: see pieces
        std::vector<std::string> pieces;
        int result;
        std::vector<std::string> log;
    };
    const std::string rejection = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    const platform::IoResult data = fake::transferred(0);  // filled from pieces
    const std::vector<Case> cases = {
        {"the launcher's answer", {data}, {rejection}, 0, {}},
        {"the same in pieces", {data, data, data}, {"HTTP/1.0 4", "00 Bad Req", "uest\r\nContent"}, 0, {}},
        {"another web server",
         {data},
         {"HTTP/1.1 200 OK\r\n\r\nhello"},
         -1,
         {"0|recv error: the answer is not a launcher's"}},
        {"a close without a word",
         {fake::peerClosed()},
         {},
         -1,
         {"0|recv error: the answer is not a launcher's"}},
        {"half the status line, then a close",
         {data, fake::peerClosed()},
         {"HTTP/1.0 400"},
         -1,
         {"0|recv error: the answer is not a launcher's"}},
        {"half the status line, then nothing in time",
         {data, fake::wouldBlock()},
         {"HTTP/1.0 400"},
         -1,
         {"0|recv error"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        pointLogHere();
        std::filesystem::remove(logPath());
        std::size_t next = 0, piece = 0;
        fake::state().receiveBytes = [&](Socket, char* buffer, std::size_t size) {
            if (next >= c.replies.size()) return fake::wouldBlock();
            platform::IoResult reply = c.replies[next++];
            if (reply.status != platform::IoStatus::Ok) return reply;
            const std::string& text = c.pieces[piece++];
            const std::size_t n = std::min(size, text.size());
            std::memcpy(buffer, text.data(), n);
            return fake::transferred(n);
        };
        EXPECT_EQ(sendControlMessage(PROBE_TEXT, ExpectedReply::LauncherRejection), c.result);
        EXPECT_EQ(logLines(), c.log);
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
        {"library does not start", [] { fake::state().libraryStart = platform::LibraryStart::Unavailable; },
         "1|Nessuna DLL WinSock"},
        {"version other than 2.0 granted",
         [] { fake::state().libraryStart = platform::LibraryStart::WrongVersion; },
         "1|Verisone libreria Winsock non supportata"},
        {"no socket",
         [] { fake::state().openTcpSocket = [](platform::SystemError&) { return platform::NO_SOCKET; }; },
         "0|socket error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        pointLogHere();
        std::filesystem::remove(logPath());
        c.arrange();
        EXPECT_EXIT(sendControlMessage(PROBE_TEXT, ExpectedReply::LauncherRejection),
                    ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(logLines(), std::vector<std::string>{c.line});
    }
}

}  // namespace

// The listener: its set-up, the failure of each step, the bind retries and
// the forced exit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "server/http_server.h"
#include "unit/log_test_support.h"

namespace {

using logtest::STAMP;
using logtest::TempLog;
using platform::Socket;

const std::string FORCED_EXIT = std::string(STAMP) + "<<<< Uscita forzata [esci()] >>>>\n";
const std::string BIND_ERROR = "  xxx: bind error (port 5560 already opened?) - fake error 98\n";

class Listener : public ::testing::Test {
protected:
    TempLog log;  // first: resets the fake platform
    HttpServer server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
};

TEST_F(Listener, OpensANonBlockingReusableSocketOnLoopback) {
    std::vector<std::string> calls;
    platform::Ipv4Endpoint bound;
    auto& fake = fake::state();
    fake.setNonBlocking = [&](Socket s) {
        calls.push_back("nonblocking " + std::to_string(s));
        return true;
    };
    fake.claimPort = [&](Socket s) {
        calls.push_back("claim " + std::to_string(s));
        return true;
    };
    fake.bindSocket = [&](Socket s, const platform::Ipv4Endpoint& local, platform::SystemError&) {
        calls.push_back("bind " + std::to_string(s));
        bound = local;
        return true;
    };
    fake.listenOn = [&](Socket s, int backlog) {
        calls.push_back("listen " + std::to_string(s) + " " + std::to_string(backlog));
        return true;
    };

    EXPECT_EQ(server.open(LAUNCHER_PORT), 100);
    EXPECT_EQ(server.listenSocket, 100);
    EXPECT_EQ(server.port, 5560);
    EXPECT_EQ(calls, (std::vector<std::string>{"nonblocking 100", "claim 100", "bind 100", "listen 100 511"}));
    EXPECT_EQ(bound.address, platform::LOOPBACK_ADDRESS);
    EXPECT_EQ(bound.port, 5560);
    EXPECT_EQ(server.listenAddress.address, platform::LOOPBACK_ADDRESS);
    EXPECT_EQ(server.listenAddress.port, 5560);
    EXPECT_TRUE(fake.sleeps.empty());
    EXPECT_EQ(log.contents(), "  Server listening on port: 5560\n\n");
}

TEST_F(Listener, UsesTheLowSixteenBitsOfThePort) {
    server.open(70000);
    EXPECT_EQ(server.listenAddress.port, 70000 & 0xFFFF);
    EXPECT_EQ(log.contents(), "  Server listening on port: 70000\n\n");
}

TEST_F(Listener, SocketLibraryFailuresReturnMinusOne) {
    const std::vector<std::pair<platform::LibraryStart, std::string>> cases = {
        {platform::LibraryStart::Unavailable, "  Nessuna DLL WinSock\n"},
        {platform::LibraryStart::WrongVersion, "  Verisone libreria Winsock non supportata\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        TempLog fresh;
        HttpServer fresh_server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
        fake::state().libraryStart = c.first;
        EXPECT_EQ(fresh_server.open(LAUNCHER_PORT), platform::NO_SOCKET);
        EXPECT_EQ(fresh_server.listenSocket, platform::NO_SOCKET);
        EXPECT_EQ(fake::state().nextSocket, 100) << "no socket may be created";
        EXPECT_EQ(fresh.contents(), c.second);
    }
}

TEST_F(Listener, FatalSetUpFailuresEndTheProcess) {
    struct Case {
        const char* name;
        std::function<void(fake::Platform&)> fail;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"socket",
         [](fake::Platform& f) {
             f.openTcpSocket = [](platform::SystemError&) { return platform::NO_SOCKET; };
         },
         "  xxx: socket error. STOP\n"},
        {"non-blocking", [](fake::Platform& f) { f.setNonBlocking = [](Socket) { return false; }; },
         "  xxx: setting non-blocking socket error. STOP\n"},
        {"port claim", [](fake::Platform& f) { f.claimPort = [](Socket) { return false; }; },
         "  xxx: socket option error. STOP\n"},
        {"listen", [](fake::Platform& f) { f.listenOn = [](Socket, int) { return false; }; },
         "  xxx: listen error. STOP\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempLog fresh;
        HttpServer fresh_server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
        c.fail(fake::state());
        // The listener is not recorded yet, so esci has nothing to close.
        fake::state().closeSocket = [](Socket s) { writeLog("closed " + std::to_string(s), 2); };
        EXPECT_EXIT(fresh_server.open(LAUNCHER_PORT), ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(fresh.contents(), c.log + FORCED_EXIT);
    }
}

TEST_F(Listener, BindIsTriedFourTimesWithAPauseAfterEachFailure) {
    fake::state().bindSocket = [](Socket, const platform::Ipv4Endpoint&, platform::SystemError& error) {
        error = fake::error(platform::ErrorKind::AddressInUse, 98);
        return false;
    };
    auto openAndCountPauses = [this] {
        // Runs when the process exits: shows the fourth pause came before.
        std::atexit([] { writeLog("pauses " + std::to_string(fake::state().sleeps.size()), 2); });
        server.open(LAUNCHER_PORT);
    };
    EXPECT_EXIT(openAndCountPauses(), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log.contents(), BIND_ERROR + BIND_ERROR + BIND_ERROR + BIND_ERROR + STAMP +
                                  "xxx: error on bind. STOP\n" + FORCED_EXIT + "    pauses 4\n");
}

TEST_F(Listener, BindThatSucceedsLateHasPausedOncePerFailure) {
    int attempts = 0;
    fake::state().bindSocket = [&](Socket, const platform::Ipv4Endpoint&, platform::SystemError& error) {
        error = fake::error(platform::ErrorKind::AddressInUse, 98);
        return ++attempts >= 4;
    };
    EXPECT_EQ(server.open(LAUNCHER_PORT), 100);
    EXPECT_EQ(fake::state().sleeps, (std::vector<unsigned>{15000, 15000, 15000}));
    EXPECT_EQ(log.contents(), BIND_ERROR + BIND_ERROR + BIND_ERROR + "  Server listening on port: 5560\n\n");
}

TEST_F(Listener, ForcedExitClosesTheListener) {
    server.listenSocket = 77;
    fake::state().closeSocket = [](Socket s) { writeLog("closed " + std::to_string(s), 2); };
    EXPECT_EXIT(server.esci(), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log.contents(), "    closed 77\n" + FORCED_EXIT);
}

}  // namespace

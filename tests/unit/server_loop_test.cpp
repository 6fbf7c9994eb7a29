// The connection loop driven by a scripted platform: which sockets it waits
// on, what it accepts, reads, answers, sweeps and logs.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "server/http_server.h"
#include "server/server_thread.h"
#include "unit/log_test_support.h"

namespace {

using logtest::STAMP;
using logtest::TempLog;
using platform::Socket;
using platform::WatchedSocket;

const Socket LISTENER = 3;
const int RESET = 104;
const std::string REJECTION = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
const std::string STATUS_REQUEST = "GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\n\r\n";
const std::string STATUS_BODY =
    "cb({\"request-id\":\"1\",\"secret-key\":\"\",\"request-type\": \"getAppStatus\","
    "\"response\":{\"result\":\"Success\",\"message\":\"NotRunning\"}})";

const std::string OK_ANSWER = "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: " +
                              std::to_string(STATUS_BODY.size()) + "\r\n\r\n" + STATUS_BODY;

// One receive: data, or an error (data ignored), or the peer's close.
struct Chunk {
    std::string data;
    int error = 0;
};
Chunk bytes(const std::string& data) {
    return {data, 0};
}
Chunk failure(int error) {
    return {"", error};
}
Chunk closed() {
    return {"", 0};  // empty data: the peer's close
}

class Loop : public ::testing::Test {
protected:
    void SetUp() override {
        server.listenSocket = LISTENER;
        auto& fake = fake::state();
        fake.waitReadable = [this](WatchedSocket* sockets, std::size_t count, long timeout) {
            return wait(sockets, count, timeout);
        };
        fake.acceptConnection = [this](Socket listener) {
            EXPECT_EQ(listener, LISTENER);
            platform::Accepted accepted;
            if (pending.empty()) {
                accepted.status = platform::IoStatus::WouldBlock;
                return accepted;
            }
            accepted.socket = pending.front().first;
            accepted.peer.address = 0x7F000001u;
            accepted.peer.port = static_cast<std::uint16_t>(pending.front().second);
            pending.pop_front();
            return accepted;
        };
        fake.receiveBytes = [this](Socket s, char* buffer, std::size_t capacity) {
            ++receives[s];
            std::deque<Chunk>& queue = incoming[s];
            if (queue.empty()) return fake::wouldBlock();
            Chunk chunk = queue.front();
            if (chunk.error) {
                queue.pop_front();
                return fake::failed(chunk.error);
            }
            if (chunk.data.empty()) {
                queue.pop_front();
                return fake::peerClosed();
            }
            std::size_t n = std::min(capacity, chunk.data.size());
            chunk.data.copy(buffer, n);
            if (n == chunk.data.size())
                queue.pop_front();
            else
                queue.front().data.erase(0, n);
            return fake::transferred(n);
        };
    }

    // Each step of the script is one wait: it may move the clock, and says
    // which sockets are ready. When the script ends, the wait is interrupted
    // with a stop asked for, so the loop returns.
    struct Step {
        long advance = 0;           // seconds added to the clock before the wait returns
        std::vector<Socket> ready;  // empty: the wait times out
        platform::WaitStatus failure = platform::WaitStatus::Ready;  // Failed or Interrupted
    };
    platform::WaitResult wait(WatchedSocket* sockets, std::size_t count, long timeout) {
        std::vector<Socket> waitedOn;
        for (std::size_t i = 0; i < count; ++i) waitedOn.push_back(sockets[i].socket);
        masters.push_back(waitedOn);
        timeouts.push_back(timeout);
        platform::WaitResult result;
        if (next == script.size()) {
            serving->stopRequested = 1;
            result.status = platform::WaitStatus::Interrupted;
            return result;
        }
        const Step& step = script[next++];
        fake::state().now += step.advance;
        if (step.failure != platform::WaitStatus::Ready) {
            result.status = step.failure;
            result.error = fake::error(platform::ErrorKind::Other, 9);
            return result;
        }
        if (step.ready.empty()) result.status = platform::WaitStatus::TimedOut;
        for (Socket s : step.ready) {
            bool found = false;
            for (std::size_t i = 0; i < count; ++i) {
                if (sockets[i].socket != s) continue;
                sockets[i].readable = true;
                found = true;
            }
            EXPECT_TRUE(found) << "socket " << s << " is not waited on";
        }
        return result;
    }

    // A fresh script for another case of a table, served by server.
    void startOver(HttpServer& fresh) {
        SetUp();
        fresh.listenSocket = LISTENER;
        serving = &fresh;
        next = 0;
        timeouts.clear();
        pending.clear();
        incoming.clear();
    }

    // The first accept fails with the error; later ones take what is pending.
    void failFirstAccept(platform::ErrorKind kind, int number) {
        fake::state().acceptConnection = [this, inner = fake::state().acceptConnection, kind,
                                          number](Socket l) {
            if (++acceptCalls == 1) {
                platform::Accepted refused;
                refused.status = platform::IoStatus::Failed;
                refused.error = fake::error(kind, number);
                return refused;
            }
            return inner(l);
        };
    }

    // A connection from 127.0.0.1:port that the next accept takes.
    void connection(Socket s, int port) { pending.push_back({s, port}); }
    Step acceptStep(long advance = 0) { return {advance, {LISTENER}}; }

    TempLog log;  // first: resets the fake platform
    HttpServer server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
    HttpServer* serving = &server;  // the server the script stops
    std::vector<Step> script;
    std::size_t next = 0;
    std::vector<std::vector<Socket>> masters;  // the set given to each wait
    std::vector<long> timeouts;
    std::deque<std::pair<Socket, int>> pending;
    std::map<Socket, std::deque<Chunk>> incoming;
    std::map<Socket, int> receives;
    int acceptCalls = 0;
};

TEST_F(Loop, MasterSetKeepsTheListenerFirstAndClientsInOrder) {
    for (int i = 0; i < 4; ++i) connection(200 + i, 50000 + i);
    incoming[201] = {bytes(STATUS_REQUEST)};
    // Four connections are pending at once: one is taken per pass.
    script = {acceptStep(), acceptStep(), acceptStep(), acceptStep(), {0, {201}}};
    server.connectionLoop();

    EXPECT_EQ(masters, (std::vector<std::vector<Socket>>{{LISTENER},
                                                         {LISTENER, 200},
                                                         {LISTENER, 200, 201},
                                                         {LISTENER, 200, 201, 202},
                                                         {LISTENER, 200, 201, 202, 203},
                                                         {LISTENER, 200, 202, 203}}));
    for (long timeout : timeouts) EXPECT_EQ(timeout, 1200 * 1000);
    EXPECT_EQ(fake::state().sent[201], OK_ANSWER);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{201});
    EXPECT_EQ(server.clientCount, 3);
    EXPECT_LT(server.clients[1].socket, 0);
    EXPECT_EQ(log.contents(), std::string(STAMP) + "Conn. 127.0.0.1:50000\n" + STAMP +
                                  "Conn. 127.0.0.1:50001\n" + STAMP + "Conn. 127.0.0.1:50002\n" + STAMP +
                                  "Conn. 127.0.0.1:50003\n" + STAMP + "response: " + STATUS_BODY + "\n\n" +
                                  "    Disc. 127.0.0.1:50001\n\n");
}

TEST_F(Loop, AcceptedClientIsNotReadInItsOwnPass) {
    connection(200, 50000);
    incoming[200] = {bytes("ciao")};
    script = {acceptStep()};
    server.connectionLoop();
    EXPECT_EQ(receives[200], 0);
    EXPECT_EQ(server.clientCount, 1);
}

TEST_F(Loop, FailedAcceptIsLoggedAndTheLoopGoesOn) {
    connection(200, 50000);
    script = {acceptStep(), acceptStep()};  // the second finds nothing pending
    failFirstAccept(platform::ErrorKind::Other, 103);
    server.connectionLoop();
    EXPECT_EQ(log.contents(), std::string(STAMP) +
                                  "xxx- Errore nell'accept. fake error 103 - errno: 103\n\n" + STAMP +
                                  "Conn. 127.0.0.1:50000\n");
    EXPECT_EQ(server.clientCount, 1);
}

TEST_F(Loop, AcceptWithoutDescriptorsRestsTheListenerInsteadOfSpinning) {
    connection(200, 50000);
    failFirstAccept(platform::ErrorKind::NoDescriptors, 24);
    fake::state().waitReadable = [this](WatchedSocket* sockets, std::size_t count, long timeout) {
        fake::state().monotonicMs += 60;  // each wait takes 60 ms
        return wait(sockets, count, timeout);
    };
    // The listener stays readable while the connection waits.
    script = {acceptStep(), {0, {}}, {0, {}}, acceptStep()};
    server.connectionLoop();

    ASSERT_GE(masters.size(), 4u);
    EXPECT_EQ(masters[1], std::vector<Socket>{}) << "the listener rests after the failure";
    EXPECT_EQ(timeouts[1], 100);
    EXPECT_EQ(timeouts[2], 40) << "only what is left of the pause";
    EXPECT_EQ(masters[3], std::vector<Socket>{LISTENER}) << "and is back after 100 ms";
    EXPECT_EQ(acceptCalls, 2);
    EXPECT_EQ(server.clientCount, 1);
}

TEST_F(Loop, FullTableGivesTheSlotOfTheLongestWaitingClientToTheNewcomer) {
    // 63 clients that never send a whole request (the first a second before
    // the others), then a page.
    for (int i = 0; i < 64; ++i) {
        connection(200 + i, 40000 + i);
        script.push_back(acceptStep(i == 1 ? 1 : 0));
    }
    incoming[202] = {bytes("GET /getApp")};  // incomplete, but not the oldest
    script.insert(script.begin() + 63, {0, {202}});
    server.connectionLoop();

    EXPECT_EQ(server.clientCount, 63);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{200}) << "the oldest waiting client gives way";
    EXPECT_EQ(server.clients[0].socket, 263);
    const std::string contents = log.contents();
    EXPECT_NE(
        contents.find("Conn. 127.0.0.1:40062\n    Disconnect Forced 127.0.0.1:40000\n\n[2012-06-01 07:05:08] "
                      "Conn. 127.0.0.1:40063\n"),
        std::string::npos)
        << contents.substr(contents.size() > 600 ? contents.size() - 600 : 0);
    EXPECT_EQ(contents.find("non accettata"), std::string::npos);
}

TEST_F(Loop, TheLongestWaitingClientIsTheEarliestAcceptedNotTheLowestSlot) {
    // 200 is answered and frees slot 0, which the later 202 takes; all in the
    // same clock second. With the table full, 201 (slot 1) is the one to go.
    connection(200, 40000);
    connection(201, 40001);
    incoming[200] = {bytes(STATUS_REQUEST)};
    script = {acceptStep(), acceptStep(), {0, {200}}};
    for (int i = 2; i < 65; ++i) {
        connection(200 + i, 40000 + i);
        script.push_back(acceptStep());
    }
    server.connectionLoop();

    EXPECT_EQ(fake::state().closed, (std::vector<Socket>{200, 201}));
    EXPECT_EQ(server.clients[0].socket, 202);
    EXPECT_EQ(server.clients[1].socket, 264);
    EXPECT_NE(log.contents().find("    Disconnect Forced 127.0.0.1:40001\n"), std::string::npos);
}

TEST_F(Loop, FullTableOfClientsKeptOpenRefusesTheNewcomer) {
    for (int i = 0; i < 64; ++i) {
        connection(200 + i, 40000 + i);
        script.push_back(acceptStep());
    }
    // No path of the server keeps a client open today; the table holds the
    // flag for one that would.
    fake::state().acceptConnection = [inner = fake::state().acceptConnection, this](Socket l) mutable {
        for (ClientSlot& slot : server.clients)
            if (slot.socket >= 0) slot.keepOpen = 1;
        return inner(l);
    };
    server.connectionLoop();

    EXPECT_EQ(server.clientCount, 63);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{263});
    EXPECT_NE(log.contents().find(std::string(STAMP) +
                                  "Conn. 127.0.0.1:40062\n"
                                  "  xxx: Connessione con 127.0.0.1:40063 non accettata (client 63/63).\n\n"),
              std::string::npos);
}

struct SplitCase {
    const char* name;
    std::vector<std::deque<Chunk>> passes;  // what each readable pass finds
    std::string sent;
    std::string handled;  // the text the handler logged as refused, if any
};

TEST_F(Loop, RequestInPiecesIsHandledWhenItsHeadEnds) {
    const std::string head = "GET /getAppStatus?request-id=1&callback=cb";
    const std::string rest = " HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n\r\n";
    const std::vector<SplitCase> cases = {
        {"split in the request line", {{bytes(head)}, {bytes(rest)}}, OK_ANSWER, ""},
        {"one byte at a time at the start",
         {{bytes("G")}, {bytes("E")}, {bytes(head.substr(2) + rest)}},
         OK_ANSWER,
         ""},
        {"the blank line split across reads",
         {{bytes(head + " HTTP/1.1\r\n\r")}, {bytes("\n")}},
         OK_ANSWER,
         ""},
        {"a NUL in a header does not hide the head's end",
         {{bytes(head + " HTTP/1.1\r\nX: a" + std::string("\0", 1) + "b\r\n\r\n")}},
         OK_ANSWER,
         ""},
        {"the client closes after half a request: it is handled",
         {{bytes(head)}, {closed()}},
         "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: " +
             std::to_string(STATUS_BODY.size()) + "\r\n\r\n" + STATUS_BODY,
         ""},
        {"text that cannot begin a request is handled at once", {{bytes("ciao")}}, REJECTION, "ciao"},
        {"nor can one with another method",
         {{bytes("PUT /getAppStatus?callback=cb")}},
         REJECTION,
         "PUT /getAppStatus?callback=cb"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempLog fresh;
        HttpServer fresh_server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
        startOver(fresh_server);
        connection(200, 50000);
        script = {acceptStep()};
        std::size_t pass = 0;
        for (std::size_t i = 0; i < c.passes.size(); ++i) script.push_back({0, {200}});
        fake::state().waitReadable = [this, &c, &pass](WatchedSocket* sockets, std::size_t count,
                                                       long timeout) {
            if (next >= 1 && pass < c.passes.size()) incoming[200] = c.passes[pass++];
            return wait(sockets, count, timeout);
        };
        fresh_server.connectionLoop();

        EXPECT_EQ(fake::state().sent[200], c.sent);
        EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
        if (c.passes.size() > 1 && c.sent == OK_ANSWER) {
            EXPECT_EQ(timeouts[2], 1000) << "watched every second";
        }
        if (!c.handled.empty()) {
            EXPECT_NE(fresh.contents().find("  " + c.handled + "\n"), std::string::npos);
        }
    }
}

TEST_F(Loop, TricklingRequestIsClosedUnansweredAfterThreeSeconds) {
    connection(200, 50000);
    const std::string head = "GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\nX: ";
    incoming[200] = {bytes(head)};
    script = {acceptStep(), {0, {200}}, {1, {}}, {1, {}}, {1, {}}, {1, {}}, {1, {}}};
    std::vector<std::vector<Socket>> closedAfter;
    fake::state().waitReadable = [this, &closedAfter](WatchedSocket* sockets, std::size_t count,
                                                      long timeout) {
        closedAfter.push_back(fake::state().closed);
        return wait(sockets, count, timeout);
    };
    server.connectionLoop();

    // Accepted at +0; the checks at +1, +2 and +3 leave it, +4 closes it.
    EXPECT_EQ(closedAfter[5], std::vector<Socket>{});
    EXPECT_EQ(closedAfter[6], std::vector<Socket>{200});
    EXPECT_EQ(fake::state().sent[200], "");
    for (std::size_t i = 2; i < 6; ++i) EXPECT_EQ(timeouts[i], 1000);
    EXPECT_EQ(timeouts.back(), 1200 * 1000) << "back to the long wait once nothing is incomplete";
    EXPECT_NE(log.contents().find("    Disconnect Forced 127.0.0.1:50000\n"), std::string::npos);
}

TEST_F(Loop, RequestTricklingInEverySecondIsStillClosedAfterThreeSeconds) {
    connection(200, 50000);
    script = {acceptStep()};
    for (int i = 0; i < 4; ++i) script.push_back({1, {200}});
    fake::state().waitReadable = [this](WatchedSocket* sockets, std::size_t count, long timeout) {
        if (next >= 1) incoming[200] = {bytes(next == 1 ? "GET /getAppStatus?request-id=1" : "x")};
        return wait(sockets, count, timeout);
    };
    server.connectionLoop();

    EXPECT_EQ(fake::state().sent[200], "");
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
    EXPECT_EQ(receives[200], 4) << "read at +1 to +4; at +4 it is more than 3 s old";
    EXPECT_NE(log.contents().find("    Disconnect Forced 127.0.0.1:50000\n"), std::string::npos);
}

TEST_F(Loop, BoundCountsEveryReadOfTheConnection) {
    connection(200, 50000);
    script = {acceptStep()};
    // 1000 bytes a pass, never a blank line: the 66th pass reaches 64 KiB.
    const std::string piece = "GET /" + std::string(995, 'a');
    for (int i = 0; i < 66; ++i) script.push_back({0, {200}});
    fake::state().waitReadable = [this, &piece](WatchedSocket* sockets, std::size_t count, long timeout) {
        if (next >= 1) incoming[200] = {bytes(piece)};
        return wait(sockets, count, timeout);
    };
    server.connectionLoop();

    EXPECT_EQ(fake::state().sent[200], REJECTION);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
    EXPECT_EQ(receives[200], 66);
    EXPECT_NE(log.contents().find("too long (65536 bytes or more)"), std::string::npos);
}

struct ReadCase {
    const char* name;
    std::deque<Chunk> chunks;
    std::string sent;  // what the client receives
    std::string log;   // after the "Conn." line
};

TEST_F(Loop, OutcomesOfARead) {
    const std::string big(3000 - STATUS_REQUEST.size(), 'a');
    const std::string answered =
        std::string(STAMP) + "response: " + STATUS_BODY + "\n\n    Disc. 127.0.0.1:50000\n\n";
    std::string exact2048 = STATUS_REQUEST + std::string(2048 - STATUS_REQUEST.size(), 'b');
    const std::vector<ReadCase> cases = {
        {"one byte",
         {bytes("x")},
         REJECTION,
         "  [HTTPServer::handleRequest] not HTTP request or valid command:\n  x\n" + std::string(STAMP) +
             "response: \n\n    Disc. 127.0.0.1:50000\n\n"},
        {"3000 bytes at once", {bytes(STATUS_REQUEST + big)}, OK_ANSWER, answered},
        {"exactly 2048 then nothing pending", {bytes(exact2048)}, OK_ANSWER, answered},
        {"exactly 2048 then the client's close", {bytes(exact2048), closed()}, OK_ANSWER, answered},
        {"close without a request", {closed()}, "", "    Client 127.0.0.1:50000 auto-disconnected\n\n"},
        {"reset", {failure(RESET)}, "", "    General error on reading 127.0.0.1:50000\n\n"},
        {"reset after a full chunk",
         {bytes(exact2048), failure(RESET)},
         "",
         "    General error on reading 127.0.0.1:50000\n\n"},
        {"readable but nothing there", {}, "", "    General error on reading 127.0.0.1:50000\n\n"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempLog fresh;
        HttpServer fresh_server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
        startOver(fresh_server);
        connection(200, 50000);
        incoming[200] = c.chunks;
        script = {acceptStep(), {0, {200}}};
        fresh_server.connectionLoop();

        EXPECT_EQ(fake::state().sent[200], c.sent);
        EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
        EXPECT_EQ(fresh_server.clientCount, 0);
        EXPECT_EQ(fresh.contents(), std::string(STAMP) + "Conn. 127.0.0.1:50000\n" + c.log);
    }
}

TEST_F(Loop, OversizedRequestIsCutRejectedAndClosed) {
    std::string huge = STATUS_REQUEST + std::string(100000, 'z');
    connection(200, 50000);
    incoming[200] = {bytes(huge)};
    script = {acceptStep(), {0, {200}}};
    server.connectionLoop();

    EXPECT_EQ(receives[200], 32) << "reading stops at 64 KiB";
    EXPECT_EQ(fake::state().sent[200], REJECTION);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
    const std::string contents = log.contents();
    const std::string head =
        std::string(STAMP) + "Conn. 127.0.0.1:50000\n" +
        "  xxx: request from 127.0.0.1:50000 too long (65536 bytes or more):\n  GET /getAppStatus";
    EXPECT_EQ(contents.compare(0, head.size(), head), 0) << contents.substr(0, 300);
    const std::string tail = std::string(STAMP) + "response: \n\n    Disc. 127.0.0.1:50000\n\n";
    ASSERT_GE(contents.size(), tail.size());
    EXPECT_EQ(contents.substr(contents.size() - tail.size()), tail);
    EXPECT_LT(contents.size(), 2000u + head.size() + tail.size()) << "the echoed text is one cut line";
}

TEST_F(Loop, RequestJustBelowTheBoundIsHandled) {
    std::string request = STATUS_REQUEST + std::string(65535 - STATUS_REQUEST.size(), 'z');
    connection(200, 50000);
    incoming[200] = {bytes(request)};
    script = {acceptStep(), {0, {200}}};
    server.connectionLoop();
    EXPECT_EQ(fake::state().sent[200], OK_ANSWER);
}

TEST_F(Loop, SweepComesAfterMoreThanTwentySecondsAndClosesClientsIdleMoreThanThree) {
    // Clients taken at start+0, +17 and +18; passes at +20 (no sweep yet),
    // +21 (sweep: ages 21, 4 and 3), +30 (no sweep: 9 s after the last one)
    // and +42 (sweep).
    connection(200, 50000);
    connection(201, 50001);
    connection(202, 50002);
    connection(203, 50003);
    script = {
        acceptStep(0),   // 200 at +0
        acceptStep(17),  // 201 at +17
        acceptStep(1),   // 202 at +18
        {2, {}},         // +20: time-out, not yet a sweep
        {1, {}},         // +21: sweep
        acceptStep(1),   // 203 at +22
        {8, {}},         // +30
        {12, {}},        // +42: sweep
    };
    std::vector<std::vector<Socket>> closedAfter;
    fake::state().waitReadable = [this, &closedAfter](WatchedSocket* sockets, std::size_t count,
                                                      long timeout) {
        closedAfter.push_back(fake::state().closed);
        return wait(sockets, count, timeout);
    };
    server.connectionLoop();

    // closedAfter[i] is what had been closed before wait i.
    EXPECT_EQ(closedAfter[4], std::vector<Socket>{}) << "no sweep at +20";
    EXPECT_EQ(closedAfter[5], (std::vector<Socket>{200, 201})) << "sweep at +21 keeps the 3-second client";
    EXPECT_EQ(closedAfter[7], (std::vector<Socket>{200, 201})) << "no sweep 9 s after the last";
    // 203 took slot 0 again, and the sweep goes in slot order.
    EXPECT_EQ(fake::state().closed, (std::vector<Socket>{200, 201, 203, 202}));
    const std::string contents = log.contents();
    EXPECT_NE(
        contents.find("    Disconnect Forced 127.0.0.1:50000\n\n    Disconnect Forced 127.0.0.1:50001\n\n"),
        std::string::npos)
        << contents;
    EXPECT_EQ(server.clientCount, 0);
}

TEST_F(Loop, QuitWordIsAnsweredThenTheSocketClosedThenTheProcessEndsWithZero) {
    // The child process reports through stderr whether the rejection was on
    // the socket before it was closed.
    fake::state().closeSocket = [](Socket s) {
        const bool answered = fake::state().sent[s] == REJECTION;
        std::fprintf(stderr, "closed %ld after %s\n", static_cast<long>(s),
                     answered ? "rejection" : "nothing");
    };
    connection(200, 50000);
    incoming[200] = {bytes("_Wr8p_")};
    script = {acceptStep(), {0, {200}}};
    EXPECT_EXIT(server.connectionLoop(), ::testing::ExitedWithCode(0), "closed 200 after rejection");
    EXPECT_EQ(log.contents(), std::string(STAMP) + "Conn. 127.0.0.1:50000\n" +
                                  "  [HTTPServer::handleRequest] quit received!\n" + STAMP +
                                  "response: \n\n");
}

TEST_F(Loop, AnswerIsSentOnceEvenWhenTheClientTakesOnlyPartOfIt) {
    int sends = 0;
    fake::state().sendBytes = [&sends](Socket, const char*, std::size_t) {
        ++sends;
        return fake::transferred(10);
    };
    connection(200, 50000);
    incoming[200] = {bytes(STATUS_REQUEST)};
    script = {acceptStep(), {0, {200}}};
    server.connectionLoop();
    EXPECT_EQ(sends, 1);
    EXPECT_EQ(fake::state().closed, std::vector<Socket>{200});
}

TEST_F(Loop, NulByteEndsWhatIsTakenFromItsChunk) {
    const std::string request = "GET /getAppStatus?callback=cb";
    connection(200, 50000);
    incoming[200] = {bytes(request + std::string("\0", 1) + "&request-id=1&evil HTTP/1.1\r\n\r\n")};
    script = {acceptStep(), {0, {200}}};
    server.connectionLoop();
    // What follows the NUL is not part of the request: the request id
    // never reached the handler, so the text is refused.
    EXPECT_EQ(fake::state().sent[200], REJECTION);
    EXPECT_NE(log.contents().find("  " + request + "\n"), std::string::npos) << log.contents();
    EXPECT_EQ(log.contents().find("evil"), std::string::npos);
}

TEST_F(Loop, InterruptedWaitIsWaitedAgainUnlessAStopWasAsked) {
    const Step interrupted{0, {}, platform::WaitStatus::Interrupted};
    script = {interrupted, interrupted, {0, {}}};
    server.connectionLoop();
    EXPECT_EQ(masters.size(), 4u);
    EXPECT_EQ(log.contents(), "");
}

TEST_F(Loop, FailedWaitEndsTheProcess) {
    script = {{0, {}, platform::WaitStatus::Failed}};
    fake::state().closeSocket = [](Socket s) { writeLog("closed " + std::to_string(s), 2); };
    EXPECT_EXIT(server.connectionLoop(), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log.contents(), std::string("  xxx: Errore nel select:\n    fake error 9\n    closed 3\n") +
                                  STAMP + "<<<< Uscita forzata [esci()] >>>>\n");
}

TEST_F(Loop, RunClosesClientsThenTheListenerWhenTheLoopEnds) {
    connection(200, 50000);
    connection(201, 50001);
    script = {acceptStep(), acceptStep()};
    server.run();
    EXPECT_EQ(fake::state().closed, (std::vector<Socket>{200, 201, LISTENER}));
    EXPECT_EQ(server.clientCount, 2);  // closeAllClients keeps the count
}

TEST(ServerThread, BannerThenStartFailureThenFailedWaitEndTheProcess) {
    TempLog log;
    fake::state().libraryStart = platform::LibraryStart::Unavailable;
    // The fake's default wait fails as a wait on an invalid socket does.
    EXPECT_EXIT(serverThreadMain(), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log.contents(), std::string(STAMP) + "-----------------------------------------------------\n" +
                                  STAMP +
                                  "zanfiroWebLauncher versione 1.3.2, 2012-06-01\n"
                                  "  Nessuna DLL WinSock\n" +
                                  STAMP +
                                  "Allowed origins: no configuration folder, every page allowed\n"
                                  "  xxx: Errore nel select:\n"
                                  "    fake error 9\n" +
                                  STAMP + "<<<< Uscita forzata [esci()] >>>>\n");
}

}  // namespace

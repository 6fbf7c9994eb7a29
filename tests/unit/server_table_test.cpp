// The client table: 63 slots, the lowest free one taken, releases and the
// count that must never go negative.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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

class ClientTable : public ::testing::Test {
protected:
    TempLog log;  // first: resets the fake platform
    HttpServer server{"zanfiroWebLauncher", "1.3.2", "2012-06-01"};
};

TEST_F(ClientTable, FillsAllSixtyThreeSlotsInOrderThenRefuses) {
    for (int i = 0; i < MAX_CLIENTS; ++i) {
        ClientSlot* slot = server.addClient(1000 + i, "127.0.0.1", 40000 + i, 0);
        ASSERT_EQ(slot, &server.clients[i]);
        EXPECT_EQ(slot->index, i);
    }
    EXPECT_EQ(server.clientCount, 63);

    EXPECT_EQ(server.addClient(2000, "127.0.0.1", 50000, 0), nullptr);
    EXPECT_EQ(server.clientCount, 63);
    for (int i = 0; i < MAX_CLIENTS; ++i) EXPECT_EQ(server.clients[i].socket, 1000 + i);
    EXPECT_EQ(log.contents(), "");  // the caller logs the refusal
}

TEST_F(ClientTable, TakesTheLowestFreeSlotAndFillsIt) {
    for (int i = 0; i < 10; ++i) server.addClient(100 + i, "127.0.0.1", 40000 + i, 0);
    server.removeClient(&server.clients[5]);
    server.removeClient(&server.clients[2]);
    EXPECT_EQ(server.clientCount, 8);
    EXPECT_LT(server.clients[5].socket, 0);

    server.clients[2].spare = 99;
    fake::state().now += 7;
    ClientSlot* slot = server.addClient(300, "10.20.30.40", 65535, 1);
    ASSERT_EQ(slot, &server.clients[2]);
    EXPECT_EQ(slot->socket, 300);
    EXPECT_EQ(slot->connectTime, fake::state().now);
    EXPECT_STREQ(slot->peerAddress, "10.20.30.40");
    EXPECT_EQ(slot->peerPort, 65535);
    EXPECT_EQ(slot->keepOpen, 1);
    EXPECT_EQ(slot->spare, 0);
    EXPECT_EQ(server.addClient(301, "127.0.0.1", 1, 0), &server.clients[5]);
    EXPECT_EQ(server.addClient(302, "127.0.0.1", 1, 0), &server.clients[10]);
    EXPECT_EQ(server.clientCount, 11);
}

TEST_F(ClientTable, OverlongAddressIsCutToTheBuffer) {
    const char* text = "123.123.123.123.123.123.123";
    ClientSlot* slot = server.addClient(100, text, 1, 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(std::string(slot->peerAddress), std::string(text, 19));
}

TEST_F(ClientTable, CloseAllClosesOccupiedSlotsInOrderAndKeepsTheCount) {
    for (int i = 0; i < 5; ++i) server.addClient(100 + i, "127.0.0.1", 1, 0);
    server.removeClient(&server.clients[1]);
    server.removeClient(&server.clients[3]);

    server.closeAllClients();
    EXPECT_EQ(fake::state().closed, (std::vector<Socket>{100, 102, 104}));
    for (const ClientSlot& slot : server.clients) EXPECT_LT(slot.socket, 0);
    EXPECT_EQ(server.clientCount, 3);
}

TEST_F(ClientTable, ReleaseBelowZeroEndsTheProcess) {
    server.listenSocket = 55;
    // The closes happen in the child; logging them shows esci's order.
    fake::state().closeSocket = [](Socket s) { writeLog("closed " + std::to_string(s), 2); };
    EXPECT_EXIT(server.removeClient(&server.clients[0]), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log.contents(), std::string(STAMP) +
                                  "xxx: Errore: numero di clients eliminati maggiore di quelli creati.\n"
                                  "    closed 55\n" +
                                  STAMP + "<<<< Uscita forzata [esci()] >>>>\n");
}

}  // namespace

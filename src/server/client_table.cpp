// The server object and its fixed table of client slots.
#include <cstring>

#include "log/log.h"
#include "platform/clock.h"
#include "server/http_server.h"

HttpServer::HttpServer(const char* name, const char* version, const char* date)
    : name(name), version(version), date(date) {
    clientCount = 0;
    stopRequested = 0;
    listenSocket = platform::NO_SOCKET;
    for (int i = 0; i < MAX_CLIENTS; ++i) {
        clients[i].index = i;
        clients[i].socket = platform::NO_SOCKET;
    }
}

ClientSlot* HttpServer::addClient(platform::Socket socket, const char* peerAddress, int peerPort,
                                  int keepOpen) {
    for (ClientSlot& slot : clients) {
        if (slot.socket >= 0) continue;
        slot.socket = socket;
        slot.connectTime = platform::currentTime();
        // A dotted IPv4 address has at most 15 characters; anything longer is
        // cut so the buffer always ends in a NUL.
        std::strncpy(slot.peerAddress, peerAddress ? peerAddress : "", sizeof slot.peerAddress - 1);
        slot.peerAddress[sizeof slot.peerAddress - 1] = '\0';
        slot.peerPort = peerPort;
        slot.keepOpen = keepOpen;
        slot.spare = 0;
        slot.request.clear();
        slot.receivedBytes = 0;
        slot.rawTail.clear();
        slot.headEnded = false;
        slot.readable = false;
        slot.acceptOrder = ++accepts;
        ++clientCount;
        return &slot;
    }
    return nullptr;
}

void HttpServer::removeClient(ClientSlot* slot) {
    slot->socket = platform::NO_SOCKET;
    // addClient starts the next request afresh; a long request's buffer (up
    // to 64 KiB) is not kept by a free slot, an ordinary one is reused.
    if (slot->request.capacity() > READ_CHUNK_BYTES) std::string().swap(slot->request);
    clientCount = clientCount - 1;
    if (clientCount < 0) {
        writeLog("xxx: Errore: numero di clients eliminati maggiore di quelli creati.", 0);
        esci();
    }
}

void HttpServer::closeAllClients() {
    for (ClientSlot& slot : clients) {
        if (slot.socket < 0) continue;
        platform::closeSocket(slot.socket);
        slot.socket = platform::NO_SOCKET;
    }
}

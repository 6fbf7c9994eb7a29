// The connection loop: one thread, one wait over the listener and every
// client, one request per connection.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "log/log.h"
#include "platform/clock.h"
#include "protocol/http_response.h"
#include "server/http_server.h"

bool addToMasterSet(platform::SocketSet& set, platform::Socket s) {
    if (platform::socketSetContains(set, s)) return false;
    if (set.count >= platform::SOCKET_SET_SIZE) return false;
    set.sockets[set.count++] = s;
    return true;
}

void removeFromMasterSet(platform::SocketSet& set, platform::Socket s) {
    for (unsigned i = 0; i < set.count; ++i) {
        if (set.sockets[i] != s) continue;
        for (unsigned j = i + 1; j < set.count; ++j) set.sockets[j - 1] = set.sockets[j];
        --set.count;
        return;
    }
}

namespace {

std::string dottedAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu,
                  (address >> 8) & 0xFFu, address & 0xFFu);
    return text;
}

// Writes one line made from a format holding "%s:%d" with the slot's peer.
void logPeer(const char* format, const ClientSlot& slot, int level) {
    char line[128];
    std::snprintf(line, sizeof line, format, slot.peerAddress, slot.peerPort);
    writeLog(line, level);
}

// Takes one pending connection into the table, or refuses it when the
// table is full.
void acceptOneClient(HttpServer& server, platform::SocketSet& master) {
    platform::Ipv4Endpoint peer;
    platform::Socket s = platform::acceptConnection(server.listenSocket, peer);
    if (s < 0) {
        int error = platform::lastSocketError();
        std::string reason = platform::errorDescription(error);
        char line[512];
        std::snprintf(line, sizeof line, "xxx- Errore nell'accept. %s - errno: %d\n", reason.c_str(), error);
        writeLog(line, 0);
        return;
    }

    std::string address = dottedAddress(peer.address);
    char peerText[32];
    std::snprintf(peerText, sizeof peerText, "%s:%d", address.c_str(), static_cast<int>(peer.port));

    ClientSlot* slot = server.addClient(s, address.c_str(), peer.port, 0);
    char line[128];
    if (!slot) {
        std::snprintf(line, sizeof line, "xxx: Connessione con %s non accettata (client %d/%d).\n", peerText,
                      server.clientCount, MAX_CLIENTS);
        writeLog(line, 1);
        platform::closeSocket(s);
        return;
    }
    addToMasterSet(master, s);
    std::snprintf(line, sizeof line, "Conn. %s", peerText);
    writeLog(line, 0);
}

}  // namespace

void HttpServer::run() {
    connectionLoop();
    closeAllClients();
    platform::closeSocket(listenSocket);
}

void HttpServer::connectionLoop() {
    stopRequested = 0;
    std::time_t sweepMark = platform::currentTime();
    platform::SocketSet master;
    master.count = 0;
    // The listener goes in even when open failed: the wait then fails on it
    // and the process ends through esci.
    master.sockets[master.count++] = listenSocket;
    std::string request;

    for (;;) {
        int stop = 0;
        platform::SocketSet ready = master;
        int result = platform::waitReadable(ready, LOOP_WAIT_SECONDS);
        if (result < 0) {
            int error = platform::lastSocketError();
            if (!platform::isInterruptedError(error)) {
                writeLog("xxx: Errore nel select:", 1);
                writeLog(platform::errorDescription(error), 2);
                esci();
            }
            // A signal is no reason to stop serving: wait again, unless a
            // stop was asked for.
            if (!stopRequested) continue;
            stop = 1;
            ready.count = 0;  // this wait found nothing to read
        } else if (result > 0) {
            if (platform::socketSetContains(ready, listenSocket)) acceptOneClient(*this, master);
        }

        std::time_t now = platform::currentTime();
        bool sweep = std::difftime(now, sweepMark) > SWEEP_INTERVAL_SECONDS;
        if (sweep) sweepMark = now;

        for (ClientSlot& slot : clients) {
            if (slot.socket < 0) continue;
            request.clear();
            if (platform::socketSetContains(ready, slot.socket)) {
                long received = readClientData(&slot, request);
                if (received >= static_cast<long>(MAX_REQUEST_BYTES)) {
                    // Nothing more is read from this client: it is answered
                    // with the rejection and closed.
                    char line[160];
                    std::snprintf(line, sizeof line,
                                  "xxx: request from %s:%d too long (%lu bytes or more):", slot.peerAddress,
                                  slot.peerPort, static_cast<unsigned long>(MAX_REQUEST_BYTES));
                    writeLog(line, 1);
                    writeLog(request, 1);
                    sendResponse(&slot, rejectionResponse());
                    stop = 0;
                    logPeer("Disc. %s:%d\n", slot, 2);
                    closeClient(&slot, master);
                } else if (received > 0) {
                    stop = handleRequest(&slot, request);
                    if (slot.keepOpen == 0) {
                        logPeer("Disc. %s:%d\n", slot, 2);
                        closeClient(&slot, master);
                    }
                } else if (received == 0) {
                    logPeer("Client %s:%d auto-disconnected\n", slot, 2);
                    closeClient(&slot, master);
                } else {
                    logPeer("General error on reading %s:%d\n", slot, 2);
                    closeClient(&slot, master);
                }
            } else if (sweep && slot.keepOpen == 0 &&
                       std::difftime(sweepMark, slot.connectTime) > IDLE_LIMIT_SECONDS) {
                logPeer("Disconnect Forced %s:%d\n", slot, 2);
                closeClient(&slot, master);
            }
        }

        if (stop != 0) return;
    }
}

void HttpServer::closeClient(ClientSlot* slot, platform::SocketSet& master) {
    platform::Socket s = slot->socket;
    platform::closeSocket(s);
    removeFromMasterSet(master, s);
    removeClient(slot);
}

long HttpServer::readClientData(ClientSlot* slot, std::string& request) {
    char buffer[READ_CHUNK_BYTES];
    long total = 0;
    for (;;) {
        long n = platform::receiveBytes(slot->socket, buffer, sizeof buffer);
        if (n <= 0) {
            // After at least one full chunk, nothing pending or the client's
            // close means the request was a whole number of chunks: it has
            // ended, it did not fail.
            if (total > 0 && (n == 0 || platform::isWouldBlockError(platform::lastSocketError())))
                return total;
            return n;
        }
        total += n;
        // A NUL byte ends what is taken from the chunk.
        const void* nul = std::memchr(buffer, '\0', static_cast<std::size_t>(n));
        request.append(buffer, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer)
                                   : static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(total) >= MAX_REQUEST_BYTES) return total;
        if (static_cast<std::size_t>(n) != sizeof buffer) return total;
    }
}

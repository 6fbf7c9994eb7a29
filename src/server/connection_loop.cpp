// The connection loop: one thread, one wait over the listener and every
// client, one request per connection.
#include <cstring>
#include <ctime>
#include <string>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "protocol/http_response.h"
#include "server/http_server.h"

namespace {

std::string dottedAddress(std::uint32_t address) {
    return std::to_string((address >> 24) & 0xFFu) + "." + std::to_string((address >> 16) & 0xFFu) + "." +
           std::to_string((address >> 8) & 0xFFu) + "." + std::to_string(address & 0xFFu);
}

// The sockets of one wait: the listener first, then every client in slot
// order; slotOf maps each client entry back to its slot.
struct WaitList {
    platform::WatchedSocket entries[MAX_CLIENTS + 1];
    ClientSlot* slotOf[MAX_CLIENTS + 1] = {};
    std::size_t count = 0;

    void add(platform::Socket socket, ClientSlot* slot) {
        entries[count].socket = socket;
        entries[count].readable = false;
        slotOf[count] = slot;
        ++count;
    }
};

}  // namespace

void HttpServer::run() {
    connectionLoop();
    closeAllClients();
    platform::closeSocket(listenSocket);
}

void HttpServer::connectionLoop() {
    stopRequested = 0;
    std::time_t sweepMark = platform::currentTime();
    bool readable[MAX_CLIENTS] = {};

    for (;;) {
        // The listener goes in even when open failed: the wait then fails on
        // it and the process ends through esci.
        WaitList waiting;
        waiting.add(listenSocket, nullptr);
        for (ClientSlot& slot : clients)
            if (slot.socket >= 0) waiting.add(slot.socket, &slot);

        const platform::WaitResult wait =
            platform::waitReadable(waiting.entries, waiting.count, LOOP_WAIT_MS);
        if (wait.status == platform::WaitStatus::Failed) {
            writeLog("xxx: Errore nel select:", 1);
            writeLog(wait.error.text, 2);
            esci();
        }
        // A signal is no reason to stop serving: wait again, unless a stop
        // was asked for.
        if (wait.status == platform::WaitStatus::Interrupted) {
            if (stopRequested) return;
            continue;
        }

        for (bool& flag : readable) flag = false;
        for (std::size_t i = 1; i < waiting.count; ++i)
            readable[waiting.slotOf[i]->index] = waiting.entries[i].readable;
        if (waiting.entries[0].readable) acceptClient();

        const std::time_t now = platform::currentTime();
        const bool sweep = std::difftime(now, sweepMark) > SWEEP_INTERVAL_SECONDS;
        if (sweep) sweepMark = now;

        for (ClientSlot& slot : clients) {
            if (slot.socket < 0) continue;
            if (readable[slot.index]) {
                serveClient(slot);
            } else if (sweep && slot.keepOpen == 0 &&
                       std::difftime(sweepMark, slot.connectTime) > IDLE_LIMIT_SECONDS) {
                writeLogf(2, "Disconnect Forced %s:%d\n", slot.peerAddress, slot.peerPort);
                closeClient(slot);
            }
        }
    }
}

void HttpServer::acceptClient() {
    const platform::Accepted accepted = platform::acceptConnection(listenSocket);
    if (accepted.status != platform::IoStatus::Ok) {
        writeLogf(0, "xxx- Errore nell'accept. %s - errno: %d\n", accepted.error.text.c_str(),
                  accepted.error.number);
        return;
    }

    const std::string address = dottedAddress(accepted.peer.address);
    const std::string peerText = address + ":" + std::to_string(accepted.peer.port);
    if (!addClient(accepted.socket, address.c_str(), accepted.peer.port, 0)) {
        writeLogf(1, "xxx: Connessione con %s non accettata (client %d/%d).\n", peerText.c_str(), clientCount,
                  MAX_CLIENTS);
        platform::closeSocket(accepted.socket);
        return;
    }
    writeLogf(0, "Conn. %s", peerText.c_str());
}

void HttpServer::serveClient(ClientSlot& slot) {
    std::string request;
    const long received = readClientData(slot, request);
    if (received == 0) {
        writeLogf(2, "Client %s:%d auto-disconnected\n", slot.peerAddress, slot.peerPort);
        closeClient(slot);
        return;
    }
    if (received < 0) {
        writeLogf(2, "General error on reading %s:%d\n", slot.peerAddress, slot.peerPort);
        closeClient(slot);
        return;
    }

    HandledRequest handled;
    if (static_cast<std::size_t>(received) >= MAX_REQUEST_BYTES) {
        // Nothing more is read from this client: it is answered with the
        // rejection and closed.
        writeLogf(1, "xxx: request from %s:%d too long (%lu bytes or more):", slot.peerAddress, slot.peerPort,
                  static_cast<unsigned long>(MAX_REQUEST_BYTES));
        writeLog(escapeForLog(request), 1);
        handled = HandledRequest{RequestAction::Answer, rejectionResponse()};
    } else {
        handled = handleRequest(request, requests);
    }

    if (handled.action != RequestAction::NoAnswer) answer(slot, handled.answer);
    if (handled.action == RequestAction::Quit) {
        platform::closeSocket(slot.socket);
        platform::exitProcess(0);
    }
    if (slot.keepOpen == 0) {
        writeLogf(2, "Disc. %s:%d\n", slot.peerAddress, slot.peerPort);
        closeClient(slot);
    }
}

void HttpServer::answer(const ClientSlot& slot, const HTTPResponse& response) {
    const std::string text = response.serialize();
    // One send; a client that does not take the whole answer at once has
    // gone or is not reading.
    platform::sendBytes(slot.socket, text.data(), text.size());
    writeLog("response: " + escapeForLog(response.body) + "\n", 0);
}

void HttpServer::closeClient(ClientSlot& slot) {
    platform::closeSocket(slot.socket);
    removeClient(&slot);
}

long HttpServer::readClientData(ClientSlot& slot, std::string& request) {
    char buffer[READ_CHUNK_BYTES];
    long total = 0;
    for (;;) {
        const platform::IoResult read = platform::receiveBytes(slot.socket, buffer, sizeof buffer);
        if (read.status != platform::IoStatus::Ok) {
            // After at least one full chunk, nothing pending or the client's
            // close means the request was a whole number of chunks: it has
            // ended, it did not fail.
            if (total > 0 && read.status != platform::IoStatus::Failed) return total;
            return read.status == platform::IoStatus::Closed ? 0 : -1;
        }
        total += static_cast<long>(read.count);
        // A NUL byte ends what is taken from the chunk.
        const void* nul = std::memchr(buffer, '\0', read.count);
        request.append(buffer,
                       nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : read.count);
        if (static_cast<std::size_t>(total) >= MAX_REQUEST_BYTES) return total;
        if (read.count != sizeof buffer) return total;
    }
}

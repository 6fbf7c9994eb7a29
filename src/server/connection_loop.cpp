// The connection loop: one thread, one wait over the listener and every
// client, one request per connection.
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

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

// Whether the blank line that ends a request's head ends within data, given
// tail, the last (up to three) raw bytes before it; tail becomes the last
// three bytes after it. The chunk itself is searched in place.
bool headEndsIn(std::string& tail, const char* data, std::size_t count) {
    static const std::string_view END = "\r\n\r\n";
    std::string seam = tail;
    seam.append(data, count < 3 ? count : 3);
    const bool found = seam.find(END) != std::string::npos ||
                       std::string_view(data, count).find(END) != std::string_view::npos;
    if (count >= 3) {
        tail.assign(data + count - 3, 3);
    } else {
        tail.append(data, count);
        if (tail.size() > 3) tail.erase(0, tail.size() - 3);
    }
    return found;
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

    for (;;) {
        // The listener goes in even when open failed: the wait then fails on
        // it and the process ends through esci. It stays out while accepts
        // pause for want of descriptors.
        WaitList waiting;
        long waitMs = LOOP_WAIT_MS;
        const std::int64_t pauseLeft = listenerPausedUntil - platform::monotonicMilliseconds();
        if (pauseLeft > 0) {
            waitMs = static_cast<long>(pauseLeft);
        } else {
            waiting.add(listenSocket, nullptr);
        }
        for (ClientSlot& slot : clients) {
            if (slot.socket < 0) continue;
            waiting.add(slot.socket, &slot);
            // An incomplete request is watched every second for its limit.
            if (slot.receivedBytes > 0 && waitMs > INCOMPLETE_CHECK_MS) waitMs = INCOMPLETE_CHECK_MS;
        }

        const platform::WaitResult wait = platform::waitReadable(waiting.entries, waiting.count, waitMs);
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

        bool listenerReady = false;
        for (std::size_t i = 0; i < waiting.count; ++i) {
            if (waiting.slotOf[i]) {
                waiting.slotOf[i]->readable = waiting.entries[i].readable;
            } else {
                listenerReady = waiting.entries[i].readable;
            }
        }
        if (listenerReady) acceptClient();

        const std::time_t now = platform::currentTime();
        const bool sweep = std::difftime(now, sweepMark) > SWEEP_INTERVAL_SECONDS;
        if (sweep) sweepMark = now;

        for (ClientSlot& slot : clients) {
            if (slot.socket < 0) continue;
            if (slot.readable) {
                serveClient(slot);
                if (slot.socket < 0) continue;  // answered, or gone
            }
            // A request still incomplete after its limit is closed, also when
            // it keeps trickling in; a silent client waits for the sweep.
            const bool tooLong = slot.receivedBytes > 0
                                     ? std::difftime(now, slot.connectTime) > INCOMPLETE_LIMIT_SECONDS
                                     : !slot.readable && sweep && slot.keepOpen == 0 &&
                                           std::difftime(sweepMark, slot.connectTime) > IDLE_LIMIT_SECONDS;
            if (tooLong) {
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
        // The pending connection stays pending and the listener readable:
        // rest it a little instead of failing again at full speed.
        if (accepted.error.kind == platform::ErrorKind::NoDescriptors)
            listenerPausedUntil = platform::monotonicMilliseconds() + ACCEPT_PAUSE_MS;
        return;
    }

    const std::string address = dottedAddress(accepted.peer.address);
    const std::string peerText = address + ":" + std::to_string(accepted.peer.port);
    ClientSlot* slot = addClient(accepted.socket, address.c_str(), accepted.peer.port, 0);
    // A full table must not lock pages out: a client that has not sent a
    // whole request gives its slot to the newcomer.
    if (!slot && evictWaitingClient())
        slot = addClient(accepted.socket, address.c_str(), accepted.peer.port, 0);
    if (!slot) {
        writeLogf(1, "xxx: Connessione con %s non accettata (client %d/%d).\n", peerText.c_str(), clientCount,
                  MAX_CLIENTS);
        platform::closeSocket(accepted.socket);
        return;
    }
    writeLogf(0, "Conn. %s", peerText.c_str());
}

bool HttpServer::evictWaitingClient() {
    // Every request that is whole is answered and closed in the pass that
    // completes it, so a slot that stays open is waiting for one.
    ClientSlot* oldest = nullptr;
    for (ClientSlot& slot : clients) {
        if (slot.socket < 0 || slot.keepOpen != 0) continue;
        // The order of the accepts, not the clock's whole seconds: a page
        // that came after a burst must not lose a tie to it.
        if (!oldest || slot.acceptOrder < oldest->acceptOrder) oldest = &slot;
    }
    if (!oldest) return false;
    writeLogf(2, "Disconnect Forced %s:%d\n", oldest->peerAddress, oldest->peerPort);
    closeClient(*oldest);
    return true;
}

namespace {

// "GET" or the start of it: a request line that may still be on its way.
bool mayBeginHttpRequest(const std::string& text) {
    const std::size_t n = text.size() < 3 ? text.size() : 3;
    return n > 0 && text.compare(0, n, "GET", n) == 0;
}

}  // namespace

void HttpServer::serveClient(ClientSlot& slot) {
    switch (readClientData(slot)) {
        case ReadOutcome::Nothing:
            if (slot.receivedBytes > 0) return;  // still waiting for the rest
            [[fallthrough]];                     // readable, yet nothing to read
        case ReadOutcome::Failed:
            writeLogf(2, "General error on reading %s:%d\n", slot.peerAddress, slot.peerPort);
            closeClient(slot);
            return;
        case ReadOutcome::Closed:
            // A request that was on its way is complete once the client closes.
            if (slot.receivedBytes > 0) break;
            writeLogf(2, "Client %s:%d auto-disconnected\n", slot.peerAddress, slot.peerPort);
            closeClient(slot);
            return;
        case ReadOutcome::Data:
            // TCP may split a request anywhere: one that began like HTTP waits
            // for the blank line that ends its head.
            if (mayBeginHttpRequest(slot.request) && !slot.headEnded &&
                slot.receivedBytes < MAX_REQUEST_BYTES)
                return;
            break;
    }
    handleAndClose(slot);
}

void HttpServer::handleAndClose(ClientSlot& slot) {
    HandledRequest handled;
    if (slot.receivedBytes >= MAX_REQUEST_BYTES) {
        // Nothing more is read from this client: it is answered with the
        // rejection and closed.
        writeLogf(1, "xxx: request from %s:%d too long (%lu bytes or more):", slot.peerAddress, slot.peerPort,
                  static_cast<unsigned long>(MAX_REQUEST_BYTES));
        writeLog(escapeForLog(slot.request), 1);
        handled = HandledRequest{RequestAction::Answer, rejectionResponse()};
    } else {
        handled = handleRequest(slot.request, requests);
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

HttpServer::ReadOutcome HttpServer::readClientData(ClientSlot& slot) {
    char buffer[READ_CHUNK_BYTES];
    bool gotData = false;
    while (slot.receivedBytes < MAX_REQUEST_BYTES) {
        const platform::IoResult read = platform::receiveBytes(slot.socket, buffer, sizeof buffer);
        if (read.status == platform::IoStatus::Failed) return ReadOutcome::Failed;
        if (read.status == platform::IoStatus::Closed) return ReadOutcome::Closed;
        if (read.status == platform::IoStatus::WouldBlock) break;

        slot.receivedBytes += read.count;
        gotData = true;
        // The head's end is looked for in the raw bytes: a NUL ends the text
        // that is handled, but must not hide the blank line.
        if (!slot.headEnded) slot.headEnded = headEndsIn(slot.rawTail, buffer, read.count);
        // A NUL byte ends what is taken from the chunk.
        const void* nul = std::memchr(buffer, '\0', read.count);
        slot.request.append(
            buffer, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : read.count);
        if (read.count != sizeof buffer) break;
    }
    return gotData ? ReadOutcome::Data : ReadOutcome::Nothing;
}

// The listening socket on 127.0.0.1 and the forced exit of the server.
#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "server/http_server.h"
#include "server/socket_library.h"

namespace {

constexpr int BIND_ATTEMPTS = 4;
constexpr unsigned BIND_RETRY_PAUSE_MS = 15000;
// Room for a burst of pages: with a queue of 5, twenty clients at once
// overflowed it, and the dropped connection attempts came back only after
// the system's retransmission delay (a long tail of hundreds of ms).
constexpr int LISTEN_BACKLOG = 511;

}  // namespace

platform::Socket HttpServer::open(int port) {
    this->port = port;
    listenSocket = createListenSocket(listenAddress);
    return listenSocket;
}

platform::Socket HttpServer::createListenSocket(platform::Ipv4Endpoint& address) {
    if (!startSocketLibraryVersion20()) return platform::NO_SOCKET;

    platform::SystemError error;
    platform::Socket s = platform::openTcpSocket(error);
    if (s < 0) {
        writeLog("xxx: socket error. STOP", 1);
        esci();
    }
    if (!platform::setNonBlocking(s)) {
        writeLog("xxx: setting non-blocking socket error. STOP", 1);
        esci();
    }
    if (!platform::claimPort(s)) {
        writeLog("xxx: socket option error. STOP", 1);
        esci();
    }

    address = platform::Ipv4Endpoint{};
    address.address = platform::LOOPBACK_ADDRESS;
    address.port = static_cast<std::uint16_t>(port & 0xFFFF);

    // A previous instance may still be letting go of the port: try a few
    // times before giving up.
    bool bound = false;
    for (int attempt = 0; attempt < BIND_ATTEMPTS; ++attempt) {
        if (platform::bindSocket(s, address, error)) {
            bound = true;
            break;
        }
        writeLogf(1, "xxx: bind error (port %d already opened?) - %s", port, error.text.c_str());
        platform::sleepMilliseconds(BIND_RETRY_PAUSE_MS);
    }
    if (!bound) {
        writeLog("xxx: error on bind. STOP", 0);
        esci();
    }

    if (!platform::listenOn(s, LISTEN_BACKLOG)) {
        writeLog("xxx: listen error. STOP", 1);
        esci();
    }

    writeLogf(1, "Server listening on port: %d\n", port);
    return s;
}

void HttpServer::esci() {
    // While the listener is being created listenSocket is still unset, and
    // there is nothing to close.
    if (listenSocket >= 0) platform::closeSocket(listenSocket);
    writeLog("<<<< Uscita forzata [esci()] >>>>", 0);
    platform::exitProcess(1);
}

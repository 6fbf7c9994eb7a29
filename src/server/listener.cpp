// The listening socket on 127.0.0.1 and the forced exit of the server.
#include <cstdio>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "server/http_server.h"
#include "server/socket_library.h"

namespace {

constexpr int BIND_ATTEMPTS = 4;
constexpr unsigned BIND_RETRY_PAUSE_MS = 15000;

}  // namespace

platform::Socket HttpServer::open(int port) {
    this->port = port;
    listenSocket = createListenSocket(listenAddress);
    return listenSocket;
}

platform::Socket HttpServer::createListenSocket(platform::Ipv4Endpoint& address) {
    if (!startSocketLibraryVersion20()) return platform::NO_SOCKET;

    platform::Socket s = platform::openTcpSocket();
    if (s < 0) {
        writeLog("xxx: socket error. STOP", 1);
        esci();
    }
    if (platform::setNonBlocking(s) != 0) {
        writeLog("xxx: setting non-blocking socket error. STOP", 1);
        esci();
    }
    if (platform::setReuseAddress(s) < 0) {
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
        if (platform::bindSocket(s, address) >= 0) {
            bound = true;
            break;
        }
        std::string reason = platform::errorDescription(platform::lastSocketError());
        char line[512];
        std::snprintf(line, sizeof line, "xxx: bind error (port %d already opened?) - %s", port,
                      reason.c_str());
        writeLog(line, 1);
        platform::sleepMilliseconds(BIND_RETRY_PAUSE_MS);
    }
    if (!bound) {
        writeLog("xxx: error on bind. STOP", 0);
        esci();
    }

    if (platform::listenOn(s, 5) < 0) {
        writeLog("xxx: listen error. STOP", 1);
        esci();
    }

    char line[64];
    std::snprintf(line, sizeof line, "Server listening on port: %d\n", port);
    writeLog(line, 1);
    return s;
}

void HttpServer::esci() {
    // While the listener is being created listenSocket is still unset, and
    // there is nothing to close.
    if (listenSocket >= 0) platform::closeSocket(listenSocket);
    writeLog("<<<< Uscita forzata [esci()] >>>>", 0);
    platform::exitProcess(1);
}

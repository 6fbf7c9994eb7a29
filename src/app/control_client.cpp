#include "app/control_client.h"

#include <cstring>

#include "log/log.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "server/http_server.h"
#include "server/socket_library.h"

int sendControlMessage(const char* text) {
    if (!startSocketLibraryVersion20()) platform::exitProcess(1);

    platform::Ipv4Endpoint peer;
    peer.address = platform::LOOPBACK_ADDRESS;
    peer.port = static_cast<std::uint16_t>(LAUNCHER_PORT);

    platform::SystemError error;
    platform::Socket s = platform::openTcpSocket(error);
    if (s == platform::NO_SOCKET) {
        writeLog("socket error", 0);
        platform::exitProcess(1);
    }

    if (!platform::connectTo(s, peer, CONTROL_CLIENT_TIMEOUT_MS, error)) {
        writeLog("connect error", 0);
        platform::closeSocket(s);
        return -1;
    }

    if (platform::sendBytes(s, text, std::strlen(text)).status != platform::IoStatus::Ok) {
        writeLog("send error", 0);
        platform::closeSocket(s);
        return -1;
    }

    // A listener that takes the connection and never answers must not hold
    // the caller: a receive that times out counts as a failed receive. If the
    // bound cannot be set the receive still runs, as it would without one.
    platform::setReceiveTimeout(s, CONTROL_CLIENT_TIMEOUT_MS);
    char reply[2048];
    const platform::IoStatus received = platform::receiveBytes(s, reply, sizeof reply).status;
    if (received != platform::IoStatus::Ok && received != platform::IoStatus::Closed) {
        writeLog("recv error", 0);
        platform::closeSocket(s);
        return -1;
    }

    platform::closeSocket(s);
    return 0;
}

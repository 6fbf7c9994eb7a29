#include "app/control_client.h"

#include <cstring>
#include <string>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "protocol/http_response.h"
#include "server/http_server.h"
#include "server/socket_library.h"

namespace {

enum class Reply { Arrived, Foreign, Failed };

// Reads until the launcher's rejection status line has arrived, something
// else has, or the time is up.
Reply awaitLauncherRejection(platform::Socket s) {
    const std::string expected = BAD_REQUEST_HEADER;
    const std::int64_t deadline = platform::monotonicMilliseconds() + CONTROL_CLIENT_TIMEOUT_MS;
    std::string reply;
    char buffer[2048];
    while (reply.size() < expected.size()) {
        const std::int64_t left = deadline - platform::monotonicMilliseconds();
        if (left <= 0) return Reply::Failed;
        platform::setReceiveTimeout(s, static_cast<int>(left));
        const platform::IoResult read = platform::receiveBytes(s, buffer, sizeof buffer);
        if (read.status == platform::IoStatus::Failed || read.status == platform::IoStatus::WouldBlock)
            return Reply::Failed;
        if (read.status == platform::IoStatus::Closed) return Reply::Foreign;
        reply.append(buffer, read.count);
        if (reply.compare(0, expected.size(), expected, 0, reply.size()) != 0) return Reply::Foreign;
    }
    return Reply::Arrived;
}

Reply awaitAnyReply(platform::Socket s) {
    // A listener that takes the connection and never answers must not hold
    // the caller: a receive that times out counts as a failed receive. If the
    // bound cannot be set the receive still runs, as it would without one.
    platform::setReceiveTimeout(s, CONTROL_CLIENT_TIMEOUT_MS);
    char reply[2048];
    const platform::IoStatus received = platform::receiveBytes(s, reply, sizeof reply).status;
    return received == platform::IoStatus::Ok || received == platform::IoStatus::Closed ? Reply::Arrived
                                                                                        : Reply::Failed;
}

}  // namespace

int sendControlMessage(const char* text, ExpectedReply expected) {
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

    const Reply reply = expected == ExpectedReply::Any ? awaitAnyReply(s) : awaitLauncherRejection(s);
    platform::closeSocket(s);
    if (reply == Reply::Failed) {
        writeLog("recv error", 0);
        return -1;
    }
    if (reply == Reply::Foreign) {
        // Another program holds the port: this process goes on to bind it,
        // fails, and says so, instead of ending as if a launcher served.
        writeLog("recv error: the answer is not a launcher's", 0);
        return -1;
    }
    return 0;
}

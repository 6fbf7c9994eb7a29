#include <string>

#include "launch/launch.h"
#include "log/log.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "protocol/control_words.h"
#include "protocol/http_response.h"
#include "protocol/request_params.h"
#include "protocol/response_body.h"
#include "server/http_server.h"

namespace {

const std::size_t QUIT_WORD_LENGTH = sizeof QUIT_WORD - 1;

}  // namespace

bool isGetAppStatus(const RequestParams& params) {
    return params.command == "getAppStatus";
}

bool isStartZanfiro(const RequestParams& params) {
    return params.command == "startZanfiro";
}

int HttpServer::handleRequest(ClientSlot* slot, const std::string& request) {
    if (request.size() >= QUIT_WORD_LENGTH && request.compare(0, QUIT_WORD_LENGTH, QUIT_WORD) == 0) {
        writeLog("[HTTPServer::handleRequest] quit received!", 1);
        // The answer goes out first, so the stopping process learns that we heard it.
        sendResponse(slot, rejectionResponse());
        if (slot) platform::closeSocket(slot->socket);
        platform::exitProcess(0);
    }

    const RequestParams params(extractUrl(request));

    if (params.requestId.empty()) {
        writeLog("[HTTPServer::handleRequest] not HTTP request or valid command:", 1);
        writeLog(request, 1);
        sendResponse(slot, rejectionResponse());
        return 0;
    }

    // The callback becomes code in the page; only a plain function name or
    // name path is echoed back.
    if (!params.callback.empty() && !isValidCallback(params.callback)) {
        writeLog("[HTTPServer::handleRequest] invalid callback name:", 1);
        writeLog(request, 1);
        sendResponse(slot, rejectionResponse());
        return 0;
    }

    if (isGetAppStatus(params)) {
        sendResponse(slot, HTTPResponse(buildResponseBody(params, "Installed")));
    }
    if (isStartZanfiro(params)) {
        std::string status = "StartingZanfiro";
        if (!launchZanfiro(params.userId)) status = "FailedStartingZanfiro";
        sendResponse(slot, HTTPResponse(buildResponseBody(params, status)));
    }
    return 0;
}

void HttpServer::sendResponse(ClientSlot* slot, HTTPResponse response) {
    if (!slot || slot->socket < 0) return;
    const std::string text = response.serialize();
    platform::sendBytes(slot->socket, text.data(), text.size());
    writeLog("response: " + response.body + "\n", 0);
}
